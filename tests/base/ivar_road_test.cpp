// The IVar road as clients walk it: adding names, joining, re-creation and confirmation,
// cancelling, deleting and updating through decode callbacks, and the job queries.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "anyptr_names.h"
#include "base/st/symcjacc/symcjacc.h"
#include "failing_new.h"
#include "registry_fixture.h"
#include "support/counting_unknown.h"
#include "support/decode_callback.h"
#include "support/record_array.h"
#include "support/scoped_setting.h"

namespace {

using anyptr_test::R;
using anyptr_test::Range;
using platform::ComPtr;
using platform::UniqueVariant;
using testing_support::CountingUnknown;
using testing_support::RecordingDecode;

// The ids of the single jobs a record holds, in order.
std::vector<ULONG> SJIDs(const CJAsyncRQRecordHolder& record) {
    std::vector<ULONG> ids;
    for (const SJAsyncRQRecord& sj : record) {
        ids.push_back(sj.ES_JobID);
    }
    return ids;
}

// What one join told the client.
struct Joined {
    ULONG cj = 0, action = 0, status = 0;
    HRESULT hr = E_FAIL;
};

// The component with its registry in view (the tests' only look behind the interface).
struct ProbedComponent : CCollectionJobSymAcc {
    using CCollectionJobSymAcc::m_bValueComparison;
    using CCollectionJobSymAcc::m_pRQ;
};

class IVarRoadTest : public testing_support::RegistryFixture {
  protected:
    void SetUp() override {
        RegistryFixture::SetUp();
        Renew();
    }
    void Renew() {
        ComPtr<ProbedComponent> made(new ProbedComponent);  // adds the first reference
        object.reset();
        ASSERT_EQ(made.query(IID_IMC_CollectionJobSymAcc, object), S_OK);
        impl = made.get();
    }

    ULONG Add(LONG cycle, LONG typ, const std::vector<Range>& ranges, ULONG sj,
              HRESULT expected = S_OK) {
        UniqueVariant names = anyptr_test::names_of(ranges);
        ULONG status = 0xDEAD;
        EXPECT_EQ(object->addSymbolsIVar(cycle, typ, *names.get(), sj, &status), expected);
        return status;
    }
    Joined Join(LONG cycle, LONG typ, ULONG sj, CJAsyncRQRecordHolder& record,
                IUnknown* icb = nullptr, ULONG actionIn = 0) {
        Joined j;
        j.action = actionIn;
        UniqueVariant names;
        j.hr = object->UpdateIVarJobEntry(cycle, typ, icb, &sj, &j.cj, names.get(), record.get(),
                                          &j.action, &j.status);
        return j;
    }
    // Add and join one SJ; a CJ stopped for re-creation is re-created under newID and confirmed.
    Joined Road(LONG cycle, LONG typ, const std::vector<Range>& ranges, ULONG sj, ULONG newID,
                IUnknown* icb = nullptr, IUnknown* decode = nullptr) {
        EXPECT_EQ(Add(cycle, typ, ranges, sj), 0u);
        CJAsyncRQRecordHolder record;
        Joined j = Join(cycle, typ, sj, record, icb);
        if ((j.action & CJ_ACTION_STOP) != 0) {
            ULONG action = j.action, status = 0;
            CJAsyncRQRecordHolder again;
            EXPECT_EQ(object->UpdateJobState(cycle, typ, sj, newID, &action, again.get(), &status),
                      S_OK);
            EXPECT_EQ(object->UpdateCJ_IVarCB(0, typ, newID, decode, &status), S_OK);
            j.cj = newID;
        }
        return j;
    }
    std::vector<anyptr_test::Row> LookupRows(ULONG cj, LONG typ) {
        UniqueVariant table;
        ULONG result = 0;
        EXPECT_EQ(object->GetIVarLookupTbl(cj, typ, table.get(), &result), S_OK);
        return table.vt() == VT_EMPTY ? std::vector<anyptr_test::Row>{}
                                      : anyptr_test::lookup_rows(table.get());
    }
    ULONG Cancel(ULONG sj, CJAsyncRQRecordHolder& record, ULONG* cj = nullptr,
                 HRESULT* hr = nullptr) {
        ULONG cjID = 0, actions = 0xDEAD, status = 0;
        record.reset();
        const HRESULT got = object->cancelASynch(sj, &cjID, record.get(), &actions, &status);
        if (cj != nullptr) {
            *cj = cjID;
        }
        if (hr != nullptr) {
            *hr = got;
        }
        return actions;
    }
    const CAsyncRQEntry* Entry(ULONG cj, LONG typ) {
        return ProbeRegistry()->GetAsychronRQArray(cj, typ);
    }
    CAsychronRQ* ProbeRegistry() { return impl->m_pRQ.get(); }

    ComPtr<IMC_CollectionJobSymAcc> object;
    ProbedComponent* impl = nullptr;
};

TEST_F(IVarRoadTest, AddsMergeByCycleAndTypeOrCreateWithinTheJobLimit) {
    EXPECT_EQ(Add(100, 9, {R(0, 1), R(5, 1), R(9, 1)}, 0x80000001), 0u);
    EXPECT_EQ(Add(100, 9, {R(20, 1), R(21, 1), R(22, 1), R(23, 1), R(24, 1)}, 0x80000002), 0u);
    const CAsyncRQEntry* cj = Entry(2, 9);
    ASSERT_NE(cj, nullptr);
    EXPECT_EQ(cj->ticks, 1);
    EXPECT_EQ(cj->m_dwLastSJ_ES_JobID, 0x80000002u);
    EXPECT_EQ(cj->m_dwVarCountAdded, 5u);
    // No SJ had joined yet: only the new names remain.
    EXPECT_EQ(LookupRows(2, 9).size(), 5u);

    // Another type has its own ids; cycle 0 never merges; the limit refuses quietly.
    EXPECT_EQ(Add(100, 1, {R(0, 1)}, 0x80000003), 0u);
    EXPECT_NE(Entry(2, 1), nullptr);
    object->setMaxJobs(5, 2048, 0);
    EXPECT_EQ(Add(0, 9, {R(0, 1)}, 0x80000004), 0u);
    EXPECT_EQ(Add(0, 9, {R(0, 1)}, 0x80000005), 0u);
    EXPECT_NE(Entry(3, 9), nullptr);
    EXPECT_NE(Entry(4, 9), nullptr);
    capture.clear();
    EXPECT_EQ(Add(0, 9, {R(0, 1)}, 0x80000006), 0u);
    EXPECT_EQ(Entry(5, 9), nullptr);
    EXPECT_EQ(traced(1).back(), "no more collection-jobs possible.");

    // An unreadable names argument fails with the status, not the HRESULT.
    VARIANT bad;
    VariantInit(&bad);
    bad.vt = VT_I4;
    ULONG status = 0;
    EXPECT_EQ(object->addSymbolsIVar(100, 9, bad, 1, &status), S_OK);
    EXPECT_EQ(status, CJ_STATUS_ADD_FAILED);
}

// Names the copies cannot take are refused before anything is looked up or copied: no CJ is
// created and a CJ that a merge would have chosen keeps its ticks and names.
TEST_F(IVarRoadTest, NamesArraysOfOtherShapesAreRefusedUpFront) {
    SAFEARRAYBOUND twoDims[2] = {{2, 0}, {2, 0}};
    UniqueVariant square;
    square->vt = VT_ARRAY | VT_VARIANT;
    square->parray = SafeArrayCreate(VT_VARIANT, 2, twoDims);
    testing_support::RecordArray records(2);
    ASSERT_TRUE(records.ready());
    UniqueVariant held = anyptr_test::names_of({R(0, 1), R(1, 1)});
    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
    byRef.pparray = &held->parray;
    VARIANT none;
    VariantInit(&none);
    none.vt = VT_ARRAY | VT_VARIANT;
    none.parray = nullptr;
    const std::pair<const char*, const VARIANT*> kinds[] = {
        {"error unsupported names array, vt 0x200C", square.get()},
        {"error unsupported names array, vt 0x2024", records.variant()},
        {"error unsupported names array, vt 0x600C", &byRef},
        {"error unsupported names array, vt 0x200C", &none},
    };
    EXPECT_EQ(Add(100, 9, {R(0, 1)}, 0x80000001), 0u);
    for (LONG cycle : {100, 200}) {  // 100 finds CJ 2 to merge into, 200 would create CJ 3
        for (const auto& kind : kinds) {
            SCOPED_TRACE(kind.first);
            capture.clear();
            ULONG status = 0;
            EXPECT_EQ(object->addSymbolsIVar(cycle, 9, *kind.second, 0x80000002, &status), S_OK);
            EXPECT_EQ(status, CJ_STATUS_ADD_FAILED);
            EXPECT_EQ(traced(4), std::vector<std::string>({kind.first}));
        }
    }
    EXPECT_EQ(Entry(2, 9)->ticks, 0);
    EXPECT_EQ(LookupRows(2, 9).size(), 1u);
    EXPECT_EQ(Entry(3, 9), nullptr);
}

TEST_F(IVarRoadTest, AFullCollectionJobIsNotChosenForAMerge) {
    std::vector<Range> many;
    for (int i = 0; i < 1025; ++i) {
        many.push_back(R(i * 2, 1));
    }
    EXPECT_EQ(Add(100, 9, many, 0x80000001), 0u);
    EXPECT_EQ(Add(100, 9, {R(0, 1)}, 0x80000002), 0u);
    EXPECT_NE(Entry(3, 9), nullptr);
    EXPECT_EQ(Entry(2, 9)->ticks, 0);
}

TEST_F(IVarRoadTest, JoinsSetTheActionWordAndStopAtTheThreshold) {
    CJAsyncRQRecordHolder record;
    // No CJ: the SJ runs alone; 0x100 changes nothing; other bits are dropped.
    Joined j = Join(100, 9, 0x80000001, record, nullptr, 0x006);
    EXPECT_EQ(j.action, CJ_ACTION_ALONE);
    EXPECT_EQ(Join(100, 9, 0x80000001, record, nullptr, CJ_ACTION_UNCHANGED).action,
              CJ_ACTION_UNCHANGED);

    Add(100, 9, {R(0, 2)}, 0x80000001);
    j = Join(100, 9, 0x80000001, record);
    EXPECT_EQ(j.action, CJ_ACTION_ALONE);  // one SJ: no re-creation yet
    EXPECT_EQ(j.cj, 0u);
    EXPECT_EQ(record->m_ES_JobID, 2u);  // the CJ as found before the join
    EXPECT_EQ(record->containing, 0u);

    Add(100, 9, {R(4, 2)}, 0x80000002);
    j = Join(100, 9, 0x80000002, record);
    EXPECT_EQ(j.action, CJ_ACTION_STOP | CJ_ACTION_RECORD);
    EXPECT_EQ(j.cj, 2u);
    EXPECT_EQ(record->m_RQStatus, STATE_STOP);
    EXPECT_EQ(record->containing, 2u);
    EXPECT_EQ(SJIDs(record), (std::vector<ULONG>{0x80000001, 0x80000002}));
    // The ring: SJ to SJ by id and back to the CJ; joined SJs are marked stopped.
    EXPECT_EQ(record->m_pSJ[0].next_ES_JobID, 0x80000002u);
    EXPECT_EQ(record->m_pSJ[1].next_ES_JobID, 2u);
    EXPECT_EQ(record->m_pSJ[0].RQStatus, SJ_STOPPED);
    EXPECT_EQ(record->m_pSJ[1].Service, 1u);
    EXPECT_EQ(record->m_pSJ[1].Typ, 9);

    // Re-created under an id above the job limit and confirmed: the next join adds 0x040.
    ULONG action = j.action, status = 1;
    CJAsyncRQRecordHolder recreated;
    ASSERT_EQ(object->UpdateJobState(100, 9, 0x80000002, 100, &action, recreated.get(), &status),
              S_OK);
    EXPECT_EQ(recreated->m_ES_JobID, 100u);
    EXPECT_EQ(recreated->m_pSJ[0].RQStatus, SJ_RECREATED);
    EXPECT_EQ(recreated->m_pSJ[0].parent_ES_JobID, 100u);
    // Confirmed by its previous id.
    ASSERT_EQ(object->UpdateCJ_IVarCB(0, 9, 2, nullptr, &status), S_OK);
    EXPECT_EQ(Entry(100, 9)->m_RQStatus, STATE_RUN);
    Add(100, 9, {R(8, 2)}, 0x80000003);
    EXPECT_EQ(Join(100, 9, 0x80000003, record).action,
              CJ_ACTION_EXTRA | CJ_ACTION_STOP | CJ_ACTION_RECORD);

    recreated.reset();
    ASSERT_EQ(object->UpdateJobState(100, 9, 0x80000009, 101, &action, recreated.get(), &status),
              S_OK);
    EXPECT_EQ(traced(4).back(), "Job 2147483657 collection job 101  not found, dwaction 16");
}

TEST_F(IVarRoadTest, AMergeDropsTheNamesOfCancelledSingleJobs) {
    CountingUnknown icb1, icb2;
    Road(100, 9, {R(0, 2), R(10, 2), R(20, 2)}, 0x80000001, 50, &icb1);
    Road(100, 9, {R(30, 2), R(40, 2)}, 0x80000002, 51, &icb2);
    ASSERT_EQ(Entry(51, 9)->m_RQStatus, STATE_RUN);
    CJAsyncRQRecordHolder record;
    EXPECT_EQ(Cancel(0x80000001, record), CJ_CANCEL_SJ_REMOVED);
    EXPECT_EQ(SJIDs(record), (std::vector<ULONG>{0x80000001, 0x80000002}));
    EXPECT_EQ(icb1.refs(), 1u);
    // The next merge leaves SJ 2's two names and the new one.
    Add(100, 9, {R(50, 2)}, 0x80000003);
    EXPECT_EQ(LookupRows(51, 9).size(), 3u);
    EXPECT_EQ(Entry(51, 9)->containing(), 1u);
    EXPECT_GT(icb2.refs(), 1u);
    object.reset();  // releases what it holds before the callbacks go
    impl = nullptr;
    EXPECT_EQ(icb2.refs(), 1u);
}

TEST_F(IVarRoadTest, TheWholeRoadMapsValuesBackAndReleasesEveryCallback) {
    CountingUnknown icb1, icb2;
    RecordingDecode ivarDecode, ydbDecode;
    {
        const std::vector<Range> first = {R(10, 4), R(100, 2)};
        const std::vector<Range> second = {R(12, 4), R(14, 1), R(300, 1, 6)};
        Road(100, 9, first, 0x80000001, 20, &icb1, &ivarDecode);
        const Joined j = Road(100, 9, second, 0x80000002, 20, &icb2, &ivarDecode);
        ASSERT_EQ(j.cj, 20u);
        ULONG status = 0;
        ASSERT_EQ(object->UpdateCJ_YDBCB(0, 9, 20, &ydbDecode, &status), S_OK);
        EXPECT_EQ(Entry(20, 9)->m_RQStatus, STATE_RUN);

        // Every requested name lies inside the reformed name its row names, at its offset.
        UniqueVariant names;
        CJAsyncRQRecordHolder record;
        ULONG sj = 0x80000002, cj = 0, action = CJ_ACTION_UNCHANGED;
        ASSERT_EQ(object->UpdateIVarJobEntry(100, 9, nullptr, &sj, &cj, names.get(), record.get(),
                                             &action, &status),
                  S_OK);
        const auto reformed = anyptr_test::reformed_ranges(names.get());
        const auto rows = LookupRows(20, 9);
        std::vector<Range> requested = first;
        requested.insert(requested.end(), second.begin(), second.end());
        ASSERT_EQ(rows.size(), requested.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            ASSERT_LT(static_cast<size_t>(rows[i][0]), reformed.size());
            const Range& in = reformed[static_cast<size_t>(rows[i][0])];
            EXPECT_TRUE(in.same_space(requested[i])) << i;
            if (rows[i][2] == 0) {  // the name passed unchanged
                EXPECT_EQ(in, requested[i]) << i;
            } else {
                EXPECT_EQ(in.start + rows[i][1], requested[i].start) << i;
                EXPECT_EQ(rows[i][2], requested[i].cnt) << i;
                EXPECT_LE(requested[i].end(), in.end()) << i;
            }
        }

        CJAsyncRQRecordHolder cancelled;
        ULONG cjID = 0;
        EXPECT_EQ(Cancel(0x80000001, cancelled, &cjID), CJ_CANCEL_SJ_REMOVED);
        EXPECT_EQ(cjID, 20u);
        EXPECT_EQ(cancelled->m_ES_JobID, 20u);
        EXPECT_EQ(Cancel(0x80000002, cancelled, &cjID),
                  CJ_CANCEL_SJ_REMOVED | CJ_CANCEL_CJ_DELETED);
        EXPECT_EQ(Entry(20, 9), nullptr);
        const auto calls = ydbDecode.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].operation, 1);
        EXPECT_EQ(calls[0].jobID, 20u);  // the previous id 2 lies below the job limit
        EXPECT_EQ(calls[0].arg, MC_DELETE_REASON_EMPTIED);
        EXPECT_TRUE(ivarDecode.calls().empty());
        object.reset();
    }
    for (const CountingUnknown* c : {&icb1, &icb2}) {
        EXPECT_EQ(c->refs(), 1u);
    }
    EXPECT_EQ(ivarDecode.refs(), 1u);
    EXPECT_EQ(ydbDecode.refs(), 1u);
}

TEST_F(IVarRoadTest, CancelOutcomesFollowTheCollectionJobsState) {
    CJAsyncRQRecordHolder record;
    // Unconfirmed CJ: removed with all its SJs.
    Add(100, 9, {R(0, 1)}, 0x80000001);
    Join(100, 9, 0x80000001, record);
    EXPECT_EQ(Cancel(0x80000001, record), CJ_CANCEL_CJ_REMOVED);
    EXPECT_EQ(Entry(2, 9), nullptr);
    // The same, unreported, for type 1001.
    Add(100, 1001, {R(0, 1)}, 0x80000002);
    Join(100, 1001, 0x80000002, record);
    EXPECT_EQ(Cancel(0x80000002, record), 0u);
    EXPECT_EQ(Entry(2, 1001), nullptr);
    // A read/write CJ named by its own id.
    Add(100, 8, {R(0, 1)}, 0x80000003);
    ULONG cj = 99;
    EXPECT_EQ(Cancel(2, record, &cj), 0u);
    EXPECT_EQ(cj, 0u);
    EXPECT_EQ(Entry(2, 8), nullptr);
    EXPECT_EQ(traced(1).back(), "read/write CollectionJob 2 was successfully deleted");
    EXPECT_EQ(Cancel(0x80000099, record), 0u);
    EXPECT_EQ(traced(4).back(), "job 2147483801 to cancel not in list");

    ULONG status = 0;
    EXPECT_EQ(object->cancelASynch(1, nullptr, record.get(), &status, &status), E_POINTER);
}

TEST_F(IVarRoadTest, DeleteAndUpdateReachTheCallbacksOutsideTheLock) {
    RecordingDecode ivarDecode, ydbDecode;
    Road(100, 9, {R(0, 1)}, 0x80000001, 0);
    Road(100, 9, {R(1, 1)}, 0x80000002, 30, nullptr, &ivarDecode);
    ULONG status = 0;
    ASSERT_EQ(object->UpdateCJ_YDBCB(0, 9, 30, &ydbDecode, &status), S_OK);
    ivarDecode.updateStatus = 0x1234;
    ydbDecode.deleteStatus = 0x77;

    EXPECT_EQ(object->updateIVarCJob(30, 9, &status), S_OK);
    EXPECT_EQ(status, 0x1234u);
    EXPECT_EQ(object->updateYDBCJob(30, 9, &status), S_OK);
    EXPECT_EQ(object->updateYDBCJob(31, 9, &status), S_OK);
    EXPECT_EQ(status, CJ_STATUS_UPDATE_NOT_FOUND);
    EXPECT_EQ(object->deleteYDBCJob(30, 9, 5, &status), S_OK);
    EXPECT_EQ(status, 0x77u);
    EXPECT_EQ(object->deleteIVarCJob(2, 9, 6, &status), S_OK);  // by its previous id
    // Both slots were fetched with revocation: a second delete finds no callback.
    capture.clear();
    EXPECT_EQ(object->deleteYDBCJob(30, 9, 5, &status), S_OK);
    EXPECT_EQ(traced(3).back(), "CB of collection job 30  revoked");
    EXPECT_EQ(object->deleteYDBCJob(31, 9, 5, &status), S_OK);
    EXPECT_EQ(traced(3).back(), "CJ ES_JobID 31 not found");

    const auto ivar = ivarDecode.calls();
    ASSERT_EQ(ivar.size(), 2u);
    EXPECT_EQ((std::vector<ULONG>{ivar[0].jobID, ivar[0].arg, static_cast<ULONG>(ivar[0].cycle)}),
              (std::vector<ULONG>{2, 2, 100}));  // update: previous id, the record by value
    EXPECT_EQ((std::vector<ULONG>{ivar[1].jobID, ivar[1].arg}), (std::vector<ULONG>{2, 6}));
    const auto ydb = ydbDecode.calls();
    ASSERT_EQ(ydb.size(), 2u);
    EXPECT_EQ((std::vector<ULONG>{ydb[0].jobID, ydb[1].jobID, ydb[1].arg}),
              (std::vector<ULONG>{30, 30, 5}));
    EXPECT_EQ(object->deleteYDBCJob(30, 9, 5, nullptr), E_POINTER);
    object.reset();
    EXPECT_EQ(ivarDecode.refs(), 1u);
    EXPECT_EQ(ydbDecode.refs(), 1u);
}

TEST_F(IVarRoadTest, RepeatedConfirmationsKeepOnlyTwoRegistrations) {
    Add(100, 9, {R(0, 1)}, 0x80000001);
    RecordingDecode first, second, third;
    ULONG status = 0;
    for (RecordingDecode* d : {&first, &second, &third}) {
        ASSERT_EQ(object->UpdateCJ_IVarCB(0, 9, 2, d, &status), S_OK);
    }
    EXPECT_EQ(first.refs(), 1u);  // replaced twice: released, not leaked
    EXPECT_GT(second.refs(), 1u);
    EXPECT_GT(third.refs(), 1u);
    object.reset();
    for (const RecordingDecode* d : {&first, &second, &third}) {
        EXPECT_EQ(d->refs(), 1u);
    }
}

TEST_F(IVarRoadTest, QueriesAnswerForSingleAndCollectionJobs) {
    Road(100, 0x20, {R(0, 1)}, 7, 0);  // alone: never re-created
    Road(200, 0x30, {R(0, 1)}, 8, 0);
    LONG typ = 0, cycle = 0;
    ULONG status = 0;
    EXPECT_EQ(object->getJobProperties(7, &typ, &cycle, &status), S_OK);
    EXPECT_EQ((std::vector<LONG>{typ, cycle}), (std::vector<LONG>{0x20, 100}));
    impl->m_bValueComparison = true;
    EXPECT_EQ(object->getJobProperties(7, &typ, &cycle, &status), S_OK);
    EXPECT_EQ(typ, 1);
    EXPECT_EQ(object->getJobProperties(8, &typ, &cycle, &status), S_OK);
    EXPECT_EQ(typ, 0x30);
    EXPECT_EQ(object->getJobProperties(9, &typ, &cycle, &status), S_OK);
    EXPECT_EQ(status, CJ_STATUS_JOB_NOT_FOUND);
    EXPECT_EQ(object->getJobProperties(9, nullptr, &cycle, &status), E_POINTER);

    ULONG job = 5;
    EXPECT_EQ(object->getRt_JobID(100, 0, &job, &status), S_OK);
    EXPECT_EQ(job, 5u);
    EXPECT_EQ(object->setRt_JobID(100, 0x20, 7, 0, 0x12, &status), S_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(object->setRt_JobID(100, 0x20, 99, 3, 0x13, &status), S_OK);
    EXPECT_EQ(status, CJ_STATUS_JOB_NOT_FOUND);
    Road(100, 0x20, {R(1, 1)}, 0x80000007, 40);
    job = 0x80000007;
    EXPECT_EQ(object->getRt_JobID(100, 0, &job, &status), S_OK);
    EXPECT_EQ(job, 0x12u);

    ULONG cj = 9, state = 0;
    EXPECT_EQ(object->existCycle(100, 0x20, 7, &cj, &state), S_OK);
    EXPECT_EQ((std::vector<ULONG>{cj, state}), (std::vector<ULONG>{40, 8}));
    EXPECT_EQ(object->existCycle(300, 0x20, 7, &cj, &state), S_OK);
    EXPECT_EQ((std::vector<ULONG>{cj, state}), (std::vector<ULONG>{0, 4}));
    EXPECT_EQ(object->existCycle(300, 0x20, 7, nullptr, &state), E_POINTER);

    UniqueVariant table;
    EXPECT_EQ(object->GetIVarLookupTbl(77, 9, table.get(), &status), E_FAIL);
}

TEST_F(IVarRoadTest, EightClientThreadsWalkTheRoadAtOnce) {
    capture.levels(1, 1, 1u << 4);  // errors only: the dumps would dominate the run
    std::atomic<ULONG> nextCJ{1000};
    std::atomic<int> answered{0};
    CountingUnknown icb;
    RecordingDecode decode;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                ULONG sj = 0;
                object->newJobID(&sj);
                const LONG cycle = 100 * (1 + (t + i) % 3);
                const Joined j =
                    Road(cycle, 9, {R(t * 10 + i, 2), R(500 + i, 1)}, sj, nextCJ++, &icb, &decode);
                UniqueVariant table;
                ULONG result = 0;
                object->GetIVarLookupTbl(j.cj, 9, table.get(), &result);
                CJAsyncRQRecordHolder record;
                HRESULT hr = E_FAIL;
                Cancel(sj, record, nullptr, &hr);
                answered += hr == S_OK ? 1 : 0;
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(answered, 200);
    object.reset();
    EXPECT_EQ(icb.refs(), 1u);
    EXPECT_EQ(decode.refs(), 1u);
}

// A decode callback that runs a step of another client the first time it is asked for an
// interface after being armed: inside the window in which a delete has released the lock to
// fetch it from the table.
struct InterposingDecode : RecordingDecode {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (std::function<void()> step = std::exchange(interpose, nullptr)) {
            step();
        }
        return RecordingDecode::QueryInterface(riid, ppv);
    }
    std::function<void()> interpose;
};

TEST_F(IVarRoadTest, ADeleteKeepsWhatHappenedWhileItFetchedTheCallback) {
    // Per side: delete B fetches the callback; meanwhile delete A revokes that registration and
    // a confirmation registers a new one. B must not write its stale cookies back over it.
    for (const bool ydb : {true, false}) {
        SCOPED_TRACE(ydb ? "IYDBDecode" : "ICB_Decode");
        Renew();
        InterposingDecode first;
        RecordingDecode second;
        {
            auto confirm = [&](IUnknown* decode) {
                ULONG status = 0;
                ASSERT_EQ(ydb ? object->UpdateCJ_YDBCB(0, 9, 2, decode, &status)
                              : object->UpdateCJ_IVarCB(0, 9, 2, decode, &status),
                          S_OK);
            };
            auto remove = [&] {
                ULONG status = 0;
                ASSERT_EQ(ydb ? object->deleteYDBCJob(2, 9, 5, &status)
                              : object->deleteIVarCJob(2, 9, 5, &status),
                          S_OK);
            };
            Road(100, 9, {R(0, 1)}, 0x80000001, 0);
            confirm(&first);
            first.interpose = [&] {
                remove();
                confirm(&second);
            };
            remove();
            EXPECT_EQ(first.calls().size(), 2u);  // B was handed the callback it fetched
            remove();                             // reaches the registration made meanwhile
            ASSERT_EQ(second.calls().size(), 1u);
            EXPECT_EQ(second.calls()[0].arg, 5u);
            object.reset();
        }
        EXPECT_EQ(first.refs(), 1u);
        EXPECT_EQ(second.refs(), 1u);
    }
}

TEST_F(IVarRoadTest, JobsSharingAnIdWithAnotherClientsJobAreHandledAsThemselves) {
    CountingUnknown icbA1, icbA2, icbA3, icbB1, icbB2;
    RecordingDecode decodeA, decodeB;
    ULONG status = 0;
    auto client = [&](LONG cycle, ULONG sj1, ULONG sj2, IUnknown* icb1, IUnknown* icb2,
                      RecordingDecode& decode) {
        Road(cycle, 9, {R(0, 1)}, sj1, 50, icb1, &decode);
        Road(cycle, 9, {R(1, 1)}, sj2, 50, icb2, &decode);
        ASSERT_EQ(object->UpdateCJ_YDBCB(0, 9, 50, &decode, &status), S_OK);
    };
    // Both clients re-create their collection job under id 50; B's is the newer one.
    client(100, 0x80000001, 0x80000002, &icbA1, &icbA2, decodeA);
    // A third SJ stops A's job; unreported, it is dropped at the next merge into it.
    Add(100, 9, {R(2, 1)}, 0x80000003);
    CJAsyncRQRecordHolder record;
    ASSERT_EQ(Join(100, 9, 0x80000003, record, &icbA3).action & CJ_ACTION_STOP, CJ_ACTION_STOP);
    client(200, 0x80000011, 0x80000012, &icbB1, &icbB2, decodeB);
    ASSERT_EQ(Entry(50, 9)->ms, 200);

    Add(100, 9, {R(3, 1)}, 0x80000004);
    EXPECT_EQ(icbA3.refs(), 1u);  // the dropped SJ's own callback, not one of B's
    EXPECT_EQ(Cancel(0x80000001, record), CJ_CANCEL_SJ_REMOVED);
    EXPECT_EQ(icbA1.refs(), 1u);
    EXPECT_EQ(Cancel(0x80000002, record), CJ_CANCEL_SJ_REMOVED | CJ_CANCEL_CJ_DELETED);
    EXPECT_EQ(decodeA.calls().size(), 1u);
    EXPECT_TRUE(decodeB.calls().empty());
    LONG typ = 0, cycle = 0;
    EXPECT_EQ(object->getJobProperties(0x80000002, &typ, &cycle, &status), S_OK);
    EXPECT_EQ(status, CJ_STATUS_JOB_NOT_FOUND);  // A's job is gone
    EXPECT_EQ(object->getJobProperties(0x80000011, &typ, &cycle, &status), S_OK);
    EXPECT_EQ((std::vector<ULONG>{status, static_cast<ULONG>(cycle)}),
              (std::vector<ULONG>{0, 200}));  // B's stays
    EXPECT_GT(icbB1.refs(), 1u);
    object.reset();
    for (const CountingUnknown* c : {&icbA1, &icbA2, &icbA3, &icbB1, &icbB2}) {
        EXPECT_EQ(c->refs(), 1u);
    }
    EXPECT_EQ(decodeB.refs(), 1u);
}

TEST_F(IVarRoadTest, AFailedMergeKeepsTheNamesAndTableTheJobRunsOn) {
    // Reforming (setting 2) allocates as it goes: fail each of the merge's allocations in turn.
    {
        testing_support::ScopedSetting merge(OLESTR("OnlServer\\Collection"),
                                             OLESTR("AnyptrOptimizer"), 2);
        CAnyPtrOptimizer::forgetOptimizerSetting();
        CAnyPtrOptimizer read;
        ASSERT_EQ(read.initOptimizer(), S_OK);  // kept for the process from here on
        ASSERT_EQ(read.state(), 2u);
    }
    for (int n = 0;; ++n) {
        SCOPED_TRACE(n);
        Renew();
        Add(100, 9, {R(0, 2), R(2, 2)}, 0x80000001);
        CJAsyncRQRecordHolder record;
        Join(100, 9, 0x80000001, record);
        UniqueVariant names = anyptr_test::names_of({R(10, 2)});
        ULONG status = 0;
        capture.levels(1, 1, 0);  // the trace sink allocates too; keep it out of the count
        testing_support::FailAllocationAfter(n);
        const HRESULT hr = object->addSymbolsIVar(100, 9, *names.get(), 0x80000002, &status);
        const bool failed = testing_support::StopFailingAllocations();
        capture.levels(1, 1, 1u << 4);
        // What a client reads after the merge: the names of step 3 and the table matching them.
        UniqueVariant target;
        ULONG sj = 0x80000001, cj = 0, action = CJ_ACTION_UNCHANGED;
        ASSERT_EQ(object->UpdateIVarJobEntry(100, 9, nullptr, &sj, &cj, target.get(), record.get(),
                                             &action, &status),
                  S_OK);
        const auto rows = LookupRows(2, 9);
        const size_t reformed = anyptr_test::reformed_ranges(target.get()).size();
        EXPECT_TRUE(rows.size() == 2 || rows.size() == 3) << rows.size();
        for (const anyptr_test::Row& row : rows) {
            EXPECT_LT(static_cast<size_t>(row[0]), reformed);
        }
        if (!failed) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(rows.size(), 3u);
            break;
        }
    }
    CAnyPtrOptimizer::forgetOptimizerSetting();
}

TEST_F(IVarRoadTest, ZeroingCallsTakeAnUnzeroedRecordWithoutFreeingIt) {
    // What an unzeroed record may hold: bytes that look like a VARIANT with an interface.
    CountingUnknown held;
    auto unzeroed = [&](CJAsyncRQRecordHolder& r) {
        std::memset(static_cast<void*>(r.get()), 0xCD, sizeof *r.get());
        r->m_LookupTbl.vt = VT_UNKNOWN;
        r->m_LookupTbl.punkVal = &held;  // not a reference the record owns
        r->m_pSJ = nullptr;
    };
    Road(100, 9, {R(0, 1)}, 0x80000001, 0);
    Road(100, 9, {R(1, 1)}, 0x80000002, 60);
    ULONG action = 0, status = 0, cj = 0, actions = 0;
    for (const ULONG sj : {0x80000001u, 0x80000099u}) {  // found and not found
        CJAsyncRQRecordHolder r;
        unzeroed(r);
        EXPECT_EQ(object->UpdateJobState(100, 9, sj, 60, &action, r.get(), &status), S_OK);
        EXPECT_EQ(held.refs(), 1u);
        EXPECT_EQ(r->m_ES_JobID, sj == 0x80000001u ? 60u : 0u);
    }
    for (const ULONG sj : {0x80000001u, 0x80000099u}) {  // fills the record; not found
        CJAsyncRQRecordHolder r;
        unzeroed(r);
        EXPECT_EQ(object->cancelASynch(sj, &cj, r.get(), &actions, &status), S_OK);
        EXPECT_EQ(held.refs(), 1u);
        EXPECT_EQ(r->containing, sj == 0x80000001u ? 2u : 0u);
    }
}

}  // namespace
