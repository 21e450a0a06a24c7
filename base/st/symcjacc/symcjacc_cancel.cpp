// Cancelling single jobs, and deleting and updating collection jobs on the target through their
// decode callbacks, which are called with the registry lock released (except inside a cancel).
#include <atomic>
#include <cstring>

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

}  // namespace

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::cancelASynch(ULONG jobID, ULONG* pCJJobID,
                                                             CJAsyncRQRecord* pRecord,
                                                             ULONG* pActions, ULONG* pStatus) {
    CJ_SCOPE("cancelASynch");
    try {
        CJ_RETURN_IF_NULL(pCJJobID);
        CJ_RETURN_IF_NULL(pRecord);
        CJ_RETURN_IF_NULL(pActions);
        CJ_RETURN_IF_NULL(pStatus);
        CancelDepth depth;
        if (depth.depth() > 1) {
            CO_TRACE(TRACE_INFO, "Reentrance cancelASynch %d", static_cast<int>(depth.depth()));
        } else {
            dumpJobEntries("cancelASynch");
        }
        *pStatus = 0;
        ULONG actions = 0;
        ULONG cjJobID = 0;
        LONG type = kTypeReadWrite;
        ResetRecord(pRecord);
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
            // Everything decided below is read now: the CJ may leave the registry midway.
            cjJobID = sj->parent_ES_JobID;
            const ULONG cjID = cj.m_ES_JobID;
            const LONG oldState = cj.m_RQStatus;
            if (oldState != STATE_CREATED) {
                cj.m_RQStatus = STATE_STOP;
                CO_TRACE(TRACE_INFO, "collection job %u -> %d", static_cast<unsigned>(cjID),
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
                actions = CANCEL_CJ_REMOVED;
                hr = m_pRQ->KillAsychronRQ(cjID, type, 0, false);  // cj is gone from here on
                if (SUCCEEDED(hr)) {
                    if (type == kTypeUnreported) {
                        actions = 0;
                        CO_TRACE(TRACE_INFO, " collection-job %u (%u) was successfully deleted",
                                 static_cast<unsigned>(cjJobID), static_cast<unsigned>(jobID));
                        break;
                    }
                    CO_TRACE(TRACE_INFO, " collection-job %u was successfully deleted",
                             static_cast<unsigned>(cjJobID));
                }
            } else {
                cj.m_RQStatus = oldState;
                CO_TRACE(TRACE_INFO, "collection job %u -> old state %u",
                         static_cast<unsigned>(cjID), static_cast<unsigned>(oldState));
                (void)FillCJAsychronRQEntry(pRecord, cj);
                hr = m_pRQ->KillAsychronRQ(cjID, type, jobID, true);
                actions = CANCEL_SJ_REMOVED;
            }
            if (cancelled == containing) {
                if (containing == 1 && oldState == STATE_CREATED) {
                    actions = CANCEL_CJ_REMOVED;
                } else {
                    actions |= CANCEL_CJ_DELETED;
                }
                (void)deleteYDBCJob(cjJobID, type, MC_DELETE_REASON_EMPTIED, pStatus);
                hr = m_pRQ->KillAsychronRQ(cjJobID, type, 0, false);
            }
            break;
        }
        *pActions = actions;
        *pCJJobID = cjJobID;
        if (!found) {
            if (namesCJ && namedCJCycle > 0) {
                hr = m_pRQ->KillAsychronRQ(jobID, kTypeReadWrite, 0, false);
                if (SUCCEEDED(hr)) {
                    CO_TRACE(TRACE_INFO, "read/write CollectionJob %u was successfully deleted",
                             static_cast<unsigned>(jobID));
                }
            } else {
                CO_TRACE(TRACE_ERROR, "job %u to cancel not in list", static_cast<unsigned>(jobID));
            }
        } else {
            CO_TRACE(TRACE_INFO, "single job %u, collection job %u, actions %x",
                     static_cast<unsigned>(jobID), static_cast<unsigned>(cjJobID),
                     static_cast<unsigned>(actions));
        }
        return hr;
    }
    CO_CATCH_RETURN_TRACED()
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::deleteYDBCJob(ULONG cjJobID, LONG typ, ULONG reason,
                                                              ULONG* pStatus) {
    CJ_SCOPE("deleteYDBCJob");
    try {
        CJ_RETURN_IF_NULL(pStatus);
        *pStatus = 0;
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        CAsyncRQEntry* cj = m_pRQ->GetAsychronRQArray(cjJobID, typ);
        if (cj == nullptr) {
            CO_TRACE(TRACE_WARNING, "CJ ES_JobID %u not found", static_cast<unsigned>(cjJobID));
            return S_OK;
        }
        const ULONG previousID = cj->m_dwPrev_ES_JobID;
        SAsyncCookiePair pair = cj->IYDBDecodePair();
        lock.Unlock();
        ComPtr<IMC_YDBDecode> decode = AsDecode(CAsychronRQ::getCJ_CallbackIYDBDecode(pair, true));
        lock.Lock();
        ULONG rtJobID = 0;
        if ((cj = m_pRQ->GetAsychronRQArray(cjJobID, typ)) != nullptr) {
            cj->SetIYDBDecodePair(pair);
            rtJobID = cj->m_RT_JobID;
        }
        lock.Unlock();
        if (decode) {
            const ULONG jobID = previousID >= m_dwMaxJobs ? previousID : cjJobID;
            (void)decode->DeleteJob(jobID, reason, pStatus);
            CO_TRACE(TRACE_INFO, "CJ ES_JobID %u, CJ RT_JobID %u deleted",
                     static_cast<unsigned>(jobID), static_cast<unsigned>(rtJobID));
        } else {
            CO_TRACE(TRACE_WARNING, "CB of collection job %u  revoked",
                     static_cast<unsigned>(cjJobID));
        }
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED()
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::deleteIVarCJob(ULONG cjJobID, LONG typ,
                                                               ULONG reason, ULONG* pStatus) {
    CJ_SCOPE("deleteIVarCJob");
    try {
        CJ_RETURN_IF_NULL(pStatus);
        *pStatus = 0;
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        CAsyncRQEntry* cj = m_pRQ->GetAsychronRQArray(cjJobID, typ);
        if (cj == nullptr) {
            return S_OK;
        }
        const ULONG previousID = cj->m_dwPrev_ES_JobID;
        SAsyncCookiePair pair = cj->ICB_DecodePair();
        lock.Unlock();
        ComPtr<IMC_YDBDecode> decode = AsDecode(CAsychronRQ::getCJ_CallbackICB_Decode(pair, true));
        lock.Lock();
        if ((cj = m_pRQ->GetAsychronRQArray(cjJobID, typ)) != nullptr) {
            cj->SetICB_DecodePair(pair);
        }
        lock.Unlock();
        if (decode) {
            const ULONG jobID = previousID >= m_dwMaxJobs ? previousID : cjJobID;
            (void)decode->DeleteJob(jobID, reason, pStatus);
        }
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED()
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::updateYDBCJob(ULONG cjJobID, LONG typ,
                                                              ULONG* pStatus) {
    CJ_SCOPE("updateYDBCJob");
    try {
        CJ_RETURN_IF_NULL(pStatus);
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
                CO_TRACE(TRACE_ERROR, "collection job %u  not found",
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
    CO_CATCH_RETURN_TRACED()
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::updateIVarCJob(ULONG cjJobID, LONG typ,
                                                               ULONG* pStatus) {
    CJ_SCOPE("updateIVarCJob");
    try {
        CJ_RETURN_IF_NULL(pStatus);
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
    CO_CATCH_RETURN_TRACED()
}
