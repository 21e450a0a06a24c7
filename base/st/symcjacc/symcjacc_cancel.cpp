// Cancelling single jobs, and deleting and updating collection jobs on the target through their
// decode callbacks, which are called with the registry lock released (except inside a cancel).
#include <atomic>

#include "base/st/symcjacc/symcjacc.h"
#include "base/st/symcjacc/symcjacc_internal.h"

using namespace symcjacc;
using platform::ComPtr;

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

bool Holds(CAsychronRQ& rq, const CAsyncRQEntry* cj) noexcept {
    for (const CAsyncRQEntry& each : rq.Entries()) {
        if (&each == cj) {
            return true;
        }
    }
    return false;
}

// Forgets in `current` each slot that the fetch revoked (valid in `before`, cleared in
// `fetched`), and only while `current` still holds that registration: while the lock was
// released a confirmation may have registered a new callback, or another delete revoked it.
void ForgetRevoked(const SAsyncCookiePair& before, const SAsyncCookiePair& fetched,
                   SAsyncCookiePair& current) noexcept {
    if (before.bOldValid == 1 && fetched.bOldValid == 0 && current.bOldValid == 1 &&
        current.m_oldCookie_Decode == before.m_oldCookie_Decode) {
        current.bOldValid = 0;
        current.m_oldCookie_Decode = 0;
    }
    if (before.bNewValid == 1 && fetched.bNewValid == 0 && current.bNewValid == 1 &&
        current.m_newCookie_Decode == before.m_newCookie_Decode) {
        current.bNewValid = 0;
        current.m_newCookie_Decode = 0;
    }
}

enum class DecodeSide { IYDBDecode, ICB_Decode };

// Deletes exactly the CJ found under `lock` (null: none) on the target through its decode
// callback, which is fetched with revocation while `lock` is released and called outside it.
// Inside a cancel the cancel's own hold keeps the lock taken throughout.
HRESULT DeleteOnTarget(CAsychronRQ& rq, CAsyncRQGuard& lock, CAsyncRQEntry* cj, ULONG cjJobID,
                       ULONG reason, ULONG maxJobs, DecodeSide side, ULONG* pStatus) {
    const bool ydb = side == DecodeSide::IYDBDecode;
    CO_TRACE_SCOPE(
        trace, kFile,
        ydb ? "CCollectionJobSymAcc::deleteYDBCJob" : "CCollectionJobSymAcc::deleteIVarCJob");
    if (cj == nullptr) {
        if (ydb) {
            CO_TRACE(trace, TRACE_WARNING, "CJ ES_JobID %u not found",
                     static_cast<unsigned>(cjJobID));
        }
        return S_OK;
    }
    const ULONG previousID = cj->m_dwPrev_ES_JobID;
    const SAsyncCookiePair before = ydb ? cj->IYDBDecodePair() : cj->ICB_DecodePair();
    SAsyncCookiePair fetched = before;
    lock.Unlock();
    ComPtr<IMC_YDBDecode> decode =
        AsDecode(ydb ? CAsychronRQ::getCJ_CallbackIYDBDecode(fetched, true)
                     : CAsychronRQ::getCJ_CallbackICB_Decode(fetched, true));
    lock.Lock();
    ULONG rtJobID = 0;
    if (Holds(rq, cj)) {
        SAsyncCookiePair current = ydb ? cj->IYDBDecodePair() : cj->ICB_DecodePair();
        ForgetRevoked(before, fetched, current);
        if (ydb) {
            cj->SetIYDBDecodePair(current);
        } else {
            cj->SetICB_DecodePair(current);
        }
        rtJobID = cj->m_RT_JobID;
    }
    lock.Unlock();
    if (decode) {
        const ULONG jobID = previousID >= maxJobs ? previousID : cjJobID;
        (void)decode->DeleteJob(jobID, reason, pStatus);
        if (ydb) {
            CO_TRACE(trace, TRACE_INFO, "CJ ES_JobID %u, CJ RT_JobID %u deleted",
                     static_cast<unsigned>(jobID), static_cast<unsigned>(rtJobID));
        }
    } else if (ydb) {
        CO_TRACE(trace, TRACE_WARNING, "CB of collection job %u  revoked",
                 static_cast<unsigned>(cjJobID));
    }
    return S_OK;
}

}  // namespace

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::cancelASynch(ULONG jobID, ULONG* pCJJobID,
                                                             CJAsyncRQRecord* pRecord,
                                                             ULONG* pActions, ULONG* pStatus) {
    CJ_SCOPE(trace, "cancelASynch");
    try {
        CJ_RETURN_IF_NULL(trace, pCJJobID);
        CJ_RETURN_IF_NULL(trace, pRecord);
        CJ_RETURN_IF_NULL(trace, pActions);
        CJ_RETURN_IF_NULL(trace, pStatus);
        CancelDepth depth;
        if (depth.depth() > 1) {
            CO_TRACE(trace, TRACE_INFO, "Reentrance cancelASynch %d",
                     static_cast<int>(depth.depth()));
        } else {
            dumpJobEntries("cancelASynch");
        }
        *pStatus = 0;
        ULONG actions = 0;
        ULONG cjJobID = 0;
        LONG type = kTypeReadWrite;
        ZeroRecord(pRecord);
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        HRESULT hr = S_OK;
        bool namesCJ = false;
        LONG namedCJCycle = 0;
        bool found = false;
        for (CAsyncRQEntry& cj : m_pRQ->Entries()) {
            if (cj.m_ES_JobID == jobID) {
                namesCJ = true;
                namedCJCycle = cj.ms;
            }
            SAsyncSymRQEntry* sj = CAsychronRQ::GetAsychronSymRQArray(&cj, jobID);
            if (sj == nullptr) {
                continue;
            }
            found = true;
            // Everything decided below is read now: the CJ may leave the registry midway. It is
            // acted on as this entry, never looked up again by an id another job may carry.
            CAsyncRQEntry* const entry = &cj;
            cjJobID = sj->parent_ES_JobID;
            const ULONG cjID = cj.m_ES_JobID;
            const LONG oldState = cj.m_RQStatus;
            if (oldState != STATE_CREATED) {
                cj.m_RQStatus = STATE_STOP;
                CO_TRACE(trace, TRACE_INFO, "collection job %u -> %d", static_cast<unsigned>(cjID),
                         static_cast<int>(STATE_STOP));
            }
            type = cj.m_Typ;
            if (sj->RQStatus == SJ_JOINED) {
                if (cj.ms == 0 || jobID > kClientJobIDs) {
                    sj->RQStatus = SJ_CANCELLED;
                }
            } else if (sj->RQStatus == SJ_RECREATED || sj->RQStatus == SJ_STOPPED) {
                sj->RQStatus = SJ_CANCELLED;
            }
            ULONG cancelled = 0;
            for (const SAsyncSymRQEntry& each : cj.m_SJList) {
                cancelled += each.RQStatus == SJ_CANCELLED ? 1 : 0;
            }
            const ULONG containing = cj.containing();

            if (oldState == STATE_CREATED) {
                actions = CJ_CANCEL_CJ_REMOVED;
                hr = m_pRQ->KillAsychronRQ(entry);  // cj is gone from here on
                if (SUCCEEDED(hr)) {
                    if (type == kTypeUnreported) {
                        actions = 0;
                        CO_TRACE(trace, TRACE_INFO,
                                 " collection-job %u (%u) was successfully deleted",
                                 static_cast<unsigned>(cjJobID), static_cast<unsigned>(jobID));
                        break;
                    }
                    CO_TRACE(trace, TRACE_INFO, " collection-job %u was successfully deleted",
                             static_cast<unsigned>(cjJobID));
                }
            } else {
                cj.m_RQStatus = oldState;
                CO_TRACE(trace, TRACE_INFO, "collection job %u -> old state %u",
                         static_cast<unsigned>(cjID), static_cast<unsigned>(oldState));
                (void)FillCJAsychronRQEntry(pRecord, cj);
                CAsychronRQ::ReleaseAsyncSymRQ(*sj);
                hr = S_OK;
                actions = CJ_CANCEL_SJ_REMOVED;
            }
            if (cancelled == containing) {
                if (containing == 1 && oldState == STATE_CREATED) {
                    actions = CJ_CANCEL_CJ_REMOVED;
                } else {
                    actions |= CJ_CANCEL_CJ_DELETED;
                }
                {
                    CAsyncRQGuard nested(m_pRQ.get());
                    (void)DeleteOnTarget(*m_pRQ, nested, Holds(*m_pRQ, entry) ? entry : nullptr,
                                         cjJobID, MC_DELETE_REASON_EMPTIED, m_dwMaxJobs,
                                         DecodeSide::IYDBDecode, pStatus);
                }
                hr = m_pRQ->KillAsychronRQ(entry);
            }
            break;
        }
        *pActions = actions;
        *pCJJobID = cjJobID;
        if (!found) {
            if (namesCJ && namedCJCycle > 0) {
                hr = m_pRQ->KillAsychronRQ(jobID, kTypeReadWrite, 0, false);
                if (SUCCEEDED(hr)) {
                    CO_TRACE(trace, TRACE_INFO,
                             "read/write CollectionJob %u was successfully deleted",
                             static_cast<unsigned>(jobID));
                }
            } else {
                CO_TRACE(trace, TRACE_ERROR, "job %u to cancel not in list",
                         static_cast<unsigned>(jobID));
            }
        } else {
            CO_TRACE(trace, TRACE_INFO, "single job %u, collection job %u, actions %x",
                     static_cast<unsigned>(jobID), static_cast<unsigned>(cjJobID),
                     static_cast<unsigned>(actions));
        }
        return hr;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::deleteYDBCJob(ULONG cjJobID, LONG typ, ULONG reason,
                                                              ULONG* pStatus) {
    CJ_SCOPE(trace, "deleteYDBCJob");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus);
        *pStatus = 0;
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        return DeleteOnTarget(*m_pRQ, lock, m_pRQ->GetAsychronRQArray(cjJobID, typ), cjJobID,
                              reason, m_dwMaxJobs, DecodeSide::IYDBDecode, pStatus);
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::deleteIVarCJob(ULONG cjJobID, LONG typ,
                                                               ULONG reason, ULONG* pStatus) {
    CJ_SCOPE(trace, "deleteIVarCJob");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus);
        *pStatus = 0;
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        return DeleteOnTarget(*m_pRQ, lock, m_pRQ->GetAsychronRQArray(cjJobID, typ), cjJobID,
                              reason, m_dwMaxJobs, DecodeSide::ICB_Decode, pStatus);
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::updateYDBCJob(ULONG cjJobID, LONG typ,
                                                              ULONG* pStatus) {
    CJ_SCOPE(trace, "updateYDBCJob");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus);
        *pStatus = 0;
        LocalRecord local;
        SAsyncCookiePair pair;
        {
            CAsyncRQGuard lock(m_pRQ.get());
            if (!m_pRQ) {
                return E_OUTOFMEMORY;
            }
            const CAsyncRQEntry* cj = m_pRQ->GetAsychronRQArray(cjJobID, typ);
            if (cj == nullptr) {
                CO_TRACE(trace, TRACE_ERROR, "collection job %u  not found",
                         static_cast<unsigned>(cjJobID));
                *pStatus = CJ_STATUS_UPDATE_NOT_FOUND;
                return S_OK;
            }
            pair = cj->IYDBDecodePair();
            (void)FillCJAsychronRQEntry(&local.record, *cj);
        }
        ComPtr<IMC_YDBDecode> decode = AsDecode(CAsychronRQ::getCJ_CallbackIYDBDecode(pair, false));
        if (decode) {
            (void)decode->UpdateJob(cjJobID, local.record, pStatus);
            dumpCJJobEntry(local.record);
        }
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::updateIVarCJob(ULONG cjJobID, LONG typ,
                                                               ULONG* pStatus) {
    CJ_SCOPE(trace, "updateIVarCJob");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus);
        *pStatus = 0;
        LocalRecord local;
        SAsyncCookiePair pair;
        ULONG previousID = 0;
        {
            CAsyncRQGuard lock(m_pRQ.get());
            if (!m_pRQ) {
                return E_OUTOFMEMORY;
            }
            const CAsyncRQEntry* cj = m_pRQ->GetAsychronRQArray(cjJobID, typ);
            if (cj == nullptr) {
                return S_OK;
            }
            pair = cj->ICB_DecodePair();
            previousID = cj->m_dwPrev_ES_JobID;
            (void)FillCJAsychronRQEntry(&local.record, *cj);
        }
        ComPtr<IMC_YDBDecode> decode = AsDecode(CAsychronRQ::getCJ_CallbackICB_Decode(pair, false));
        if (decode) {
            (void)decode->UpdateJob(previousID, local.record, pStatus);
        }
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}
