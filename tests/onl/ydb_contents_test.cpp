// YDB_Contents record framing over the data object class, and the UPP error table.
#include <gtest/gtest.h>

#include <string>

#include "onl/ydbservice/upp_debservice.h"
#include "onl/ydbservice/yrterrordecode.h"
#include "onl/ydbservice/yydb_contents.h"
#include "support/trace_capture.h"
#include "ydb_fixture.h"

namespace {

using namespace ydb_testing;
using testing_support::TraceCapture;

class YdbContentsTest : public YdbTest {
  protected:
    static uint32_t u32_at(const Bytes& b, size_t at) {
        return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
    }
};

TEST_F(YdbContentsTest, OpenedRecordJobFramesAMessageAsReadersExpectIt) {
    YDB_Contents contents_;
    ASSERT_TRUE(contents_.openRecordJob(1, 4, 0, 0, 0, 0xC101, nullptr));
    ASSERT_TRUE(contents_.m_spCreated);
    EXPECT_EQ(contents_.m_spData, contents_.m_spCreated);
    Upp_DebVarService m(1, -1);
    m.setServiceType(2);
    m.m_JobDescr.m_JobType = 1;
    m.m_JobDescr.m_Param = 100;
    Upp_DebVar v;
    v.m_AddrType = 1;
    v.m_AddrA = 42;
    v.m_DataType = 2;
    m.m_VarList.add(v);
    m.write(*contents_.m_pStream);
    ASSERT_TRUE(contents_.finishRecord(nullptr));

    const Bytes bytes = contents(contents_.m_spData);
    EXPECT_EQ(bytes.size(), 32u + 18u);

    // What every reader does: position 16, data header, record header, message.
    Gen_ExStream s(contents_.m_spData.get());
    seek(contents_.m_spData, 16);
    YDB_DataHeader data;
    YDB_RecordHeader record;
    data.read(s);
    record.read(s);
    Upp_DebVarService back(1, -1);
    ASSERT_TRUE(back.read(s));
    ASSERT_EQ(back.m_VarList.m_Count, 1u);
    EXPECT_EQ((std::vector<uint32_t>{data.m_Words[0], record.m_Cmd, record.m_SubCmd,
                                     record.m_Length, back.m_JobDescr.m_Param,
                                     static_cast<Upp_DebVar*>(back.m_VarList.m_pHead)->m_AddrA}),
              (std::vector<uint32_t>{4, 0xC101, 0, 18, 100, 42}));
}

TEST_F(YdbContentsTest, RecordsInARowKeepTheirOwnLengths) {
    auto d = fresh();
    YDB_Contents c;
    ASSERT_TRUE(c.createData(d.get()));
    EXPECT_FALSE(c.m_spCreated);
    ASSERT_TRUE(c.beginRecord(0x10, nullptr, nullptr, 1));
    *c.m_pStream << uint32_t{1} << uint32_t{2};
    ASSERT_TRUE(c.finishRecord(nullptr));
    ASSERT_TRUE(c.beginRecord(0x20, d.get(), c.m_pStream.get(), 2));
    ASSERT_TRUE(c.finishRecord(d.get()));
    ASSERT_TRUE(c.beginRecord(0x30, nullptr, nullptr, 3));
    *c.m_pStream << uint8_t{9};
    ASSERT_TRUE(c.finishRecord(nullptr));
    EXPECT_EQ((std::vector<uint32_t>{c.m_RecordCount, c.m_CurCmd}),
              (std::vector<uint32_t>{3, 0x30}));
    // command, sub-command, length, body
    const Bytes expected = Bytes{0x10, 0, 1, 0} + le({8, 1, 2}) + Bytes{0x20, 0, 2, 0} + le({0}) +
                           Bytes{0x30, 0, 3, 0} + le({1}) + Bytes{9};
    EXPECT_EQ(contents(d), expected);
    EXPECT_EQ(position(d), expected.size());
}

TEST_F(YdbContentsTest, FailuresAreReportedAsFailures) {
    {
        // Refused InitData and refused writes.
        auto d = fresh();
        ASSERT_EQ(control(d)->SetWritable(FALSE), S_OK);
        YDB_Contents c;
        EXPECT_FALSE(c.openRecordJob(1, 4, 0, 0, 0, 0xC101, d.get()));
        EXPECT_FALSE(c.beginRecord(1, nullptr, nullptr, 0));
    }
    {
        // A length that cannot be patched, and a seek that fails.
        auto d = fresh();
        YDB_Contents c;
        ASSERT_TRUE(c.beginRecord(1, d.get(), nullptr, 0));
        *c.m_pStream << uint32_t{5};
        ASSERT_EQ(control(d)->SetWritable(FALSE), S_OK);
        EXPECT_FALSE(c.finishRecord(nullptr));
        ASSERT_EQ(control(d)->SetWritable(TRUE), S_OK);
        ASSERT_EQ(control(d)->FailCall(12, 0, E_FAIL), S_OK);
        EXPECT_FALSE(c.finishRecord(nullptr));
        EXPECT_EQ(u32_at(contents(d), 4), 0u);
        EXPECT_TRUE(c.finishRecord(nullptr));
        EXPECT_EQ(u32_at(contents(d), 4), 4u);
    }
    YDB_Contents none;
    EXPECT_FALSE(none.beginRecord(1, nullptr, nullptr, 0));
    EXPECT_FALSE(none.finishRecord(nullptr));
    // Without the class served there is nothing to create.
    m_class.reset();
    EXPECT_FALSE(none.createData(nullptr));
    EXPECT_FALSE(none.openRecordJob(1, 4, 0, 0, 0, 0xC101, nullptr));
}

TEST(UppErrorMapTest, EveryResponseHasItsCodeAndTrace) {
    TraceCapture capture;
    ASSERT_TRUE(capture.ready());
    capture.levels(1, 1, (1u << 3) | (1u << 4));
    struct Row {
        int32_t response;
        uint32_t code;
        const char* text;
    };
    const Row rows[] = {
        {1, 88, "response from UPP: 'resource problem'"},
        {2, 89, "response from UPP: 'unknown service type'"},
        {3, 90, "response from UPP: 'unknown job Id'"},
        {4, 91, "response from UPP: 'unknown syntax for service'"},
        {5, 92, "response from UPP: 'object doesn't exist'"},
        {6, 93, "response from UPP: 'command failed'"},
        {7, 94, "response from UPP : 'conversion of a unit failed'"},
        {8, 95, "response from UPP: 'command not possible in current state'"},
        {10, 96, "response from UPP: 'component locked by another service'"},
        {11, 97, "response from UPP: 'command aborted (unit changed)'"},
        {12, 88, "response from UPP: 'unable to save data (ressource problem)'"},
        {13, 116, "response from UPP: 'device limits (for jobs, tasks, units, ...) exceeded'"},
        {14, 117, "response from UPP: 'STOP needed for activating of this changes'"},
        {15, 118, "response from UPP: 'command timed out - try it again'"},
        {16, 143, "response from UPP: 'system overload'"},
        {17, 151, "response from UPP: 'job limit'"},
        {18, 152, "response from UPP: 'no test mode'"},
        {22, 47, "response from UPP: 'task does not exist'"},
        {55, 98, "response from UPP: 'fatal error'"},
        {67, 177, "response from UPP: 'too much tasks to change in RUN'"},
        {68, 178, "response from UPP: 'too much units to change in RUN'"},
    };
    using Texts = std::vector<std::string>;
    for (const Row& r : rows) {
        capture.clear();
        EXPECT_EQ(CRTErrorDecoder::mapUPPErrorOnESError(r.response), r.code) << r.response;
        EXPECT_EQ(capture.texts(), Texts{r.text});
        EXPECT_EQ(capture.texts(4).size(), 1u);
    }
    capture.clear();
    EXPECT_EQ(CRTErrorDecoder::mapUPPErrorOnESError(0), 0u);
    EXPECT_TRUE(capture.messages().empty());
    for (int32_t unknown : {9, 19, -1, 1000}) {
        capture.clear();
        EXPECT_EQ(CRTErrorDecoder::mapUPPErrorOnESError(unknown), 48u);
        EXPECT_EQ(capture.texts(4), Texts{"unknown error response from target"});
        EXPECT_EQ(capture.texts(3), Texts{"possible new enum value defined in uppdebtypes: " +
                                          std::to_string(unknown)});
    }
}

}  // namespace
