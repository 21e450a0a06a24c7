// A collection job's decode callbacks: registering them when the target confirms the CJ, and
// deleting and updating CJs on the target through them, with the registry lock released for
// the call (except inside a cancel).
#include "base/st/symcjacc/symcjacc.h"
#include "base/st/symcjacc/symcjacc_internal.h"

using namespace symcjacc;
using platform::ComPtr;

namespace {

// A decode registration replaced by a new one moves to the old slot; the new slot is then free.
SAsyncCookiePair Retired(const SAsyncCookiePair& pair) {
    return {pair.bNewValid, pair.m_newCookie_Decode, 0, pair.m_newCookie_Decode};
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

}  // namespace

HRESULT symcjacc::DeleteOnTarget(CAsychronRQ& rq, CAsyncRQGuard& lock, CAsyncRQEntry* cj,
                                 ULONG cjJobID, ULONG reason, ULONG maxJobs, DecodeSide side,
                                 ULONG* pStatus) {
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
    if (rq.Holds(cj)) {
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
        CJAsyncRQRecordHolder local;
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
            (void)FillCJAsychronRQEntry(local.get(), *cj);
        }
        ComPtr<IMC_YDBDecode> decode = AsDecode(CAsychronRQ::getCJ_CallbackIYDBDecode(pair, false));
        if (decode) {
            (void)decode->UpdateJob(cjJobID, *local.get(), pStatus);
            dumpCJJobEntry(*local.get());
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
        CJAsyncRQRecordHolder local;
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
            (void)FillCJAsychronRQEntry(local.get(), *cj);
        }
        ComPtr<IMC_YDBDecode> decode = AsDecode(CAsychronRQ::getCJ_CallbackICB_Decode(pair, false));
        if (decode) {
            (void)decode->UpdateJob(previousID, *local.get(), pStatus);
        }
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}
