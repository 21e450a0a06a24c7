// Each cycle's values handed to a single job's consumer: the response its output data object
// receives, the jobs it is found by, what stopped jobs and failing data objects get, a merge
// after values, and client threads serving values while others add, join and cancel.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "ydb_road_fixture.h"

namespace {

using namespace ydb_road;

constexpr LONG kCycle = 100;
constexpr ULONG kSJ = 0x80000001;

// A variable as it travels back: (tag << 16 | index) with a 4-byte value.
Upp_DebVar Value(uint32_t address, uint32_t value) {
    Upp_DebVar v;
    v.m_Result = 0;
    v.m_AddrType = 1;
    v.m_AddrA = address;
    v.m_DataType = 2;
    v.m_Value = value;
    return v;
}

// An SJ's data object holding a message of the given service type after headers that carry the
// SJ's run-time job id.
ComPtr<IYDB_Data> SJData(uint32_t service, const std::vector<Upp_DebVar>& vars, ULONG rtJobID = 9,
                         bool response = true) {
    ComPtr<IYDB_Data> data = YdbDataClass::create();
    EXPECT_EQ(data->InitData(1, 4, rtJobID, 0, 0), S_OK);
    Gen_ExStream s(data.get());
    YDB_RecordHeader{0xC101, 1, 0}.write(s);
    Upp_DebVarService m(1, -1);
    m.setServiceType(service);
    if (response) {
        m.setResponse();
    }
    m.m_RspQualifier = 7;  // travels only with service type 15
    for (const Upp_DebVar& v : vars) {
        m.m_VarList.add(v);
    }
    m.write(s);
    EXPECT_TRUE(s.good());
    return data;
}

// A consumer's output object: the prefix before the data header, and its end.
ComPtr<IYDB_Data> OutData() {
    ComPtr<IYDB_Data> out = YdbDataClass::create();
    EXPECT_EQ(out->InitData(1, 0, 0, 0, 0), S_OK);
    EXPECT_EQ(out->SetByteCount(16), S_OK);
    return out;
}

// What a consumer reads back from its output object.
struct Answer {
    Answer() : message(1, -1) {}
    YDB_DataHeader data;
    YDB_RecordHeader record;
    Upp_DebVarService message;
    std::vector<std::pair<uint32_t, uint64_t>> vars;  // address, value
};
std::unique_ptr<Answer> Read(const ComPtr<IYDB_Data>& out) {
    auto a = std::make_unique<Answer>();
    ULONG ignored = 0;
    out->Seek(16, 0, &ignored);
    Gen_ExStream s(out.get());
    a->data.read(s);
    a->record.read(s);
    a->message.read(s);
    for (const Gen_ExListElem* e = a->message.m_VarList.m_pHead; e != nullptr; e = e->m_pNext) {
        const auto& v = static_cast<const Upp_DebVar&>(*e);
        a->vars.emplace_back(v.m_AddrA, v.m_Value);
    }
    return a;
}

class YdbValuesTest : public YdbRoadTest {
  protected:
    void SetUp() override {
        YdbRoadTest::SetUp();
        CompareValues(object.get());
    }
    // The component goes first: it releases the callbacks it holds, among them decode.
    void TearDown() override {
        object.reset();
        YdbRoadTest::TearDown();
    }
    // n SJs of 1, 2, 3, ... variables walked into one running CJ; returns its id.
    ULONG Road(ULONG n) {
        ULONG cj = 0;
        for (ULONG i = 0; i < n; ++i) {
            cj = Walk(kCycle, kSJ + i, i + 1, 20 + i, decode);
        }
        return cj;
    }
    // SJ i's run of this cycle: its variables with values derived from the tick.
    static std::vector<Upp_DebVar> Run(ULONG i, uint32_t tick) {
        std::vector<Upp_DebVar> vars;
        for (uint32_t k = 0; k <= i; ++k) {
            vars.push_back(Value((((kSJ + i) & 0xFFFF) << 16) | k, tick * 1000 + i * 10 + k));
        }
        return vars;
    }
    struct Call {
        HRESULT hr = E_FAIL;
        ULONG cj = 0, status = 0xDEAD;
        ULONG containing = 0;
        std::vector<ULONG> all(size_t n = 4) const {  // hr, status, cj, containing
            std::vector<ULONG> r{static_cast<ULONG>(hr), status, cj, containing};
            r.resize(n);
            return r;
        }
    };
    Call Values(ULONG jobID, IUnknown* sj, IUnknown* out, bool withRecord = true) {
        Call c;
        CJAsyncRQRecordHolder record;
        c.hr = object->UpdateYDBValues(jobID, sj, out, &c.cj, withRecord ? record.get() : nullptr,
                                       &c.status);
        c.containing = record->containing;
        return c;
    }
    RecordingDecode decode;
};

TEST_F(YdbValuesTest, EachSingleJobReceivesExactlyItsRunAsTheCollectionJobsResponse) {
    for (ULONG n : {1u, 2u, 5u}) {
        MakeComponent();
        CompareValues(object.get());
        const ULONG cj = Road(n);
        const Bytes cjBefore = Contents(DataOf(cj));
        for (uint32_t tick = 1; tick <= 2; ++tick) {
            for (ULONG i = 0; i < n; ++i) {
                const auto out = OutData();
                const Call c = Values(kSJ + i, SJData(11, Run(i, tick)).get(), out.get());
                ASSERT_EQ(c.all(), (std::vector<ULONG>{S_OK, 0, cj, n})) << n << " SJs, SJ " << i;
                const auto a = Read(out);
                std::vector<std::pair<uint32_t, uint64_t>> expected;
                for (const Upp_DebVar& v : Run(i, tick)) {
                    expected.emplace_back(v.m_AddrA, v.m_Value);
                }
                EXPECT_EQ(a->vars, expected);  // the headers: OneVariableAnswersWithTheExactImage
                EXPECT_EQ(a->record.m_Length, Contents(out).size() - 32);
            }
        }
        // The CJ's own data object still holds its request for later merges and joins.
        EXPECT_EQ(Contents(DataOf(cj)), cjBefore);
    }
}

TEST_F(YdbValuesTest, OneVariableAnswersWithTheExactImage) {
    Road(1);
    const auto out = OutData();
    ASSERT_EQ(Values(kSJ, SJData(11, {Value(0x00010000, 0x11223344)}).get(), out.get()).status, 0u);
    const Bytes expected = {
        'Y',  'D',  'B',  '1',  1,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // prefix of InitData
        4,    0,    0,    0,    0,  0, 0, 0,                          // the CJ's data header
        0x01, 0xC1, 1,    0,    17, 0, 0, 0,                          // record: command, 1, length
        1,    11,                                                     // response, cyclic values
        1,    0,    0,    0,                                          // one variable
        0,    1,    0,    0,    1,  0, 2,                             // result, address, data type
        0x44, 0x33, 0x22, 0x11,                                       // value
    };
    Bytes got = Contents(out);
    got[0] = 'Y', got[1] = 'D', got[2] = 'B', got[3] = '1';  // the stand-in's magic is its own
    EXPECT_EQ(got, expected);
}

TEST_F(YdbValuesTest, JobsAreFoundBySingleOrCollectionJobId) {
    const ULONG cj = Road(2);
    const auto sj = SJData(11, Run(0, 1));
    struct Row {
        ULONG jobID;
        ULONG status, cj;
    };
    const Row rows[] = {
        // jobID      status                    cj served
        {kSJ, 0, cj},                           // an SJ's id
        {cj, 0, cj},                            // its CJ's id
        {kSJ + 7, CJ_STATUS_JOB_NOT_FOUND, 0},  // no entry has it
    };
    for (const Row& row : rows) {
        const Call c = Values(row.jobID, sj.get(), OutData().get());
        EXPECT_EQ(c.all(3), (std::vector<ULONG>{S_OK, row.status, row.cj})) << row.jobID;
    }
    EXPECT_TRUE(Traced("collection job 2147483656 not found", 3));
}

TEST_F(YdbValuesTest, AStoppedCollectionJobHandsOnNothing) {
    const ULONG cj = Road(1);
    const auto data = Request(kCycle, 9, 1);
    Add(kCycle, data.get(), kSJ + 1);  // the merge stops the CJ for re-creation
    const auto out = OutData();
    const Bytes before = Contents(out);
    const Call c = Values(kSJ, SJData(11, Run(0, 1)).get(), out.get());
    EXPECT_EQ(c.all(), (std::vector<ULONG>{S_OK, CJ_STATUS_RECREATING, cj, 0}));
    EXPECT_EQ(Contents(out), before);
    EXPECT_TRUE(Traced("creation of collection job 2,cycle: 100 in progress", 1));
}

TEST_F(YdbValuesTest, UnchangedAnswersArePassedOnByteForByte) {
    Road(1);
    struct Row {
        uint32_t service;
        size_t length;  // of the message
    };
    // service length
    for (const Row row : {Row{12, 2}, Row{15, 3}}) {
        const auto sj = SJData(row.service, {});
        const auto out = OutData();
        ASSERT_EQ(Values(kSJ, sj.get(), out.get()).status, 0u) << row.service;
        const Bytes in = Contents(sj), got = Contents(out);
        ASSERT_EQ(got.size(), 32 + row.length);
        EXPECT_EQ(Bytes(got.begin() + 32, got.end()), Bytes(in.begin() + 32, in.end()));
        EXPECT_EQ(Word(got, 28), row.length);
    }
}

TEST_F(YdbValuesTest, TheAnswerCarriesOnlyWhatTheSingleJobsMessageHeld) {
    // A message without a variable list, read after the CJ's message of three variables, must
    // not answer with the CJ's list.
    Road(2);
    const auto out = OutData();
    ASSERT_EQ(Values(kSJ, SJData(9, {}, 9, false).get(), out.get()).status, 0u);
    const auto a = Read(out);
    EXPECT_EQ(a->message.m_ServiceType, 11u);
    EXPECT_TRUE(a->vars.empty());
}

TEST_F(YdbValuesTest, FailingOrMissingDataObjectsAreReportedAndLeaveTheOutputAsItWas) {
    const ULONG cj = Road(2);
    enum Object { kCJ, kSJData, kOut };
    struct Row {
        Object object;
        ULONG position;  // 0: refuses writes
        HRESULT hr;
        ULONG status;
    };
    const Row rows[] = {
        // object position hr  status
        {kOut, 0, S_OK, CJ_STATUS_JOB_NOT_FOUND},       // not ready for writing
        {kOut, 2, E_FAIL, CJ_STATUS_JOB_NOT_FOUND},     // an element write
        {kOut, 9, E_FAIL, CJ_STATUS_JOB_NOT_FOUND},     // the commit
        {kOut, 16, E_FAIL, CJ_STATUS_JOB_NOT_FOUND},    // the readiness query
        {kSJData, 3, E_FAIL, 91},                       // reading the SJ's message
        {kSJData, 9, E_FAIL, CJ_STATUS_JOB_NOT_FOUND},  // its commit
        {kCJ, 3, E_FAIL, 91},                           // reading the CJ's message
        {kCJ, 12, E_FAIL, 91},                          // seeking to its message
    };
    for (const Row& row : rows) {
        const auto sj = SJData(11, Run(0, 1));
        const auto out = OutData();
        const ComPtr<IYDB_Data> target = row.object == kCJ    ? DataOf(cj)
                                         : row.object == kOut ? out
                                                              : sj;
        if (row.position == 0) {
            YdbDataClass::control(target)->SetWritable(FALSE);
        } else {
            YdbDataClass::control(target)->FailCall(row.position, 0, E_FAIL);
        }
        const Bytes before = Contents(out);
        const Call c = Values(kSJ, sj.get(), out.get());
        EXPECT_EQ(c.all(2), (std::vector<ULONG>{static_cast<ULONG>(row.hr), row.status}))
            << row.object << "/" << row.position;
        EXPECT_EQ(Contents(out), before) << row.object << "/" << row.position;
        YdbDataClass::control(DataOf(cj))->FailCall(0, 0, S_OK);
    }
    // An output object without IYDB_Data; no record to fill.
    CountingUnknown foreign;
    EXPECT_EQ(Values(kSJ, SJData(11, Run(0, 1)).get(), &foreign).status, CJ_STATUS_JOB_NOT_FOUND);
    EXPECT_EQ(foreign.refs(), 1u);
    EXPECT_EQ(Values(kSJ, SJData(11, Run(0, 1)).get(), OutData().get(), false).status, 0u);
}

TEST_F(YdbValuesTest, AMergeAfterValuesKeepsEverySingleJobsVariables) {
    Road(2);
    ASSERT_EQ(Values(kSJ + 1, SJData(11, Run(1, 1)).get(), OutData().get()).status, 0u);
    const auto c = Request(kCycle, 0x33, 3);
    Bytes expected = VarBytes(Request(kCycle, kSJ & 0xFFFF, 1));
    for (const auto& more : {Request(kCycle, (kSJ + 1) & 0xFFFF, 2), c}) {
        const Bytes v = VarBytes(more);
        expected.insert(expected.end(), v.begin(), v.end());
    }
    Add(kCycle, c.get(), kSJ + 2);
    CJAsyncRQRecordHolder record;
    ASSERT_EQ(Join(kCycle, kSJ + 2, c.get(), record).hr, S_OK);
    EXPECT_EQ(VarBytes(c), expected);  // the CJ's message, handed to the joining SJ
    EXPECT_EQ(Entry(21)->m_dwVarCount, 6u);
}

TEST_F(YdbValuesTest, ValuesFlowWhileOtherClientsAddJoinAndCancel) {
    capture.levels(1, 1, 1u << 4);  // errors only
    Road(2);
    std::atomic<int> failures{0};
    std::atomic<ULONG> nextCJ{1000};
    std::mutex walking;  // add..start of one cycle is one unit (the join copies the latest count)
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int i = 0; i < 15; ++i) {
                if (t % 2 == 0) {
                    const ULONG own = static_cast<ULONG>(t / 2 % 2);
                    const auto out = OutData();
                    const Call c = Values(
                        kSJ + own, SJData(11, Run(own, static_cast<uint32_t>(i))).get(), out.get());
                    const bool ok =
                        c.hr == S_OK && c.status == 0 && Read(out)->vars.size() == own + 1;
                    failures += ok || (c.hr == S_OK && c.status == CJ_STATUS_RECREATING) ? 0 : 1;
                    continue;
                }
                ULONG sj = 0;
                do {  // in a fresh process the first numbers are the ids the road gave
                    object->newJobID(&sj);
                } while (sj <= kSJ + 1);
                std::lock_guard<std::mutex> guard(walking);
                Walk(t % 4 == 1 ? kCycle : 300, sj, 1, nextCJ++, decode);
                CJAsyncRQRecordHolder record;
                ULONG cjID = 0, actions = 0, status = 0;
                failures +=
                    object->cancelASynch(sj, &cjID, record.get(), &actions, &status) != S_OK;
            }
            CoUninitialize();
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures, 0);
    // Every walk beside it ended with the job running: it serves again (during the run it may
    // have been re-creating at every call).
    EXPECT_EQ(Values(kSJ, SJData(11, Run(0, 99)).get(), OutData().get()).all(2),
              (std::vector<ULONG>{S_OK, 0}));
}

}  // namespace
