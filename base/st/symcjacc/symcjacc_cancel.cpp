// Cancelling a single job, by outcome: the SJ's unconfirmed CJ goes with it, or the SJ leaves its
// running CJ, and a CJ the cancel empties is deleted on the target with the lock still held;
// an id that names no SJ may name a read/write CJ.
#include <atomic>
#include <utility>

#include "base/st/symcjacc/symcjacc.h"
#include "base/st/symcjacc/symcjacc_internal.h"

using namespace symcjacc;

namespace {

// Cancels under way in the process; only chooses between the re-entry trace and the dump.
std::atomic<LONG> g_CancelReentrance{0};

// Counts a cancel in for its whole run, also when it leaves through an exception.
class CancelDepth {
  public:
    CancelDepth() noexcept : m_depth(++g_CancelReentrance) {}
    ~CancelDepth() { --g_CancelReentrance; }
    CancelDepth(const CancelDepth&) = delete;
    CancelDepth& operator=(const CancelDepth&) = delete;
    LONG depth() const noexcept { return m_depth; }

  private:
    LONG m_depth;
};

// What a cancel tells its caller.
struct SCancelOutcome {
    HRESULT hr = S_OK;
    ULONG actions = 0;
    ULONG cjJobID = 0;
};

// The first CJ holding the SJ `jobID`, and the SJ (both null when none does).
std::pair<CAsyncRQEntry*, SAsyncSymRQEntry*> FindSJ(CAsychronRQ& rq, ULONG jobID) {
    CAsyncRQEntry* cj = rq.GetHolderOfSJ(jobID);
    return {cj, CAsychronRQ::GetAsychronSymRQArray(cj, jobID)};
}

// A stopped or re-created SJ is cancelled; a joined one only in a CJ without a cycle, or when
// the client numbered it.
void MarkCancelled(const CAsyncRQEntry& cj, SAsyncSymRQEntry& sj, ULONG jobID) {
    if (sj.RQStatus == SJ_JOINED) {
        if (cj.ms == 0 || jobID > kClientJobIDs) {
            sj.RQStatus = SJ_CANCELLED;
        }
    } else if (sj.RQStatus == SJ_RECREATED || sj.RQStatus == SJ_STOPPED) {
        sj.RQStatus = SJ_CANCELLED;
    }
}

ULONG CountCancelled(const CAsyncRQEntry& cj) {
    ULONG cancelled = 0;
    for (const SAsyncSymRQEntry& each : cj.m_SJList) {
        cancelled += each.RQStatus == SJ_CANCELLED ? 1 : 0;
    }
    return cancelled;
}

// Outcome in a CJ the target never confirmed: the CJ goes with its SJs. True when the cancel is
// done (a type the client is not told about).
bool RemoveUnconfirmedCJ(CCoTrace& trace, CAsychronRQ& rq, CAsyncRQEntry* cj, LONG type,
                         ULONG jobID, SCancelOutcome& out) {
    out.actions = CJ_CANCEL_CJ_REMOVED;
    out.hr = rq.KillAsychronRQ(cj);  // cj is gone from here on
    if (FAILED(out.hr)) {
        return false;
    }
    if (type == kTypeUnreported) {
        out.actions = 0;
        CO_TRACE(trace, TRACE_INFO, " collection-job %u (%u) was successfully deleted",
                 static_cast<unsigned>(out.cjJobID), static_cast<unsigned>(jobID));
        return true;
    }
    CO_TRACE(trace, TRACE_INFO, " collection-job %u was successfully deleted",
             static_cast<unsigned>(out.cjJobID));
    return false;
}

// Outcome in a running CJ: the SJ leaves it, and the caller gets the CJ's record.
void RemoveSJ(CCoTrace& trace, CAsyncRQEntry& cj, SAsyncSymRQEntry& sj, LONG oldState,
              CJAsyncRQRecord* pRecord, SCancelOutcome& out) {
    cj.m_RQStatus = oldState;
    CO_TRACE(trace, TRACE_INFO, "collection job %u -> old state %u",
             static_cast<unsigned>(cj.m_ES_JobID), static_cast<unsigned>(oldState));
    (void)FillCJAsychronRQEntry(pRecord, cj);
    CAsychronRQ::ReleaseAsyncSymRQ(sj);
    out.hr = S_OK;
    out.actions = CJ_CANCEL_SJ_REMOVED;
}

// Outcome of the last SJ leaving: the CJ is deleted on the target, the cancel's own hold keeping
// the lock taken, and leaves the registry.
void DeleteEmptiedCJ(CAsychronRQ& rq, CAsyncRQEntry* cj, ULONG maxJobs, bool aloneUnconfirmed,
                     ULONG* pStatus, SCancelOutcome& out) {
    if (aloneUnconfirmed) {
        out.actions = CJ_CANCEL_CJ_REMOVED;
    } else {
        out.actions |= CJ_CANCEL_CJ_DELETED;
    }
    {
        CAsyncRQGuard nested(&rq);
        (void)DeleteOnTarget(rq, nested, rq.Holds(cj) ? cj : nullptr, out.cjJobID,
                             MC_DELETE_REASON_EMPTIED, maxJobs, DecodeSide::IYDBDecode, pStatus);
    }
    out.hr = rq.KillAsychronRQ(cj);
}

// Cancels the SJ found in `cj`. Everything decided here is read first: the CJ may leave the
// registry midway. It is acted on as this entry, never looked up again by an id another job may
// carry.
SCancelOutcome CancelSJ(CCoTrace& trace, CAsychronRQ& rq, ULONG maxJobs, CAsyncRQEntry& cj,
                        SAsyncSymRQEntry& sj, ULONG jobID, CJAsyncRQRecord* pRecord,
                        ULONG* pStatus) {
    CAsyncRQEntry* const entry = &cj;
    SCancelOutcome out;
    out.cjJobID = sj.parent_ES_JobID;
    const LONG oldState = cj.m_RQStatus;
    if (oldState != STATE_CREATED) {
        cj.m_RQStatus = STATE_STOP;
        CO_TRACE(trace, TRACE_INFO, "collection job %u -> %d", static_cast<unsigned>(cj.m_ES_JobID),
                 static_cast<int>(STATE_STOP));
    }
    const LONG type = cj.m_Typ;
    MarkCancelled(cj, sj, jobID);
    const ULONG cancelled = CountCancelled(cj);
    const ULONG containing = cj.containing();
    if (oldState == STATE_CREATED) {
        if (RemoveUnconfirmedCJ(trace, rq, entry, type, jobID, out)) {
            return out;
        }
    } else {
        RemoveSJ(trace, cj, sj, oldState, pRecord, out);
    }
    if (cancelled == containing) {
        DeleteEmptiedCJ(rq, entry, maxJobs, containing == 1 && oldState == STATE_CREATED, pStatus,
                        out);
    }
    return out;
}

// Outcome of an id that names no SJ: a read/write CJ of that id with a cycle is deleted.
HRESULT CancelNamedCJ(CCoTrace& trace, CAsychronRQ& rq, ULONG jobID) {
    // The oldest CJ of that id decides.
    const CAsyncRQEntry* named = rq.GetOldestAsychronRQArray(jobID);
    if (named == nullptr || named->ms <= 0) {
        CO_TRACE(trace, TRACE_ERROR, "job %u to cancel not in list", static_cast<unsigned>(jobID));
        return S_OK;
    }
    const HRESULT hr = rq.KillAsychronRQ(jobID, kTypeReadWrite, 0, false);
    if (SUCCEEDED(hr)) {
        CO_TRACE(trace, TRACE_INFO, "read/write CollectionJob %u was successfully deleted",
                 static_cast<unsigned>(jobID));
    }
    return hr;
}

}  // namespace

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::cancelASynch(ULONG jobID, ULONG* pCJJobID,
                                                             CJAsyncRQRecord* pRecord,
                                                             ULONG* pActions, ULONG* pStatus) {
    CJ_SCOPE(trace, "cancelASynch");
    try {
        CJ_RETURN_IF_NULL(trace, pCJJobID, pRecord, pActions, pStatus);
        CancelDepth depth;
        if (depth.depth() > 1) {
            CO_TRACE(trace, TRACE_INFO, "Reentrance cancelASynch %d",
                     static_cast<int>(depth.depth()));
        } else {
            dumpJobEntries("cancelASynch");
        }
        *pStatus = 0;
        ZeroRecord(pRecord);
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        const auto [cj, sj] = FindSJ(*m_pRQ, jobID);
        if (cj == nullptr) {
            *pActions = 0;
            *pCJJobID = 0;
            return CancelNamedCJ(trace, *m_pRQ, jobID);
        }
        const SCancelOutcome out =
            CancelSJ(trace, *m_pRQ, m_dwMaxJobs, *cj, *sj, jobID, pRecord, pStatus);
        *pActions = out.actions;
        *pCJJobID = out.cjJobID;
        CO_TRACE(trace, TRACE_INFO, "single job %u, collection job %u, actions %x",
                 static_cast<unsigned>(jobID), static_cast<unsigned>(out.cjJobID),
                 static_cast<unsigned>(out.actions));
        return out.hr;
    }
    CO_CATCH_RETURN_TRACED(trace)
}
