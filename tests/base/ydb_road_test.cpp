// The YDB road as clients walk it: requests in YDB data objects merged or creating collection
// jobs within the room limits, joins and their action words, the service started through the
// collection job's callback, and what failing or foreign data objects get.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "ydb_road_fixture.h"

namespace {

using namespace ydb_road;

TEST_F(YdbRoadTest, RoomLimitsDecideBetweenMergeAndCreate) {
    struct Row {
        ULONG maxVars, maxSize;
        uint32_t first, second;  // variables of 4 bytes
        uint16_t block;          // or blocks of this many bytes each
        bool merges;
    };
    const Row rows[] = {
        // maxVars maxSize first second block merges
        {256, 2048, 100, 100, 0, true},   // the defaults
        {256, 2048, 300, 1, 0, false},    // too many alone: never merged into
        {256, 2048, 128, 128, 0, true},   // variable limit reached exactly
        {256, 2048, 128, 129, 0, false},  // and by one more
        {256, 400, 50, 50, 0, true},      // byte limit reached exactly
        {256, 400, 50, 51, 0, false},     // and by one more byte
        {256, 2048, 1, 1, 1024, true},    // blocks count their bytes
        {256, 2048, 1, 1, 1025, false},
    };
    for (const Row& row : rows) {
        MakeComponent();
        object->setLimits(row.maxVars, row.maxSize);
        const auto a = Request(100, 1, row.first, row.block);
        const auto b = Request(100, 2, row.second, row.block);
        EXPECT_EQ(Add(100, a.get(), 0x80000001), 0u);
        EXPECT_EQ(Add(100, b.get(), 0x80000002), 0u);
        EXPECT_EQ(Entry(3) == nullptr, row.merges) << row.first << "+" << row.second;
        EXPECT_EQ(Entry(2)->ticks, row.merges ? 1 : 0);
        EXPECT_EQ(Entry(2)->m_RQStatus, row.merges ? STATE_STOP : STATE_CREATED);
    }
    // A third SJ of 100 finds no room beside 200 and creates id 3.
    MakeComponent();
    for (ULONG sj = 1; sj <= 3; ++sj) {
        const auto data = Request(100, sj, 100);
        Add(100, data.get(), sj);
        CJAsyncRQRecordHolder record;
        Join(100, sj, data.get(), record);
    }
    EXPECT_EQ(Entry(2)->m_dwVarCount, 200u);
    EXPECT_EQ(Entry(3)->m_dwVarCount, 100u);
    // Other cycles and cycle 0 never merge.
    Add(200, Request(200, 4, 1).get(), 4);
    Add(0, Request(0, 5, 1).get(), 5);
    Add(0, Request(0, 6, 1).get(), 6);
    EXPECT_EQ(impl->m_pRQ->Entries().size(), 5u);
}

TEST_F(YdbRoadTest, IdsRunUpToTheJobLimitAndThenShareIt) {
    object->setMaxJobs(4, 2048, 0);
    std::vector<ComPtr<IYDB_Data>> data;
    for (ULONG sj = 0x80000001; sj <= 0x80000005; ++sj) {
        data.push_back(Request(100, sj & 0xFF, 300));
        Add(100, data.back().get(), sj);
    }
    // Each SJ joins its own CJ, not the newest one that carries the same id.
    std::vector<ULONG> ids;
    for (ULONG i = 0; i < 5; ++i) {
        CJAsyncRQRecordHolder record;
        EXPECT_EQ(Join(100, 0x80000001 + i, data[i].get(), record).action, CJ_ACTION_ALONE);
        ids.push_back(record->m_ES_JobID);
        Join(100, 0x80000001 + i, data[i].get(), record);
        ASSERT_EQ(record->containing, 1u) << i;
        EXPECT_EQ(record->m_pSJ[0].ES_JobID, 0x80000001 + i);
    }
    EXPECT_EQ(ids, (std::vector<ULONG>{2, 3, 4, 4, 4}));
}

TEST_F(YdbRoadTest, AMergeKeepsTheLiveRunsInOrderByteForByte) {
    // A, Z (no variables) and E stay; B and D are cancelled before E's addition.
    const ULONG A = 0x80000001, B = 0x80000002, Z = 0x80000003, D = 0x80000004, E = 0x80000005;
    std::vector<ComPtr<IYDB_Data>> data;
    RecordingDecode bDecode, dDecode;
    const std::vector<std::pair<ULONG, uint32_t>> order = {{A, 2}, {B, 2}, {Z, 0}, {D, 2}};
    for (const auto& [sj, vars] : order) {
        data.push_back(Request(100, sj & 0xFF, vars));
        Add(100, data.back().get(), sj);
        CJAsyncRQRecordHolder record;
        Join(100, sj, data.back().get(), record, sj == B ? &bDecode : sj == D ? &dDecode : nullptr);
    }
    EXPECT_EQ((std::vector<ULONG>{Cancel(B), Cancel(D)}),
              (std::vector<ULONG>{CJ_CANCEL_SJ_REMOVED, CJ_CANCEL_SJ_REMOVED}));
    const auto e = Request(100, E & 0xFF, 3);
    Bytes expected = VarBytes(data[0]);
    const Bytes eVars = VarBytes(e);
    expected.insert(expected.end(), eVars.begin(), eVars.end());
    Add(100, e.get(), E);
    CJAsyncRQRecordHolder record;
    ASSERT_EQ(Join(100, E, e.get(), record).action, kRecreateMany);

    const Bytes got = Contents(e);  // the CJ's complete data, handed to E
    EXPECT_EQ(VarBytes(e), expected);
    EXPECT_EQ(Word(got, 40), 5u);               // variable count
    EXPECT_EQ(Word(got, 28), got.size() - 32);  // record length
    EXPECT_EQ(Word(got, 36), 100u);             // job parameter: the cycle
    EXPECT_EQ(got[33], 2);                      // cyclic read
    ASSERT_EQ(record->containing, 3u);
    EXPECT_EQ((std::vector<ULONG>{record->m_pSJ[0].ES_JobID, record->m_pSJ[1].ES_JobID,
                                  record->m_pSJ[2].ES_JobID, Entry(2)->m_dwVarCount}),
              (std::vector<ULONG>{A, Z, E, 5}));
    EXPECT_EQ(testing_support::refs_of(bDecode, dDecode), testing_support::released(2));
}

TEST_F(YdbRoadTest, AFailedMergeKeepsTheCancelledRunsItCouldNotDrop) {
    const ULONG A = 0x80000001, B = 0x80000002, C = 0x80000003;
    std::vector<ComPtr<IYDB_Data>> data;
    for (ULONG sj : {A, B, C}) {
        data.push_back(Request(100, sj & 0xFF, 2));
        Add(100, data.back().get(), sj);
        CJAsyncRQRecordHolder record;
        Join(100, sj, data.back().get(), record);
    }
    Bytes expected = VarBytes(data[0]);
    const Bytes cVars = VarBytes(Request(100, C & 0xFF, 2));
    Cancel(B);
    YdbDataClass::control(DataOf(2))->SetWritable(FALSE);
    Add(100, Request(100, 4, 2).get(), 0x80000004, E_FAIL);
    EXPECT_EQ(Entry(2)->containing(), 3u);  // B's run is still in the CJ's data
    YdbDataClass::control(DataOf(2))->SetWritable(TRUE);
    const auto e = Request(100, 5, 1);
    const Bytes eVars = VarBytes(e);
    Add(100, e.get(), 0x80000005);
    CJAsyncRQRecordHolder record;
    Join(100, 0x80000005, e.get(), record);
    expected.insert(expected.end(), cVars.begin(), cVars.end());
    expected.insert(expected.end(), eVars.begin(), eVars.end());
    EXPECT_EQ(VarBytes(e), expected);
}

TEST_F(YdbRoadTest, JoinsAnswerWithActionWordsSkipsAndTheRing) {
    const ULONG A = 0x80000001, B = 5, C = 0x80000003;
    const auto a = Request(100, 1, 1), b = Request(100, 2, 1), c = Request(100, 3, 1);
    CJAsyncRQRecordHolder record;
    Add(100, a.get(), A);
    Joined j = Join(100, A, a.get(), record, nullptr, 0x0F6);
    EXPECT_EQ((std::vector<ULONG>{j.action, j.cj, record->m_ES_JobID}),
              (std::vector<ULONG>{CJ_ACTION_ALONE, 0, 2}));
    Add(100, b.get(), B);
    EXPECT_EQ(Join(100, B, b.get(), record).action, kRecreateTwo);  // two SJs, a client's own id
    Add(100, c.get(), C);
    j = Join(100, C, c.get(), record);
    EXPECT_EQ((std::vector<ULONG>{j.action, j.cj, record->containing}),
              (std::vector<ULONG>{kRecreateMany, 2, 3}));
    // The ring: SJ to SJ by id, back to the CJ; every joined SJ marked stopped.
    for (ULONG i = 0; i < 3; ++i) {  // next, state, service, variables
        const SJAsyncRQRecord& sj = record->m_pSJ[i];
        EXPECT_EQ((std::vector<ULONG>{sj.next_ES_JobID, sj.RQStatus, sj.Service, sj.VarCount}),
                  (std::vector<ULONG>{std::array<ULONG, 3>{B, C, 2}[i], SJ_STOPPED, 0, 1}));
    }
    EXPECT_EQ(Entry(2)->ticks, 2);

    // A held client job that is not the last is skipped, a tick at a time, never below 0.
    for (LONG ticks : {1, 0, 0}) {
        capture.clear();
        EXPECT_EQ(Join(100, A, a.get(), record).action, 0u);
        EXPECT_EQ(Entry(2)->ticks, ticks);
        EXPECT_TRUE(Traced(
            "cycle: 100, single job skipped 2147483649, collection job 0, dwaction 0, ticks: " +
                std::to_string(ticks),
            1));
    }
    EXPECT_EQ(Join(100, C, c.get(), record).action, kRecreateMany);  // the last one joins again
    EXPECT_EQ(Join(100, A, a.get(), record, nullptr, CJ_ACTION_UNCHANGED).action,
              CJ_ACTION_UNCHANGED);
    EXPECT_EQ(Entry(2)->containing(), 3u);

    // No CJ for the SJ: the CJ the client names loses a tick.
    Entry(2)->ticks = 1;
    ULONG sj = 0x80000009, cj = 2, action = 0, status = 0;
    ASSERT_EQ(object->UpdateYDBJobEntry(100, kTyp, nullptr, &sj, &cj, a.get(), record.get(),
                                        &action, &status),
              S_OK);
    EXPECT_EQ((std::vector<ULONG>{status, action}),
              (std::vector<ULONG>{CJ_STATUS_JOB_NOT_FOUND, CJ_ACTION_ALONE}));
    EXPECT_EQ(Entry(2)->ticks, 0);
    EXPECT_EQ(traced(4).back(), "single job: 2147483657 collection job: 2 not found");
}

TEST_F(YdbRoadTest, StartCallsTheCollectionJobsCallbackOnlyWhenThereIsOne) {
    RecordingDecode decode;
    decode.startResult = 0x5A;
    const auto a = Request(100, 1, 1);
    ULONG result = 7, status = 0;
    Add(100, a.get(), 0x80000001);
    EXPECT_EQ(object->startYDBService(100, kTyp, 1, 0x80000001, 2, nullptr, &result), S_OK);
    EXPECT_EQ(result, 0u);  // no callback yet; the start joined the SJ
    EXPECT_EQ(Entry(2)->containing(), 1u);
    ASSERT_EQ(object->UpdateCJ_YDBCB(0, kTyp, 2, &decode, &status), S_OK);
    EXPECT_EQ(object->startYDBService(100, kTyp, 0x1234, 0x80000001, 2, nullptr, &result), S_OK);
    EXPECT_EQ(result, 0x5Au);
    const auto calls = decode.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ((std::vector<ULONG>{static_cast<ULONG>(calls[0].operation),
                                  static_cast<ULONG>(calls[0].cycle), calls[0].arg,
                                  calls[0].sjJobID, calls[0].jobID}),
              (std::vector<ULONG>{4, 100, 0x1234, 0x80000001, 2}));
    EXPECT_EQ(object->startYDBService(100, kTyp, 1, 0x80000001, 3, nullptr, &result), S_OK);
    EXPECT_EQ(decode.calls().size(), 1u);
    object.reset();
    EXPECT_EQ(decode.refs(), 1u);
}

TEST_F(YdbRoadTest, ForeignAndFailingDataObjectsAreAnsweredWithoutHarm) {
    // A request that cannot be read makes no CJ: the mapped stream failure.
    EXPECT_EQ(Add(100, YdbDataClass::create().get(), 1), 91u);
    EXPECT_TRUE(impl->m_pRQ->Entries().empty());

    // A request that cannot be copied leaves its new CJ without a data object to hand out.
    const auto a = Request(100, 1, 2), b = Request(100, 2, 2);
    YdbDataClass::control(a)->FailCall(4, 0, E_FAIL);
    EXPECT_EQ(Add(100, a.get(), 9, E_FAIL), 0u);
    EXPECT_FALSE(Entry(2)->m_spYDBData);
    MakeComponent();
    Add(100, a.get(), 1);
    CJAsyncRQRecordHolder record;
    // The CJ's data cannot be read: no join, nothing written to the SJ's object.
    YdbDataClass::control(DataOf(2))->FailCall(4, 0, E_FAIL);
    EXPECT_EQ(Join(100, 1, b.get(), record).status, CJ_STATUS_JOB_NOT_FOUND);
    EXPECT_EQ(Calls(b, 5), 0u);
    EXPECT_EQ(Entry(2)->containing(), 0u);
    YdbDataClass::control(DataOf(2))->FailCall(0, 0, S_OK);
    EXPECT_EQ(Join(100, 1, b.get(), record).status, 0u);

    // A merge into a CJ whose object refuses writes: E_FAIL, stopped, the new counts.
    YdbDataClass::control(DataOf(2))->SetWritable(FALSE);
    const Bytes cjBefore = Contents(DataOf(2));
    capture.clear();
    EXPECT_EQ(Add(100, b.get(), 2, E_FAIL), 0u);
    EXPECT_EQ(traced(4).back(),
              "Asynchron read/write extension of job creation for JobID 2, cycle 100, Typ 1 "
              "failed.");
    EXPECT_EQ((std::vector<LONG>{Entry(2)->m_RQStatus, Entry(2)->ticks,
                                 static_cast<LONG>(Entry(2)->m_dwVarCount)}),
              (std::vector<LONG>{STATE_STOP, 1, 4}));
    EXPECT_EQ(Contents(DataOf(2)), cjBefore);
    // A CJ message that does not decode answers with the mapped status.
    YdbDataClass::control(DataOf(2))->SetWritable(TRUE);
    const BYTE junk[20] = {};
    DataOf(2)->WriteContents(junk, sizeof junk, 0, 0);
    EXPECT_EQ(Add(100, b.get(), 2), 91u);
}

TEST_F(YdbRoadTest, ACollectionJobWithoutDataObjectStaysHarmless) {
    const auto a = Request(100, 1, 2), b = Request(100, 2, 2);
    dataClass.reset();  // the class can no longer be created
    if (YdbDataClass::create()) {
        dataClass = std::make_unique<YdbDataClass>();
        GTEST_SKIP() << "the data object class is registered in this registry";
    }
    capture.clear();
    EXPECT_EQ(Add(100, a.get(), 1, E_FAIL), 0u);
    EXPECT_EQ(traced(4).back(), "YDB creation failed");
    ASSERT_NE(Entry(2), nullptr);
    EXPECT_FALSE(Entry(2)->m_spYDBData);
    EXPECT_EQ(Add(100, b.get(), 2), 0u);
    EXPECT_EQ(traced(4).back(), "invalid interface");
    CJAsyncRQRecordHolder record;
    EXPECT_EQ(Join(100, 2, b.get(), record).status, CJ_STATUS_JOB_NOT_FOUND);
    EXPECT_EQ(Calls(b, 5), 0u);
    ULONG result = 1;
    EXPECT_EQ(object->startYDBService(100, kTyp, 0, 2, 2, nullptr, &result), S_OK);
    dataClass = std::make_unique<YdbDataClass>();
}

TEST_F(YdbRoadTest, TheWholeRoadLeavesTheJobRunningAndReleasesEveryCallback) {
    RecordingDecode cjDecode, inner;
    TearOffDecode tearOff(inner);
    {
        // The first SJ runs in CJ 2, each later one stops it for re-creation under a new id.
        for (ULONG i = 0; i < 3; ++i) {
            const ULONG cj = std::array<ULONG, 3>{2, 20, 21}[i];
            EXPECT_EQ(Walk(100, 0x80000001 + i, std::array<uint32_t, 3>{2, 3, 1}[i],
                           i == 0 ? 0 : cj, cjDecode, 7 + i),
                      cj);
            EXPECT_EQ(Entry(cj)->m_RQStatus, STATE_RUN);
        }
        EXPECT_EQ(Entry(21)->m_dwVarCount, 6u);
        const auto calls = cjDecode.calls();
        ASSERT_EQ(calls.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ((std::vector<ULONG>{static_cast<ULONG>(calls[i].cycle), calls[i].arg,
                                          calls[i].sjJobID}),
                      (std::vector<ULONG>{100, 7 + static_cast<ULONG>(i), 0x80000001}));
        }
        EXPECT_EQ(calls[2].jobID, 21u);

        // A callback behind another object's IUnknown registers all the same.
        const auto d = Request(100, 4, 1);
        Add(100, d.get(), 0x80000004);
        CJAsyncRQRecordHolder record;
        Join(100, 0x80000004, d.get(), record, &tearOff);
        EXPECT_EQ(record->m_pSJ[3].bIYDBDecodeValid, 1u);

        // Cancelling every SJ deletes the job through its callback.
        ULONG actions = 0;
        for (ULONG sj = 0x80000001; sj <= 0x80000004; ++sj) {
            actions = Cancel(sj);
        }
        EXPECT_EQ(actions, CJ_CANCEL_SJ_REMOVED | CJ_CANCEL_CJ_DELETED);
        EXPECT_EQ(cjDecode.calls().back().operation, 1);
        object.reset();
    }
    EXPECT_EQ(testing_support::refs_of(cjDecode, inner, tearOff), testing_support::released(3));
}

}  // namespace
