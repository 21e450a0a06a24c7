// The request registry: which entry each lookup finds, deep copies, and the removal of SJs and
// whole CJs with the callbacks they held.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <utility>

#include "base/st/symcjacc/asychronrq.h"
#include "failing_new.h"
#include "registry_fixture.h"
#include "support/counting_unknown.h"
#include "support/decode_callback.h"

namespace {

using testing_support::CountingUnknown;
using testing_support::RecordingDecode;

CAsyncRQEntry MakeCJ(ULONG id, LONG typ, LONG cycle) {
    CAsyncRQEntry cj;
    cj.m_ES_JobID = id;
    cj.m_Typ = typ;
    cj.ms = cycle;
    return cj;
}

SAsyncSymRQEntry MakeSJ(ULONG id) {
    SAsyncSymRQEntry sj;
    sj.ES_JobID = id;
    return sj;
}

class AsyncRegistryTest : public testing_support::RegistryFixture {};

TEST_F(AsyncRegistryTest, LookupsFindTheNewestMatchingEntry) {
    CAsychronRQ rq;
    CAsyncRQEntry* older = rq.AddAsychronRQ(MakeCJ(2, 9, 100));
    CAsyncRQEntry* newer = rq.AddAsychronRQ(MakeCJ(2, 9, 100));
    CAsyncRQEntry* otherType = rq.AddAsychronRQ(MakeCJ(2, 1, 100));
    ASSERT_NE(older, newer);
    EXPECT_EQ(rq.GetAsychronRQArray(2, 9), newer);
    EXPECT_EQ(rq.GetAsychronRQArray(2, 1), otherType);
    EXPECT_EQ(rq.GetAsychronRQArray(2), otherType);  // any type: the newest of all
    EXPECT_EQ(rq.GetAsyncCJRQArray(100, 9, 1024, 8192, 0, 0), newer);
    EXPECT_EQ(rq.GetAsychronRQArray(3, 9), nullptr);

    // Renumbered: the previous id still finds it with the type, but not alone or for removal.
    newer->m_dwPrev_ES_JobID = 2;
    newer->m_ES_JobID = 7;
    older->m_ES_JobID = 5;
    rq.Reindex(*newer);
    rq.Reindex(*older);
    EXPECT_EQ(rq.GetAsychronRQArray(2, 9), newer);
    EXPECT_EQ(rq.GetAsychronRQArray(7, 9), newer);
    EXPECT_EQ(rq.GetAsychronRQArray(2), otherType);
    capture.clear();
    EXPECT_EQ(rq.KillAsychronRQ(2, 9, 0, false), S_OK);
    EXPECT_EQ(rq.GetAsychronRQArray(7, 9), newer);
    EXPECT_TRUE(traced().empty());
}

TEST_F(AsyncRegistryTest, SingleJobsAreFoundByTheLastAskerOrTheList) {
    CAsychronRQ rq;
    CAsyncRQEntry* cj = rq.AddAsychronRQ(MakeCJ(2, 9, 100));
    cj->m_dwLastSJ_ES_JobID = 0x80000005;
    rq.Reindex(*cj);
    SAsyncSymRQEntry sj = MakeSJ(0x80000001);
    EXPECT_EQ(rq.AddAsyncSymRQ(3, &sj, 9), nullptr);  // no such CJ: nothing stored
    SAsyncSymRQEntry* stored = rq.AddAsyncSymRQ(2, &sj, 9);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ((std::vector<size_t>{rq.GetSymSize(2, 9), rq.GetSymSize(2, 1)}),
              (std::vector<size_t>{1, 0}));
    EXPECT_EQ(CAsychronRQ::GetAsychronSymRQArray(cj, 0x80000001), stored);
    EXPECT_EQ(rq.GetAsyncCJRQArray(100, 9, 0x80000001), cj);
    EXPECT_EQ(rq.GetAsyncCJRQArray(100, 9, 0x80000005), cj);
    EXPECT_EQ(rq.GetAsyncCJRQArray(100, 9, 0x80000006), nullptr);
    EXPECT_EQ(rq.GetAsyncCJRQArray(100, 1, 0x80000001), nullptr);
    EXPECT_EQ(traced(1).back(), "SJ ES_JobID: 2147483649 inserted to CJ ES_JobID: 2");
}

TEST_F(AsyncRegistryTest, CopiesAreDeepAndAFailedCopyChangesNothing) {
    CountingUnknown data;
    CAsychronRQ rq;
    {
        CAsyncRQEntry cj = MakeCJ(2, 9, 100);
        cj.m_spYDBData = platform::ComPtr<IUnknown>(&data);  // adds a reference
        cj.m_vNames->vt = VT_BSTR;
        cj.m_vNames->bstrVal = SysAllocString(OLESTR("name"));
        cj.m_SJList.push_back(MakeSJ(11));
        CAsyncRQEntry* stored = rq.AddAsychronRQ(cj);
        EXPECT_EQ(data.refs(), 3u);
        EXPECT_NE(stored->m_vNames->bstrVal, cj.m_vNames->bstrVal);
        EXPECT_EQ(stored->containing(), 1u);

        // An uncopyable VARIANT: the exception carries the HRESULT, the list stays as it was.
        CAsyncRQEntry bad = MakeCJ(3, 9, 100);
        bad.m_vLookupTbl->vt = 0x7FFF;
        try {
            rq.AddAsychronRQ(bad);
            ADD_FAILURE() << "copy did not fail";
        } catch (const CAsyncRQCopyError& e) {
            EXPECT_TRUE(FAILED(e.hr()));
        }
        bad.m_vLookupTbl->vt = VT_EMPTY;
        EXPECT_EQ(rq.Entries().size(), 1u);
        // Assignment from an uncopyable entry leaves the target whole.
        CAsyncRQEntry target = MakeCJ(4, 9, 100);
        CAsyncRQEntry uncopyable;
        uncopyable.m_vNames->vt = 0x7FFF;
        EXPECT_THROW(target = uncopyable, CAsyncRQCopyError);
        uncopyable.m_vNames->vt = VT_EMPTY;
        EXPECT_EQ(target.m_ES_JobID, 4u);
    }
    EXPECT_EQ(data.refs(), 2u);  // the registry's copy still holds one
    EXPECT_EQ(rq.KillAsychronRQ(2, 9, 0, false), S_OK);
    EXPECT_EQ(data.refs(), 1u);
}

TEST_F(AsyncRegistryTest, KillingACollectionJobReleasesEveryCallbackInOrder) {
    CountingUnknown icb, cjIcb;
    RecordingDecode decode, cjDecode;
    {
        CAsychronRQ rq;
        CAsyncRQEntry* cj = rq.AddAsychronRQ(MakeCJ(2, 9, 100));
        for (ULONG id : {11u, 12u, 13u}) {
            SAsyncSymRQEntry sj = MakeSJ(id);
            CAsychronRQ::CallbackICB_Interface(&icb, sj);  // both, as the join registers them
            CAsychronRQ::CallbackDisp(id == 12 ? static_cast<IMC_YDBDecode*>(&decode) : nullptr,
                                      sj);
            ASSERT_NE(rq.AddAsyncSymRQ(2, &sj, 9), nullptr);
        }
        CAsychronRQ::newCJ_CallbackIYDBDecode(&cjDecode, *cj);
        CAsychronRQ::newCJ_CallbackICB_Decode(&cjIcb, *cj);
        capture.clear();

        EXPECT_EQ(rq.KillAsychronRQ(2, 9, 0, false), S_OK);
        // Removed from the list first; the callbacks are released after, SJs' before the CJ's.
        const auto t = traced();
        auto at = [&](const char* text) {
            const auto it = std::find(t.begin(), t.end(), text);
            EXPECT_NE(it, t.end()) << text;
            return it - t.begin();
        };
        EXPECT_LT(at("SJ ES_JobID: 13 removed from CJ ES_JobID: 2"),
                  at("CJ ES_JobID: 2 removed from list"));
        EXPECT_LT(at("CJ ES_JobID: 2 removed from list"),
                  at("CB of SJ ES_JobID: 11 was successfully released"));
        EXPECT_LT(at("CB of SJ ES_JobID: 13 was successfully released"),
                  at("ICB_DecodeInterface interface is NULL"));
        EXPECT_EQ(std::count(t.begin(), t.end(), "invalidate callback interface"), 3);
        EXPECT_EQ(rq.GetAsychronRQArray(2, 9), nullptr);
        EXPECT_EQ(rq.GetAsyncCJRQArray(100, 9, 11), nullptr);
    }
    EXPECT_EQ(testing_support::refs_of(icb, cjIcb, decode, cjDecode), testing_support::released(4));
}

TEST_F(AsyncRegistryTest, NestedKillsAreTracedAsReentrance) {
    CAsychronRQ first, second;
    first.AddAsychronRQ(MakeCJ(2, 9, 100));
    second.AddAsychronRQ(MakeCJ(2, 9, 100));
    // A single-job callback whose final release (during the revocation phase) kills a CJ of
    // another registry, as a client may do on its own thread's behalf.
    struct KillOnRelease : CountingUnknown {
        CAsychronRQ* other = nullptr;
        ULONG STDMETHODCALLTYPE Release() override {
            const ULONG left = CountingUnknown::Release();
            if (left == 1 && other != nullptr) {
                CAsychronRQ* rq = std::exchange(other, nullptr);
                rq->KillAsychronRQ(2, 9, 0, false);
            }
            return left;
        }
    } icb;
    SAsyncSymRQEntry sj = MakeSJ(11);
    CAsychronRQ::CallbackICB_Interface(&icb, sj);
    first.AddAsyncSymRQ(2, &sj, 9);
    icb.other = &second;
    capture.clear();
    first.KillAsychronRQ(2, 9, 0, false);
    EXPECT_EQ(icb.refs(), 1u);
    EXPECT_EQ(second.GetAsychronRQArray(2, 9), nullptr);
    EXPECT_TRUE(traced_start(1, "Reentrance 3"));
}

TEST_F(AsyncRegistryTest, AFailedAllocationLeavesNoReentranceBehind) {
    CAsychronRQ rq;
    rq.AddAsychronRQ(MakeCJ(2, 9, 100));
    SAsyncSymRQEntry sj = MakeSJ(12);
    rq.AddAsyncSymRQ(2, &sj, 9);
    capture.levels(1, 1, 0);  // the trace sink allocates too; keep it out of the count
    testing_support::FailAllocationAfter(0);  // the copy of the SJ to release
    EXPECT_THROW(rq.KillAsychronRQ(2, 9, 12, true), std::bad_alloc);
    EXPECT_TRUE(testing_support::StopFailingAllocations());
    capture.levels(1, 1, 1u << 1);
    capture.clear();
    rq.KillAsychronRQ(77, 9, 0, false);
    EXPECT_TRUE(traced().empty());  // no "Reentrance 2"
}

// The platform's class lookup allocates; running out of memory there is an error answer, never an
// exception through the C entry point into the registry's noexcept revocations.
TEST_F(AsyncRegistryTest, CreatingTheCallbackTableAnswersOutOfMemory) {
    capture.levels(1, 1, 0);
    for (int n = 0; n < 1000; ++n) {
        platform::ComPtr<IMC_CallbackTable> table;
        testing_support::FailAllocationAfter(n);
        const HRESULT hr = CoCreateInstance(CLSID_MC_CallbackTable, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IMC_CallbackTable, table.put_void());
        if (!testing_support::StopFailingAllocations()) {
            EXPECT_EQ(hr, S_OK);
            break;
        }
        EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == S_OK)
            << "allocation " << n << ": 0x" << std::hex << static_cast<unsigned>(hr);
    }
}

}  // namespace
