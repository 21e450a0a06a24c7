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

namespace {

// A YDB CJ runs once the target has confirmed it once per tick.
void CountDownTicks(CCoTrace& trace, CAsyncRQEntry& cj, ULONG cjJobID) {
    const ULONG n = cj.containing();
    if (n > 0 && cj.ticks > 0) {
        cj.ticks -= 1;
    }
    if (cj.ticks == 0) {
        cj.m_RQStatus = STATE_RUN;
        CO_TRACE(trace, TRACE_INFO, "collection job %u -> STATE_RUN",
                 static_cast<unsigned>(cjJobID));
    } else {
        CO_TRACE(trace, TRACE_WARNING,
                 "collection job %u -> STATE_RUN not possible ticks actual: %d, symsize %d",
                 static_cast<unsigned>(cjJobID), static_cast<int>(cj.ticks), static_cast<int>(n));
    }
}

// Registers the callback in the CJ's new decode slot of its side; what the new slot held moves
// to the old slot, which is overwritten: its own registration is released first.
void ReplaceDecode(CAsyncRQEntry& cj, DecodeSide side, IUnknown* callback) {
    if (side == DecodeSide::IYDBDecode) {
        // A client object is reached through its interface, never by casting its pointer.
        ComPtr<IMC_YDBDecode> decode;
        (void)ComPtr<IUnknown>(callback).query(decode);
        if (cj.m_bOldIYDBDecodeValid != 0) {
            CAsychronRQ::oldCJ_CallbackIYDBDecode(cj);
        }
        cj.SetIYDBDecodePair(Retired(cj.IYDBDecodePair()));
        CAsychronRQ::newCJ_CallbackIYDBDecode(decode.get(), cj);
    } else {
        if (cj.m_bOldICB_DecodeValid != 0) {
            CAsychronRQ::oldCJ_CallbackICB_Decode(cj);
        }
        cj.SetICB_DecodePair(Retired(cj.ICB_DecodePair()));
        CAsychronRQ::newCJ_CallbackICB_Decode(callback, cj);
    }
}

}  // namespace

HRESULT CCollectionJobSymAcc::ConfirmCJ(DecodeSide side, LONG typ, ULONG cjJobID,
                                        IUnknown* decodeCallback, ULONG* pStatus) {
    const bool ydb = side == DecodeSide::IYDBDecode;
    const char* method =
        ydb ? "CCollectionJobSymAcc::UpdateCJ_YDBCB" : "CCollectionJobSymAcc::UpdateCJ_IVarCB";
    return UnderRegistryLock(method, m_pRQ.get(), pStatus, [&](CCoTrace& trace, CAsyncRQGuard&) {
        CAsyncRQEntry* cj = m_pRQ->GetAsychronRQArray(cjJobID, typ);
        if (cj == nullptr) {
            CO_TRACE(trace, TRACE_WARNING, "collection job %u  not found / not yet created",
                     static_cast<unsigned>(cjJobID));
            if (ydb) {
                dumpJobEntries("UpdateCJ_YDBCB");
            }
            return S_OK;
        }
        if (ydb) {
            CountDownTicks(trace, *cj, cjJobID);
        } else {
            cj->m_RQStatus = STATE_RUN;
            CO_TRACE(trace, TRACE_INFO, "collection job %u -> STATE_RUN",
                     static_cast<unsigned>(cj->m_ES_JobID));
        }
        // A YDB CJ keeps the callback it has while its new slot holds one.
        if (decodeCallback == nullptr || (ydb && cj->m_bNewIYDBDecodeValid != 0)) {
            return S_OK;
        }
        ReplaceDecode(*cj, side, decodeCallback);
        if (ydb) {
            CO_TRACE(trace, TRACE_INFO, "CB of collection job %u, %u is 0x%X old was 0x%X",
                     static_cast<unsigned>(cjJobID), static_cast<unsigned>(cj->m_ES_JobID),
                     static_cast<unsigned>(cj->m_newCookieIYDBDecode),
                     static_cast<unsigned>(cj->m_oldCookieIYDBDecode));
        } else {
            CO_TRACE(trace, TRACE_INFO, "CB of collection job %u is 0x%X old was 0x%X",
                     static_cast<unsigned>(cjJobID),
                     static_cast<unsigned>(cj->m_newCookieICB_Decode),
                     static_cast<unsigned>(cj->m_oldCookieICB_Decode));
        }
        return S_OK;
    });
}

HRESULT CCollectionJobSymAcc::DeleteCJ(DecodeSide side, ULONG cjJobID, LONG typ, ULONG reason,
                                       ULONG* pStatus) {
    const char* method = side == DecodeSide::IYDBDecode ? "CCollectionJobSymAcc::deleteYDBCJob"
                                                        : "CCollectionJobSymAcc::deleteIVarCJob";
    return UnderRegistryLock(method, m_pRQ.get(), pStatus, [&](CCoTrace&, CAsyncRQGuard& lock) {
        return DeleteOnTarget(*m_pRQ, lock, m_pRQ->GetAsychronRQArray(cjJobID, typ), cjJobID,
                              reason, m_dwMaxJobs, side, pStatus);
    });
}

// The target learns a CJ's current record: a YDB CJ under its id, an IVar CJ under the id it
// had before it was re-created.
HRESULT CCollectionJobSymAcc::UpdateCJ(DecodeSide side, ULONG cjJobID, LONG typ, ULONG* pStatus) {
    const bool ydb = side == DecodeSide::IYDBDecode;
    const char* method =
        ydb ? "CCollectionJobSymAcc::updateYDBCJob" : "CCollectionJobSymAcc::updateIVarCJob";
    return UnderRegistryLock(
        method, m_pRQ.get(), pStatus, [&](CCoTrace& trace, CAsyncRQGuard& lock) {
            const CAsyncRQEntry* cj = m_pRQ->GetAsychronRQArray(cjJobID, typ);
            if (cj == nullptr) {
                if (ydb) {
                    CO_TRACE(trace, TRACE_ERROR, "collection job %u  not found",
                             static_cast<unsigned>(cjJobID));
                    *pStatus = CJ_STATUS_UPDATE_NOT_FOUND;
                }
                return S_OK;
            }
            SAsyncCookiePair pair = ydb ? cj->IYDBDecodePair() : cj->ICB_DecodePair();
            const ULONG targetID = ydb ? cjJobID : cj->m_dwPrev_ES_JobID;
            CJAsyncRQRecordHolder local;
            (void)FillCJAsychronRQEntry(local.get(), *cj);
            lock.Unlock();
            const ComPtr<IMC_YDBDecode> decode =
                AsDecode(ydb ? CAsychronRQ::getCJ_CallbackIYDBDecode(pair, false)
                             : CAsychronRQ::getCJ_CallbackICB_Decode(pair, false));
            if (decode) {
                (void)decode->UpdateJob(targetID, *local.get(), pStatus);
                if (ydb) {
                    dumpCJJobEntry(*local.get());
                }
            }
            return S_OK;
        });
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::UpdateCJ_YDBCB(LONG, LONG typ, ULONG cjJobID,
                                                               IUnknown* decodeCallback,
                                                               ULONG* pStatus) {
    return ConfirmCJ(DecodeSide::IYDBDecode, typ, cjJobID, decodeCallback, pStatus);
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::UpdateCJ_IVarCB(LONG, LONG typ, ULONG cjJobID,
                                                                IUnknown* decodeCallback,
                                                                ULONG* pStatus) {
    return ConfirmCJ(DecodeSide::ICB_Decode, typ, cjJobID, decodeCallback, pStatus);
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::deleteYDBCJob(ULONG cjJobID, LONG typ, ULONG reason,
                                                              ULONG* pStatus) {
    return DeleteCJ(DecodeSide::IYDBDecode, cjJobID, typ, reason, pStatus);
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::deleteIVarCJob(ULONG cjJobID, LONG typ,
                                                               ULONG reason, ULONG* pStatus) {
    return DeleteCJ(DecodeSide::ICB_Decode, cjJobID, typ, reason, pStatus);
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::updateYDBCJob(ULONG cjJobID, LONG typ,
                                                              ULONG* pStatus) {
    return UpdateCJ(DecodeSide::IYDBDecode, cjJobID, typ, pStatus);
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::updateIVarCJob(ULONG cjJobID, LONG typ,
                                                               ULONG* pStatus) {
    return UpdateCJ(DecodeSide::ICB_Decode, cjJobID, typ, pStatus);
}
