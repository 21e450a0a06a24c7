// The simulator's own codec against the component's message classes: the same message gives the
// same element calls and bytes, and each side reads what the other wrote.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engsys/ydbdata_class.h"
#include "onl/ydbservice/upp_debservice.h"
#include "ydb_codec.h"

namespace {

using cjsim::YdbMessage;
using cjsim::YdbVariable;
using testing_support::YdbDataClass;

struct Shape {
    const char* name;
    YdbMessage message;
    uint16_t rt;      // second word of the data header
    uint16_t subCmd;  // of the record header
};

// name | response, cycle (requests), {addrA, addrB, value, result} (value and result: responses)
// | rt | sub-command
const Shape kShapes[] = {
    {"empty request", {false, 100, {}}, 0, 0},
    {"request",
     {false, 0xFFFFFFFFu, {{0x00010002, 0x00090000, 0, 0}, {1, 0xFFFF0003, 0, 0}}},
     0,
     0},
    {"response", {true, 0, {{0x00010002, 0x00090000, 0xFFFFFFFFu, 0}}}, 7, 1},
    {"response with results",
     {true, 0, {{1, 2, 0x80000000u, 0}, {3, 4, 5, 9}, {0xFFFFFFFFu, 6, 0x1234, 255}}},
     0xFFFF,
     1},
};

platform::ComPtr<IYDB_Data> Fresh(uint16_t rt) {
    auto data = YdbDataClass::create();
    EXPECT_TRUE(data);
    EXPECT_EQ(data->InitData(1, 4, rt, 0, 0), S_OK);
    return data;
}

void EncodeWithComponent(IYDB_Data* data, uint16_t subCmd, const YdbMessage& m) {
    Upp_DebVarService service(1, -1);
    service.setServiceType(m.response ? cjsim::kYdbServiceValues : cjsim::kYdbServiceCyclicRead);
    service.m_JobDescr.m_JobType = 1;
    service.m_JobDescr.m_Param = m.cycle;
    for (const YdbVariable& v : m.variables) {
        Upp_DebVar var;
        var.m_Result = v.result;
        var.m_AddrType = 3;
        var.m_AddrA = v.addrA;
        var.m_AddrB = v.addrB;
        var.m_DataType = 2;
        var.m_Value = v.value;
        service.m_VarList.add(var);
    }
    if (m.response) {
        service.setResponse();
    }
    Gen_ExStream s(data);
    YDB_RecordHeader{cjsim::kYdbCmdVarService, subCmd, 0}.write(s);
    service.write(s);
    EXPECT_TRUE(s.good());
}

// The component's reading of a record from the data header on, in the codec's terms.
bool DecodeWithComponent(IYDB_Data* data, cjsim::YdbRecordFrame& frame, YdbMessage& m) {
    Upp_DebVarService service(1, -1);
    YDB_DataHeader header;
    YDB_RecordHeader record;
    Gen_ExStream s(data);
    header.read(s);
    record.read(s);
    if (!service.read(s) || service.m_Status != 0) {
        return false;
    }
    frame = {{header.m_Words[0], header.m_Words[1], header.m_Words[2], header.m_Words[3]},
             record.m_Cmd,
             record.m_SubCmd,
             record.m_Length};
    m = {service.m_bResponse, service.m_JobDescr.m_Param, {}};
    for (const Gen_ExListElem* e = service.m_VarList.m_pHead; e != nullptr; e = e->m_pNext) {
        const auto& v = static_cast<const Upp_DebVar&>(*e);
        EXPECT_EQ(v.m_AddrType, 3u);
        EXPECT_EQ(v.m_DataType, 2u);
        // A request carries no access result; the component reads its default then.
        m.variables.push_back(
            {v.m_AddrA, v.m_AddrB, static_cast<uint32_t>(v.m_Value), m.response ? v.m_Result : 0});
    }
    return true;
}

class YdbCodec : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        m_class = std::make_unique<YdbDataClass>();
        ASSERT_TRUE(m_class->ready());
    }
    void TearDown() override {
        m_class.reset();
        CoUninitialize();
    }

    std::unique_ptr<YdbDataClass> m_class;
};

TEST_F(YdbCodec, WritesTheComponentsElementCallsAndBytes) {
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(shape.name);
        auto ours = Fresh(shape.rt);
        auto theirs = Fresh(shape.rt);
        ASSERT_TRUE(cjsim::EncodeYdbRecord(ours.get(), cjsim::kYdbCmdVarService, shape.subCmd,
                                           shape.message));
        EncodeWithComponent(theirs.get(), shape.subCmd, shape.message);
        const auto ourCalls = testing_support::ydb_element_calls(ours);
        const auto theirCalls = testing_support::ydb_element_calls(theirs);
        ASSERT_EQ(ourCalls.size(), theirCalls.size());
        for (size_t i = 0; i < ourCalls.size(); ++i) {
            EXPECT_EQ(ourCalls[i].count, theirCalls[i].count) << "call " << i;
            EXPECT_EQ(ourCalls[i].width, theirCalls[i].width) << "call " << i;
            EXPECT_EQ(ourCalls[i].typeCode, theirCalls[i].typeCode) << "call " << i;
        }
        EXPECT_EQ(testing_support::ydb_contents(ours.get()),
                  testing_support::ydb_contents(theirs.get()));
    }
}

TEST_F(YdbCodec, EachSideReadsWhatTheOtherWrote) {
    using Encode = bool (*)(IYDB_Data*, const Shape&);
    using Decode = bool (*)(IYDB_Data*, cjsim::YdbRecordFrame&, YdbMessage&);
    const Encode ours = [](IYDB_Data* d, const Shape& shape) {
        return cjsim::EncodeYdbRecord(d, cjsim::kYdbCmdVarService, shape.subCmd, shape.message);
    };
    const Encode theirs = [](IYDB_Data* d, const Shape& shape) {
        EncodeWithComponent(d, shape.subCmd, shape.message);
        return true;
    };
    // writer | reader
    const std::pair<Encode, Decode> roads[] = {{ours, DecodeWithComponent},
                                               {theirs, cjsim::DecodeYdbRecord}};
    for (const Shape& shape : kShapes) {
        for (const auto& [encode, decode] : roads) {
            SCOPED_TRACE(std::string(shape.name) + (encode == ours ? ", ours" : ", theirs"));
            auto data = Fresh(shape.rt);
            ASSERT_TRUE(encode(data.get(), shape));
            ULONG ignored = 0;
            ASSERT_EQ(data->Seek(16, 0, &ignored), S_OK);
            cjsim::YdbRecordFrame frame;
            YdbMessage got;
            ASSERT_TRUE(decode(data.get(), frame, got));
            EXPECT_EQ(frame.dataHeader[1], shape.rt);
            EXPECT_EQ(frame.cmd, cjsim::kYdbCmdVarService);
            EXPECT_EQ(frame.subCmd, shape.subCmd);
            EXPECT_EQ(got.response, shape.message.response);
            EXPECT_EQ(got.cycle, shape.message.cycle);
            ASSERT_EQ(got.variables.size(), shape.message.variables.size());
            for (size_t i = 0; i < got.variables.size(); ++i) {
                const YdbVariable& want = shape.message.variables[i];
                EXPECT_EQ(got.variables[i].addrA, want.addrA);
                EXPECT_EQ(got.variables[i].addrB, want.addrB);
                EXPECT_EQ(got.variables[i].value, want.value);
                EXPECT_EQ(got.variables[i].result, want.result);
            }
        }
    }
}

}  // namespace
