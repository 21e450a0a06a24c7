// Debug-service messages: every layout round-trips, wire images of chosen messages match bytes
// written out by hand, and damaged or hostile input ends in a status, never in a wrong read.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "onl/ydbservice/upp_debservice.h"
#include "ydb_fixture.h"

namespace {

using namespace ydb_testing;
using testing_support::ydb_element_calls;

Upp_DebVar var(uint32_t addrType, uint32_t dataType, uint64_t value, uint32_t result = 0) {
    Upp_DebVar v;
    v.m_AddrType = addrType;
    v.m_AddrA = 0x1000u + addrType;
    v.m_AddrB = 0x2000u + dataType;
    if (addrType == 2) {
        v.m_Name.append("axis.pos", 8);
    }
    v.m_DataType = dataType;
    v.m_Value = value;
    v.m_Result = result;
    return v;
}

// One variable of every address type and every kind of value.
std::vector<Upp_DebVar> mixed_vars() {
    std::vector<Upp_DebVar> vars;
    vars.push_back(var(0, 0, 0xAB, 1));
    vars.push_back(var(1, 1, 0xABCD, 2));
    vars.push_back(var(2, 2, 0x12345678));
    vars.push_back(var(3, 3, 0x0102030405060708ull));
    vars.push_back(var(5, 8, 0x3FC00000));
    Upp_DebVar block = var(6, 0, 0);
    block.setBlock(5);
    std::memcpy(block.buffer(), "\x01\x02\x03\x04\x05", 5);
    vars.push_back(block);
    Upp_DebVar text = var(4, 0, 0, 3);
    text.setString(8);
    text.setStringValue("abc", 3);
    vars.push_back(text);
    vars.push_back(var(1, 12, 0x1111111122222222ull));
    vars.push_back(var(-1u, 13, 0));
    return vars;
}

std::vector<const Upp_DebVar*> elements(const Upp_DebVarList& list) {
    std::vector<const Upp_DebVar*> r;
    for (const Gen_ExListElem* e = list.m_pHead; e != nullptr; e = e->m_pNext) {
        r.push_back(static_cast<const Upp_DebVar*>(e));
    }
    return r;
}

std::string value_of(const Upp_DebVar& v) {
    if (v.buffer() != nullptr) {
        return std::string(reinterpret_cast<const char*>(v.buffer()), v.bufferLength());
    }
    return std::to_string(v.m_Value);
}

// A response of one service type.
struct Response : Upp_DebVarService {
    explicit Response(uint32_t type) : Upp_DebVarService(1, -1) {
        setServiceType(type);
        setResponse();
    }
};

class UppMessageTest : public YdbTest {
  protected:
    // The message written into a fresh data object.
    Bytes image(Upp_DebVarService& m) {
        auto d = fresh();
        Gen_ExStream s(d.get());
        m.write(s);
        EXPECT_TRUE(s.good());
        return contents(d);
    }
    // Reads bytes into m; returns the result of read.
    bool read_into(Upp_DebVarService& m, const Bytes& bytes) {
        auto d = holding(bytes);
        Gen_ExStream s(d.get());
        return m.read(s);
    }
};

struct LayoutCase {
    uint32_t variant;
    bool response;
    uint32_t serviceType;
    uint32_t layout;
    bool result, address, value;
};

TEST_F(UppMessageTest, EveryLayoutReadsBackWhatWasWritten) {
    const LayoutCase cases[] = {
        {1, false, 2, 0, false, true, false}, {1, true, 11, 1, true, true, true},
        {0, false, 3, 2, false, true, true},  {0, true, 11, 3, true, true, false},
        {1, true, 9, 6, true, false, true},   {1, true, 60, 7, true, false, true},
        {0, true, 83, 8, true, false, false},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "layout " << c.layout);
        Upp_DebVarService out(c.variant, -1);
        out.setServiceType(c.serviceType);
        if (c.response) {
            out.setResponse();
        }
        ASSERT_EQ(out.m_VarList.m_Layout, c.layout);
        const auto vars = mixed_vars();
        for (const Upp_DebVar& v : vars) {
            out.m_VarList.add(v);
        }
        if (c.layout == 7) {
            out.m_VarList.m_Extra = 0xCAFE;
            out.m_VarList.allocSelection(out.m_VarList.m_Count);
            for (uint32_t i : {0u, 2u, 5u, 6u, 8u}) {
                out.m_VarList.select(i);
            }
        }
        const Bytes bytes = image(out);

        // Layouts 6 and 7 carry values of variables the reader already holds.
        Upp_DebVarService back(c.variant, -1);
        if (c.layout == 6 || c.layout == 7) {
            for (Upp_DebVar v : mixed_vars()) {
                v.m_Value = 0;
                v.m_Result = 10;
                if (v.m_DataType == Upp_DataVariant::kString) {
                    v.setStringValue("", 0);
                } else if (v.buffer() != nullptr) {
                    std::memset(v.buffer(), 0, v.bufferLength());
                }
                back.m_VarList.add(v);
            }
        }
        ASSERT_TRUE(read_into(back, bytes));
        EXPECT_EQ((std::vector<uint32_t>{back.m_Status, back.m_bResponse, back.m_ServiceType,
                                         back.m_VarList.m_Layout}),
                  (std::vector<uint32_t>{0, c.response, c.serviceType, c.layout}));
        const auto got = elements(back.m_VarList);
        ASSERT_EQ(got.size(), vars.size());
        // Sizes follow the data types, which only layouts with an address carry.
        if (c.address) {
            EXPECT_EQ(back.m_VarList.m_DataSize, out.m_VarList.m_DataSize);
        }
        for (size_t i = 0; i < vars.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "variable " << i);
            const bool carried = c.layout != 7 || back.m_VarList.isSelected(uint32_t(i));
            EXPECT_EQ(c.layout == 7 && !carried,
                      c.layout == 7 && !out.m_VarList.isSelected(uint32_t(i)));
            if (c.result) {
                EXPECT_EQ(got[i]->m_Result, carried ? vars[i].m_Result : 10u);
            }
            if (c.address) {  // the address parts its type carries
                const auto address = [](const Upp_DebVar& v) {
                    const uint32_t t = v.m_AddrType;
                    return std::vector<uint64_t>{
                        t,
                        v.m_DataType,
                        v.dataSize(),
                        std::hash<std::string>()(reinterpret_cast<const char*>(v.m_Name.data())),
                        t >= 1 && t <= 4 ? v.m_AddrA : 0,
                        t == 0 || (t >= 3 && t <= 5) ? v.m_AddrB : 0,
                        t == 0 || t == 5 ? v.addrHi() : 0u,
                        t == 5 ? v.addrLo() : 0u};
                };
                EXPECT_EQ(address(*got[i]), address(vars[i]));
            }
            if (c.value && carried) {
                EXPECT_EQ(value_of(*got[i]), value_of(vars[i]));
            }
        }
    }
}

// Wire images of chosen responses, written out by hand.
TEST_F(UppMessageTest, ResponsesCarryWhatTheirServiceTypeAsks) {
    Response t11(11);  // a count, then result, address, type and value of each variable
    Upp_DebVar a = var(1, 2, 0xAABBCCDD);
    a.m_AddrA = 0x11223344;
    t11.m_VarList.add(a);
    Upp_DebVar b = var(0, 0, 0, 1);
    b.m_AddrB = 0x01020304;
    b.setAddrHi(0x0506);
    b.setString(4);
    b.setStringValue("hi", 2);
    t11.m_VarList.add(b);
    EXPECT_EQ(image(t11), (Bytes{1, 11} + le({2}) +
                           Bytes{0, 1, 0x44, 0x33, 0x22, 0x11, 2, 0xDD, 0xCC, 0xBB, 0xAA} +
                           Bytes{1, 0, 4, 3, 2, 1, 6, 5, 11, 4, 2, 'h', 'i'}));
    EXPECT_EQ(t11.m_VarList.m_DataSize, 4u + 6u);
    t11.m_Status = 4;  // a status, and no variables
    EXPECT_EQ(image(t11), (Bytes{1, 11}));

    Response t9(9);  // no count: result and value
    t9.m_VarList.add(var(1, 0, 0x7F));
    t9.m_VarList.add(var(1, 5, 0x1234, 3));
    EXPECT_EQ(image(t9), (Bytes{1, 9, 0, 0x7F, 3, 0x34, 0x12}));
}

TEST_F(UppMessageTest, FloatVariableTravelsAsU32) {
    Response m(9);
    m.m_VarList.add(var(1, 8, 0x3FC00000));  // 1.5f
    auto d = fresh();
    Gen_ExStream s(d.get());
    m.write(s);
    EXPECT_EQ(contents(d), (Bytes{1, 9, 0, 0x00, 0x00, 0xC0, 0x3F}));
    const auto calls = ydb_element_calls(d);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[3].typeCode, 5u);
    EXPECT_EQ(calls[3].width, 4u);
}

TEST_F(UppMessageTest, ResponseOfType60CarriesOnlyTheSelectedVariables) {
    Response m(60);
    for (uint64_t i = 0; i < 9; ++i) {
        m.m_VarList.add(var(1, 4, i));
    }
    m.m_VarList.m_Extra = 0xCAFE;
    m.m_VarList.allocSelection(9);
    m.m_VarList.select(0);
    m.m_VarList.select(8);
    const Bytes expected = Bytes{1, 60} + le({0xCAFE}) + Bytes{0x01, 0x01, 0, 0, 0, 8};
    EXPECT_EQ(image(m), expected);

    // A reader whose bit set was made for another count reads no variables.
    Upp_DebVarService wrong(1, -1);
    for (uint64_t i = 0; i < 9; ++i) {
        wrong.m_VarList.add(var(1, 4, 99));
    }
    wrong.m_VarList.allocSelection(20);
    EXPECT_TRUE(read_into(wrong, expected));
    EXPECT_EQ(wrong.m_VarList.m_Error, 2u);
    EXPECT_EQ(wrong.m_Status, 4u);
    EXPECT_EQ(elements(wrong.m_VarList)[0]->m_Value, 99u);
}

TEST_F(UppMessageTest, RequestOfType2CarriesTheJobDescription) {
    Upp_DebVarService one(1, -1);
    one.setServiceType(2);
    one.m_JobDescr.m_JobType = 1;
    one.m_JobDescr.m_Param = 500;
    Upp_DebVar v = var(1, 6, 0);
    v.m_AddrA = 7;
    one.m_VarList.add(v);
    EXPECT_EQ(image(one), (Bytes{0, 2, 0, 1} + le({500, 1}) + Bytes{1, 7, 0, 0, 0, 6}));

    Upp_DebVarService two(1, -1);
    two.setServiceType(2);
    Upp_DebJobDescr& j = two.m_JobDescr;
    j.m_Kind = 2;
    j.m_JobType = 2;
    j.m_Name.append("J1", 2);
    j.m_ValA = 1;
    j.m_ValB = 2;
    j.m_ValD = 3;
    Upp_DebInstrId id;
    id.m_InstrA = 5;
    id.m_InstrB = 6;
    j.m_InstrIds.add(id);
    j.m_Options = 1;
    Bytes ident;
    for (int i = 0; i < 16; ++i) {
        ident.push_back(j.m_Ident[i] = static_cast<uint8_t>(0xA0 + i));
    }
    j.m_ValE = 9;
    j.m_ValF = 10;
    two.m_VarList.add(var(6, 13, 0));
    // kind, type, name, values A, B, D, the instruction ids, options, ident, E, F, variables
    const Bytes expected = Bytes{0, 2, 2, 2} + le({2}) + Bytes{'J', '1'} +
                           le({1, 2, 3, 1, 5, 6, 1}) + ident + le({9, 10, 1}) + Bytes{6, 13};
    EXPECT_EQ(image(two), expected);

    // Kind 2 tags every variable read with -2; the kind becomes the request qualifier.
    Upp_DebVarService back(1, -1);
    ASSERT_TRUE(read_into(back, expected));
    EXPECT_EQ(
        (std::vector<uint32_t>{back.m_ReqQualifier, back.m_JobDescr.m_ValE,
                               back.m_JobDescr.m_Ident[15], back.m_JobDescr.m_InstrIds.m_Count}),
        (std::vector<uint32_t>{2, 9, 0xAF, 1}));
    ASSERT_EQ(back.m_VarList.m_Count, 1u);
    EXPECT_EQ((std::vector<int>{back.m_VarList.m_Tag, elements(back.m_VarList)[0]->m_Tag}),
              (std::vector<int>{-2, -2}));
    // A layout-0 list of a service type other than 1 gets its bit set.
    EXPECT_TRUE(back.m_VarList.hasSelection());
}

TEST_F(UppMessageTest, RequestsAndQualifiersOfOtherServiceTypes) {
    struct Case {
        bool response;
        uint32_t type;
        uint32_t flags, value, req, rsp;
        Bytes bytes;
    };
    const Case cases[] = {
        {false, 9, 2, 0x01020304, 0, 0, {0, 9, 2, 4, 3, 2, 1}},
        {false, 60, 1, 0x01020304, 0, 0, {0, 60, 1}},
        {false, 66, 0, 0, 0xFFFFFFFF, 0, {0, 66, 0xFF}},
        {true, 15, 0, 0, 0, 7, {1, 15, 7}},
        {true, 12, 0, 0, 0, 0, {1, 12}},
        {false, 4, 0, 0, 0, 0, {0, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type);
        Upp_DebVarService m(1, -1);
        m.setServiceType(c.type);
        if (c.response) {
            m.setResponse();
        }
        m.m_Flags = c.flags;
        m.m_Value = c.value;
        m.m_ReqQualifier = c.req;
        m.m_RspQualifier = c.rsp;
        m.m_VarList.add(var(1, 2, 1));
        EXPECT_EQ(image(m), c.bytes);
        Upp_DebVarService back(1, -1);
        EXPECT_TRUE(read_into(back, c.bytes));
        EXPECT_EQ((std::vector<uint32_t>{back.m_Flags, back.m_Value, back.m_ReqQualifier,
                                         back.m_RspQualifier, back.m_VarList.m_Count}),
                  (std::vector<uint32_t>{c.flags, c.flags & 2 ? c.value : 0u, c.req, c.rsp, 0}));
    }
}

TEST_F(UppMessageTest, StringLongerThanItsCapacityIsCutAndTheRestSkipped) {
    const Bytes bytes = Bytes{1, 11} + le({2}) +
                        Bytes{0, 6, 11, 4, 6, 'a', 'b', 'c', 'd', 'e', 'f'} +
                        Bytes{0, 6, 2, 0x78, 0x56, 0x34, 0x12};
    Upp_DebVarService m(1, -1);
    ASSERT_TRUE(read_into(m, bytes));
    EXPECT_EQ(m.m_Status, 0u);
    const auto got = elements(m.m_VarList);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ((std::vector<uint64_t>{got[0]->m_Result, got[1]->m_Result, got[1]->m_Value}),
              (std::vector<uint64_t>{32, 0, 0x12345678}));
    EXPECT_EQ(value_of(*got[0]), std::string("\x04\x04"
                                             "abcd",
                                             6));

    // A string whose length is past the capacity in memory is written cut as well.
    Response out(9);
    Upp_DebVar s = var(1, 0, 0);
    s.setString(2);
    s.buffer()[1] = 200;
    out.m_VarList.add(s);
    EXPECT_EQ(image(out), (Bytes{1, 9, 0, 2, 0, 0}));
}

TEST_F(UppMessageTest, ByteStringLongerThanTheDataIsNotRead) {
    for (uint32_t announced : {100u, 0xFFFFFFFFu}) {
        Upp_DebVarService m(1, -1);
        EXPECT_FALSE(read_into(m, Bytes{1, 11} + le({1}) + Bytes{0, 2} + le({7, announced}) +
                                      Bytes{'n', 'a', 'm', 'e'}));
        EXPECT_EQ(m.m_Status, 4u);
        EXPECT_EQ(m.m_VarList.m_Count, 0u);
    }
    Gen_ByteString text;
    auto d = holding({2, 0, 0, 0, 'o', 'k'});
    Gen_ExStream s(d.get());
    text.read(s);
    EXPECT_TRUE(s.good());
    EXPECT_STREQ(reinterpret_cast<const char*>(text.data()), "ok");
}

TEST_F(UppMessageTest, ListReadStopsAtTheFailingElement) {
    Upp_DebVarService m(1, -1);
    EXPECT_FALSE(read_into(m, Bytes{1, 11} + le({3}) + Bytes{0, 6, 4, 1, 0, 6, 4, 2, 0, 6, 4}));
    const auto got = elements(m.m_VarList);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ((std::vector<uint64_t>{m.m_VarList.m_Error, m.m_Status, got[1]->m_Value,
                                     m.m_VarList.m_DataSize}),
              (std::vector<uint64_t>{2, 4, 2, 2}));
}

TEST_F(UppMessageTest, BlocksNamedByARequestAreSizedButNotHeld) {
    Upp_DebVarService m(1, -1);
    ASSERT_TRUE(read_into(m, Bytes{0, 1, 0, 0} + le({2}) + Bytes{6, 10, 0xFF, 0xFF, 6, 10, 3, 0}));
    const auto got = elements(m.m_VarList);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0]->buffer(), nullptr);
    EXPECT_EQ(m.m_VarList.m_DataSize, 0xFFFFu + 3u);

    // Sent on as a response, the block's value is its length in zero bytes.
    Response out(11);
    out.m_VarList.add(*got[1]);
    EXPECT_EQ(image(out), (Bytes{1, 11} + le({1}) + Bytes{10, 6, 10, 3, 0, 0, 0, 0}));
}

// A response read into a message whose request named blocks holds a block's bytes only when they
// arrived: two bytes must not make every named block hold its full length.
TEST_F(UppMessageTest, AResponseHoldsOnlyTheBlockBytesThatArrived) {
    Bytes request = Bytes{0, 1, 0, 0} + le({64});
    for (int i = 0; i < 64; ++i) {
        request = request + Bytes{6, 10, 0xFF, 0xFF};
    }
    for (BYTE type : {9, 60}) {
        SCOPED_TRACE(static_cast<int>(type));
        Upp_DebVarService m(1, -1);
        ASSERT_TRUE(read_into(m, request));
        Bytes response = {1, type};
        if (type == 60) {
            response = response + le({0}) + Bytes(8, 0xFF);  // every variable selected
        }
        // an access result, then two bytes of a block
        EXPECT_FALSE(read_into(m, response + Bytes{0, 1, 2}));
        EXPECT_EQ(m.m_Status, 4u);
        for (const Upp_DebVar* v : elements(m.m_VarList)) {
            EXPECT_EQ(v->buffer(), nullptr);
        }
    }
}

TEST_F(UppMessageTest, JobDescriptionIsReadOnce) {
    Upp_DebJobDescr j;
    auto d1 = holding(Bytes{0, 1} + le({250}));
    Gen_ExStream s1(d1.get());
    j.read(s1);
    EXPECT_TRUE(s1.good());
    EXPECT_EQ(j.m_Param, 250u);

    const Bytes second = Bytes{0, 3} + le({1, 2});
    auto d2 = holding(second);
    Gen_ExStream s2(d2.get());
    j.read(s2);
    EXPECT_FALSE(s2.good());
    EXPECT_EQ((std::vector<ULONG>{j.m_JobType, j.m_ValB, j.m_ReadCount, position(d2)}),
              (std::vector<ULONG>{1, 0, 1, static_cast<ULONG>(second.size())}));
}

TEST_F(UppMessageTest, ByteStringGrowsPastItsInlineBufferAndCopies) {
    Gen_ByteString b;
    const std::string text(100, 'x');
    for (size_t n : {47u, 1u, 20u}) {  // the inline buffer holds 47 and the terminator
        EXPECT_EQ(b.append(text.data(), n), n);
    }
    Gen_ByteString copy;
    copy.append("old", 3);
    copy = b;
    EXPECT_TRUE(copy.m_bOk);
    for (const Gen_ByteString* each : {&b, &copy}) {
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(each->data())) + "/" +
                      std::to_string(each->length()),
                  std::string(68, 'x') + "/68");
    }
}

}  // namespace
