// The IVar road as clients walk it: adding names, joining, re-creation and confirmation,
// cancelling, deleting and updating through decode callbacks, and the job queries.
#include <gtest/gtest.h>

#include <functional>
#include <utility>
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

// What one join or cancel told the client.
struct Answer {
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
    ULONG Add(LONG cycle, LONG typ, const std::vector<Range>& ranges, ULONG sj) {
        UniqueVariant names = anyptr_test::names_of(ranges);
        ULONG status = 0xDEAD;
        EXPECT_EQ(object->addSymbolsIVar(cycle, typ, *names.get(), sj, &status), S_OK);
        return status;
    }
    Answer Join(LONG cycle, LONG typ, ULONG sj, CJAsyncRQRecordHolder& record,
                IUnknown* icb = nullptr, ULONG actionIn = 0, VARIANT* names = nullptr) {
        Answer j;
        j.action = actionIn;
        UniqueVariant own;
        j.hr = object->UpdateIVarJobEntry(cycle, typ, icb, &sj, &j.cj, names ? names : own.get(),
                                          record.get(), &j.action, &j.status);
        return j;
    }
    // Add and join one SJ; a CJ stopped for re-creation is re-created under newID and confirmed.
    Answer Road(LONG cycle, LONG typ, const std::vector<Range>& ranges, ULONG sj, ULONG newID,
                IUnknown* icb = nullptr, IUnknown* decode = nullptr) {
        EXPECT_EQ(Add(cycle, typ, ranges, sj), 0u);
        CJAsyncRQRecordHolder record;
        Answer j = Join(cycle, typ, sj, record, icb);
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
    // The actions a cancel answers; its CJ and HRESULT in the other fields. The record is the
    // caller's to free: the cancel only zeroes it.
    Answer Cancel(ULONG sj, CJAsyncRQRecordHolder& record) {
        record.reset();
        Answer a;
        a.action = 0xDEAD;
        a.hr = object->cancelASynch(sj, &a.cj, record.get(), &a.action, &a.status);
        return a;
    }
    ULONG CancelActions(ULONG sj) {
        CJAsyncRQRecordHolder record;
        return Cancel(sj, record).action;
    }
    const CAsyncRQEntry* Entry(ULONG cj, LONG typ) {
        return impl->m_pRQ->GetAsychronRQArray(cj, typ);
    }

    ComPtr<IMC_CollectionJobSymAcc> object;
    ProbedComponent* impl = nullptr;
};

TEST_F(IVarRoadTest, AddsMergeByCycleAndTypeOrCreateWithinTheJobLimit) {
    EXPECT_EQ(Add(100, 9, {R(0, 1), R(5, 1), R(9, 1)}, 0x80000001), 0u);
    EXPECT_EQ(Add(100, 9, {R(20, 1), R(21, 1), R(22, 1), R(23, 1), R(24, 1)}, 0x80000002), 0u);
    const CAsyncRQEntry* cj = Entry(2, 9);
    ASSERT_NE(cj, nullptr);
    // No SJ had joined yet: only the new names remain.
    EXPECT_EQ((std::vector<ULONG>{static_cast<ULONG>(cj->ticks), cj->m_dwLastSJ_ES_JobID,
                                  cj->m_dwVarCountAdded, ULONG(LookupRows(2, 9).size())}),
              (std::vector<ULONG>{1, 0x80000002, 5, 5}));

    // Another type has its own ids; cycle 0 never merges; the limit refuses quietly.
    EXPECT_EQ(Add(100, 1, {R(0, 1)}, 0x80000003), 0u);
    EXPECT_NE(Entry(2, 1), nullptr);
    object->setMaxJobs(5, 2048, 0);
    for (ULONG sj = 0x80000004; sj <= 0x80000006; ++sj) {
        EXPECT_EQ(Add(0, 9, {R(0, 1)}, sj), 0u);
    }
    EXPECT_NE(Entry(4, 9), nullptr);
    EXPECT_EQ(Entry(5, 9), nullptr);
    EXPECT_EQ(traced(1).back(), "no more collection-jobs possible.");
}

// Names the copies cannot take are refused before anything is looked up or copied: no CJ is
// created and a CJ that a merge would have chosen keeps its ticks and names.
TEST_F(IVarRoadTest, NamesArraysOfOtherShapesAreRefusedUpFront) {
    UniqueVariant square = anyptr_test::square_names(), held = anyptr_test::names_of({R(0, 1)});
    testing_support::RecordArray records(2);
    ASSERT_TRUE(records.ready());
    VARIANT byRef{}, none{};
    byRef.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
    byRef.pparray = &held->parray;
    none.vt = VT_ARRAY | VT_VARIANT;
    const std::pair<const char*, const VARIANT*> kinds[] = {
        // error traced, names
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
    EXPECT_EQ(Join(100, 9, 0x80000001, record, nullptr, 0x006).action, CJ_ACTION_ALONE);
    EXPECT_EQ(Join(100, 9, 0x80000001, record, nullptr, CJ_ACTION_UNCHANGED).action,
              CJ_ACTION_UNCHANGED);

    Add(100, 9, {R(0, 2)}, 0x80000001);
    Answer j = Join(100, 9, 0x80000001, record);
    EXPECT_EQ((std::vector<ULONG>{j.action, j.cj, record->m_ES_JobID, record->containing}),
              (std::vector<ULONG>{CJ_ACTION_ALONE, 0, 2, 0}));  // one SJ: no re-creation yet
    Add(100, 9, {R(4, 2)}, 0x80000002);
    j = Join(100, 9, 0x80000002, record);
    EXPECT_EQ((std::vector<ULONG>{j.action, j.cj}),
              (std::vector<ULONG>{CJ_ACTION_STOP | CJ_ACTION_RECORD, 2}));
    EXPECT_EQ(record->m_RQStatus, STATE_STOP);
    EXPECT_EQ(SJIDs(record), (std::vector<ULONG>{0x80000001, 0x80000002}));
    // The ring: SJ to SJ by id and back to the CJ; joined SJs are marked stopped.
    const SJAsyncRQRecord* sj = record->m_pSJ;
    EXPECT_EQ((std::vector<ULONG>{sj[0].next_ES_JobID, sj[1].next_ES_JobID, sj[0].RQStatus,
                                  sj[1].Service, static_cast<ULONG>(sj[1].Typ)}),
              (std::vector<ULONG>{0x80000002, 2, SJ_STOPPED, 1, 9}));

    // Re-created under an id above the job limit and confirmed: the next join adds 0x040.
    ULONG action = j.action, status = 1;
    CJAsyncRQRecordHolder recreated;
    ASSERT_EQ(object->UpdateJobState(100, 9, 0x80000002, 100, &action, recreated.get(), &status),
              S_OK);
    EXPECT_EQ((std::vector<ULONG>{recreated->m_ES_JobID, recreated->m_pSJ[0].RQStatus,
                                  recreated->m_pSJ[0].parent_ES_JobID}),
              (std::vector<ULONG>{100, SJ_RECREATED, 100}));
    ASSERT_EQ(object->UpdateCJ_IVarCB(0, 9, 2, nullptr, &status), S_OK);  // by its previous id
    EXPECT_EQ(Entry(100, 9)->m_RQStatus, STATE_RUN);
    Add(100, 9, {R(8, 2)}, 0x80000003);
    EXPECT_EQ(Join(100, 9, 0x80000003, record).action,
              CJ_ACTION_EXTRA | CJ_ACTION_STOP | CJ_ACTION_RECORD);
}

TEST_F(IVarRoadTest, AMergeDropsTheNamesOfCancelledSingleJobs) {
    CountingUnknown icb1, icb2;
    Road(100, 9, {R(0, 2), R(10, 2), R(20, 2)}, 0x80000001, 50, &icb1);
    Road(100, 9, {R(30, 2), R(40, 2)}, 0x80000002, 51, &icb2);
    ASSERT_EQ(Entry(51, 9)->m_RQStatus, STATE_RUN);
    CJAsyncRQRecordHolder record;
    EXPECT_EQ(Cancel(0x80000001, record).action, CJ_CANCEL_SJ_REMOVED);
    EXPECT_EQ(SJIDs(record), (std::vector<ULONG>{0x80000001, 0x80000002}));
    EXPECT_EQ(icb1.refs(), 1u);
    // The next merge leaves SJ 2's two names and the new one.
    Add(100, 9, {R(50, 2)}, 0x80000003);
    EXPECT_EQ(LookupRows(51, 9).size(), 3u);
    EXPECT_EQ(Entry(51, 9)->containing(), 1u);
    EXPECT_GT(icb2.refs(), 1u);
    object.reset();  // releases what it holds before the callbacks go
    EXPECT_EQ(icb2.refs(), 1u);
}

TEST_F(IVarRoadTest, CancelOutcomesFollowTheCollectionJobsState) {
    CJAsyncRQRecordHolder record;
    // Unconfirmed CJ: removed with all its SJs; unreported for type 1001.
    for (const LONG typ : {9, 1001}) {
        Add(100, typ, {R(0, 1)}, 0x80000001);
        Join(100, typ, 0x80000001, record);
        EXPECT_EQ(CancelActions(0x80000001), typ == 9 ? CJ_CANCEL_CJ_REMOVED : 0u);
        EXPECT_EQ(Entry(2, typ), nullptr);
    }
    // A read/write CJ named by its own id.
    Add(100, 8, {R(0, 1)}, 0x80000003);
    Answer a = Cancel(2, record);
    EXPECT_EQ((std::vector<ULONG>{a.action, a.cj}), (std::vector<ULONG>{0, 0}));
    EXPECT_EQ(Entry(2, 8), nullptr);
    EXPECT_EQ(traced(1).back(), "read/write CollectionJob 2 was successfully deleted");
}

TEST_F(IVarRoadTest, DeleteAndUpdateReachTheCallbacksOutsideTheLock) {
    RecordingDecode ivarDecode, ydbDecode;
    Road(100, 9, {R(0, 1)}, 0x80000001, 0);
    Road(100, 9, {R(1, 1)}, 0x80000002, 30, nullptr, &ivarDecode);
    ULONG status = 0;
    ASSERT_EQ(object->UpdateCJ_YDBCB(0, 9, 30, &ydbDecode, &status), S_OK);
    ivarDecode.updateStatus = 0x1234;
    ydbDecode.deleteStatus = 0x77;

    ULONG update = 0, remove = 0;
    EXPECT_EQ(object->updateIVarCJob(30, 9, &update), S_OK);
    EXPECT_EQ(object->updateYDBCJob(30, 9, &status), S_OK);
    EXPECT_EQ(object->deleteYDBCJob(30, 9, 5, &remove), S_OK);
    EXPECT_EQ((std::vector<ULONG>{update, remove}), (std::vector<ULONG>{0x1234, 0x77}));
    EXPECT_EQ(object->deleteIVarCJob(2, 9, 6, &status), S_OK);  // by its previous id
    // Both slots were fetched with revocation: a second delete finds no callback.
    capture.clear();
    EXPECT_EQ(object->deleteYDBCJob(30, 9, 5, &status), S_OK);
    EXPECT_EQ(traced(3).back(), "CB of collection job 30  revoked");

    const auto ivar = ivarDecode.calls();
    ASSERT_EQ(ivar.size(), 2u);
    EXPECT_EQ((std::vector<ULONG>{ivar[0].jobID, ivar[0].arg, static_cast<ULONG>(ivar[0].cycle)}),
              (std::vector<ULONG>{2, 2, 100}));  // update: previous id, the record by value
    EXPECT_EQ((std::vector<ULONG>{ivar[1].jobID, ivar[1].arg}), (std::vector<ULONG>{2, 6}));
    const auto ydb = ydbDecode.calls();
    ASSERT_EQ(ydb.size(), 2u);
    EXPECT_EQ((std::vector<ULONG>{ydb[0].jobID, ydb[1].jobID, ydb[1].arg}),
              (std::vector<ULONG>{30, 30, 5}));
    object.reset();
    EXPECT_EQ(testing_support::refs_of(ivarDecode, ydbDecode), testing_support::released(2));
}

TEST_F(IVarRoadTest, RepeatedConfirmationsKeepOnlyTwoRegistrations) {
    Add(100, 9, {R(0, 1)}, 0x80000001);
    RecordingDecode first, second, third;
    ULONG status = 0;
    for (RecordingDecode* d : {&first, &second, &third}) {
        ASSERT_EQ(object->UpdateCJ_IVarCB(0, 9, 2, d, &status), S_OK);
    }
    EXPECT_EQ(first.refs(), 1u);  // replaced twice: released, not leaked
    EXPECT_EQ((std::vector<bool>{second.refs() > 1, third.refs() > 1}),
              (std::vector<bool>{true, true}));
    object.reset();
    EXPECT_EQ(testing_support::refs_of(second, third), testing_support::released(2));
}

TEST_F(IVarRoadTest, QueriesAnswerForSingleAndCollectionJobs) {
    Road(100, 0x20, {R(0, 1)}, 7, 0);  // alone: never re-created
    Road(200, 0x30, {R(0, 1)}, 8, 0);
    LONG typ = 0, cycle = 0;
    ULONG status = 0;
    EXPECT_EQ(object->getJobProperties(7, &typ, &cycle, &status), S_OK);
    EXPECT_EQ((std::vector<LONG>{typ, cycle}), (std::vector<LONG>{0x20, 100}));
    impl->m_bValueComparison = true;  // answers type 1 for IVar jobs
    EXPECT_EQ(object->getJobProperties(7, &typ, &cycle, &status), S_OK);
    EXPECT_EQ(typ, 1);
    EXPECT_EQ(object->getJobProperties(8, &typ, &cycle, &status), S_OK);
    EXPECT_EQ(typ, 0x30);

    ULONG job = 5;
    EXPECT_EQ(object->getRt_JobID(100, 0, &job, &status), S_OK);
    EXPECT_EQ(job, 5u);
    EXPECT_EQ(object->setRt_JobID(100, 0x20, 7, 0, 0x12, &status), S_OK);
    EXPECT_EQ(status, 0u);
    Road(100, 0x20, {R(1, 1)}, 0x80000007, 40);
    job = 0x80000007;
    EXPECT_EQ(object->getRt_JobID(100, 0, &job, &status), S_OK);
    EXPECT_EQ(job, 0x12u);
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
        EXPECT_EQ(testing_support::refs_of(first, second), testing_support::released(2));
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
    EXPECT_EQ(CancelActions(0x80000001), CJ_CANCEL_SJ_REMOVED);
    EXPECT_EQ(icbA1.refs(), 1u);
    EXPECT_EQ(CancelActions(0x80000002), CJ_CANCEL_SJ_REMOVED | CJ_CANCEL_CJ_DELETED);
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
    EXPECT_EQ(testing_support::refs_of(icbA1, icbA2, icbA3, icbB1, icbB2, decodeB),
              testing_support::released(6));
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
        Join(100, 9, 0x80000001, record, nullptr, CJ_ACTION_UNCHANGED, target.get());
        const auto rows = LookupRows(2, 9);
        const size_t reformed = anyptr_test::reformed_ranges(target.get()).size();
        EXPECT_TRUE(rows.size() == 3 || (failed && rows.size() == 2)) << rows.size();
        for (const anyptr_test::Row& row : rows) {
            EXPECT_LT(static_cast<size_t>(row[0]), reformed);
        }
        if (!failed) {
            EXPECT_EQ(hr, S_OK);
            break;
        }
    }
    CAnyPtrOptimizer::forgetOptimizerSetting();
}

}  // namespace
