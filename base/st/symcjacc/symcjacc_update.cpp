// Joining single jobs to their IVar collection job, re-creation under a new id, and the target's
// confirmation of a collection job with the registration of its decode callback.
#include "base/st/symcjacc/symcjacc.h"
#include "base/st/symcjacc/symcjacc_internal.h"

using namespace symcjacc;

void symcjacc::RebuildRing(CAsyncRQEntry& cj) {
    SAsyncSymRQEntry* previous = nullptr;
    for (SAsyncSymRQEntry& sj : cj.m_SJList) {
        if (sj.RQStatus == SJ_JOINED) {
            sj.RQStatus = SJ_STOPPED;
        }
        sj.parent_ES_JobID = cj.m_ES_JobID;
        if (previous != nullptr) {
            previous->next_ES_JobID = sj.ES_JobID;
        }
        previous = &sj;
    }
    if (previous != nullptr) {
        previous->next_ES_JobID = cj.m_ES_JobID;
    }
}

namespace {

// A decode registration replaced by a new one moves to the old slot; the new slot is then free.
SAsyncCookiePair Retired(const SAsyncCookiePair& pair) {
    return {pair.bNewValid, pair.m_newCookie_Decode, 0, pair.m_newCookie_Decode};
}

}  // namespace

HRESULT CCollectionJobSymAcc::UpdateIVarEntry(LONG cycle, LONG typ, IUnknown* sjICB,
                                              ULONG* pSJJobID, ULONG* pCJJobID,
                                              CJAsyncRQRecord* pRecord, ULONG* pAction,
                                              ULONG* pStatus) {
    CJ_SCOPE(trace, "UpdateIVarEntry");
    try {
        *pStatus = 0;
        ULONG action = CJ_ACTION_ALONE;
        if ((*pAction & CJ_ACTION_UNCHANGED) != 0) {
            return S_OK;
        }
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        const ULONG sjJobID = *pSJJobID;
        CAsyncRQEntry* cj = m_pRQ->GetAsyncCJRQArray(cycle, typ, sjJobID);
        if (cj == nullptr) {
            CO_TRACE(trace, TRACE_INFO, "cycle: %d, single job %u, collection job %u, actions %x",
                     static_cast<int>(cycle), static_cast<unsigned>(sjJobID),
                     static_cast<unsigned>(*pCJJobID), static_cast<unsigned>(action));
            return S_OK;
        }
        if (cj->m_RQStatus != STATE_CREATED && cj->m_ES_JobID > m_dwMaxJobs) {
            action = CJ_ACTION_EXTRA | CJ_ACTION_ALONE;
        }
        SAsyncSymRQEntry sj;
        sj.ES_JobID = sjJobID;
        sj.dwService = 1;
        sj.Typ = 9;
        sj.RQStatus = SJ_JOINED;
        sj.parent_ES_JobID = cj->m_ES_JobID;
        sj.next_ES_JobID = 2;
        sj.dwVarCount = cj->m_dwVarCountAdded;
        if (sjICB != nullptr) {
            CAsychronRQ::CallbackICB_Interface(sjICB, sj);
        }
        if (m_pRQ->AddAsyncSymRQ(cj->m_ES_JobID, &sj, typ) == nullptr) {
            CAsychronRQ::CallbackICB_Interface(nullptr, sj);  // nowhere to keep the cookie
            return S_OK;
        }
        const ULONG n = cj->containing();
        if (n < m_dwMinSymSize) {
            return S_OK;
        }
        if (cj->m_RQStatus != STATE_STOP) {
            action = (action & ~CJ_ACTION_ALONE) | CJ_ACTION_STOP;
            cj->m_RQStatus = STATE_STOP;
            CO_TRACE(trace, TRACE_INFO, "collection job %u -> %d",
                     static_cast<unsigned>(cj->m_ES_JobID), static_cast<int>(STATE_STOP));
            RebuildRing(*cj);
        }
        ResetRecord(pRecord);
        (void)FillCJAsychronRQEntry(pRecord, *cj);
        action |= CJ_ACTION_RECORD;
        *pCJJobID = cj->m_ES_JobID;
        *pAction = action;
        CO_TRACE(trace, TRACE_INFO, "cycle: %d, single job %u, collection job %u, actions %x",
                 static_cast<int>(cycle), static_cast<unsigned>(sjJobID),
                 static_cast<unsigned>(*pCJJobID), static_cast<unsigned>(action));
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::UpdateJobState(LONG cycle, LONG typ, ULONG sjJobID,
                                                               ULONG newCJJobID, ULONG* pAction,
                                                               CJAsyncRQRecord* pRecord,
                                                               ULONG* pStatus) {
    CJ_SCOPE(trace, "UpdateJobState");
    try {
        CJ_RETURN_IF_NULL(trace, pRecord);
        CJ_RETURN_IF_NULL(trace, pStatus);
        *pStatus = 0;
        const unsigned action = pAction != nullptr ? static_cast<unsigned>(*pAction) : 0u;
        dumpJobEntries("UpdateJobState");
        {
            CAsyncRQGuard lock(m_pRQ.get());
            if (!m_pRQ) {
                return E_OUTOFMEMORY;
            }
            ZeroRecord(pRecord);
            CAsyncRQEntry* cj = m_pRQ->GetAsyncCJRQArray(cycle, typ, sjJobID);
            if (cj != nullptr) {
                cj->m_dwPrev_ES_JobID = cj->m_ES_JobID;
                cj->m_ES_JobID = newCJJobID;
                const bool several = cj->containing() > 1;
                for (SAsyncSymRQEntry& sj : cj->m_SJList) {
                    if (several) {
                        sj.Typ = 9;
                    }
                    if (sj.RQStatus != SJ_CANCELLED) {
                        sj.RQStatus = SJ_RECREATED;
                    }
                    sj.parent_ES_JobID = newCJJobID;
                }
                (void)FillCJAsychronRQEntry(pRecord, *cj);
                CO_TRACE(trace, TRACE_INFO, "Job %u collection job %u,cycle: %d, dwaction %x",
                         static_cast<unsigned>(sjJobID), static_cast<unsigned>(newCJJobID),
                         static_cast<int>(cycle), action);
            } else {
                CO_TRACE(trace, TRACE_ERROR, "Job %u collection job %u  not found, dwaction %x",
                         static_cast<unsigned>(sjJobID), static_cast<unsigned>(newCJJobID), action);
            }
            dumpJobEntries("UpdateJobState");
        }
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::UpdateCJ_YDBCB(LONG, LONG typ, ULONG cjJobID,
                                                               IUnknown* decodeCallback,
                                                               ULONG* pStatus) {
    CJ_SCOPE(trace, "UpdateCJ_YDBCB");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus);
        *pStatus = 0;
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        CAsyncRQEntry* cj = m_pRQ->GetAsychronRQArray(cjJobID, typ);
        if (cj == nullptr) {
            CO_TRACE(trace, TRACE_WARNING, "collection job %u  not found / not yet created",
                     static_cast<unsigned>(cjJobID));
            dumpJobEntries("UpdateCJ_YDBCB");
            return S_OK;
        }
        const ULONG n = cj->containing();
        if (n > 0 && cj->ticks > 0) {
            cj->ticks -= 1;
        }
        if (cj->ticks == 0) {
            cj->m_RQStatus = STATE_RUN;
            CO_TRACE(trace, TRACE_INFO, "collection job %u -> STATE_RUN",
                     static_cast<unsigned>(cjJobID));
        } else {
            CO_TRACE(trace, TRACE_WARNING,
                     "collection job %u -> STATE_RUN not possible ticks actual: %d, symsize %d",
                     static_cast<unsigned>(cjJobID), static_cast<int>(cj->ticks),
                     static_cast<int>(n));
        }
        if (decodeCallback != nullptr && cj->m_bNewIYDBDecodeValid == 0) {
            // A client object is reached through its interface, never by casting its pointer.
            platform::ComPtr<IMC_YDBDecode> decode;
            (void)platform::ComPtr<IUnknown>(decodeCallback).query(decode);
            // The old slot is overwritten: release what it still holds first.
            if (cj->m_bOldIYDBDecodeValid != 0) {
                CAsychronRQ::oldCJ_CallbackIYDBDecode(*cj);
            }
            cj->SetIYDBDecodePair(Retired(cj->IYDBDecodePair()));
            CAsychronRQ::newCJ_CallbackIYDBDecode(decode.get(), *cj);
            CO_TRACE(trace, TRACE_INFO, "CB of collection job %u, %u is 0x%X old was 0x%X",
                     static_cast<unsigned>(cjJobID), static_cast<unsigned>(cj->m_ES_JobID),
                     static_cast<unsigned>(cj->m_newCookieIYDBDecode),
                     static_cast<unsigned>(cj->m_oldCookieIYDBDecode));
        }
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::UpdateCJ_IVarCB(LONG, LONG typ, ULONG cjJobID,
                                                                IUnknown* decodeCallback,
                                                                ULONG* pStatus) {
    CJ_SCOPE(trace, "UpdateCJ_IVarCB");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus);
        *pStatus = 0;
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        CAsyncRQEntry* cj = m_pRQ->GetAsychronRQArray(cjJobID, typ);
        if (cj == nullptr) {
            CO_TRACE(trace, TRACE_WARNING, "collection job %u  not found / not yet created",
                     static_cast<unsigned>(cjJobID));
            return S_OK;
        }
        cj->m_RQStatus = STATE_RUN;
        CO_TRACE(trace, TRACE_INFO, "collection job %u -> STATE_RUN",
                 static_cast<unsigned>(cj->m_ES_JobID));
        if (decodeCallback != nullptr) {
            // The old slot is overwritten: release what it still holds first.
            if (cj->m_bOldICB_DecodeValid != 0) {
                CAsychronRQ::oldCJ_CallbackICB_Decode(*cj);
            }
            cj->SetICB_DecodePair(Retired(cj->ICB_DecodePair()));
            CAsychronRQ::newCJ_CallbackICB_Decode(decodeCallback, *cj);
            CO_TRACE(trace, TRACE_INFO, "CB of collection job %u is 0x%X old was 0x%X",
                     static_cast<unsigned>(cjJobID),
                     static_cast<unsigned>(cj->m_newCookieICB_Decode),
                     static_cast<unsigned>(cj->m_oldCookieICB_Decode));
        }
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}
