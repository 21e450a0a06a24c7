// Adding variables on the IVar service: merging a client's names into a collection job of the
// same cycle and type or creating one, and handing the client the CJ's names and record.
#include <cstring>

#include "base/st/symcjacc/symcjacc.h"
#include "base/st/symcjacc/symcjacc_internal.h"
#include "base/st/symcjacc/symcjanyopt.h"
#include "h/safearrayhlp.h"
#include "h/variantarrayhlp.h"
#include "platform/raii.h"

using namespace symcjacc;

void symcjacc::ResetRecord(CJAsyncRQRecord* record) noexcept {
    (void)VariantClear(&record->m_LookupTbl);
    CoTaskMemFree(record->m_pSJ);
    std::memset(static_cast<void*>(record), 0, sizeof *record);
    VariantInit(&record->m_LookupTbl);
}

HRESULT CCollectionJobSymAcc::dumpNameOptimizing(const CAsyncRQEntry& cj) {
    return CAnyPtrOptimizer::dumpNameOptimizing(cj.m_vRequestedNames.get(),
                                                cj.m_vReformedNames.get(), cj.m_vLookupTbl.get());
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::addSymbolsIVar(LONG cycle, LONG typ, VARIANT names,
                                                               ULONG sjJobID, ULONG* pStatus) {
    CJ_SCOPE("addSymbolsIVar");
    try {
        CJ_RETURN_IF_NULL(pStatus);
        *pStatus = 0;
        LONG count = 0;
        if (names.vt != VT_EMPTY && !VariantIsNoArray(&names) && !VariantHoldsPlainVector(&names)) {
            CO_TRACE(TRACE_ERROR, "error unsupported names array, vt 0x%X",
                     static_cast<unsigned int>(names.vt));
            *pStatus = CJ_STATUS_ADD_FAILED;
            return S_OK;
        }
        if (names.vt != VT_EMPTY) {
            SAFEARRAYBOUND bound{};
            if (FAILED(VariantSafeArrayGetBounds(&names, 1, &bound))) {
                CO_TRACE(TRACE_ERROR, "error SafeArrayGetBounds");
                *pStatus = CJ_STATUS_ADD_FAILED;
                return S_OK;
            }
            count = static_cast<LONG>(bound.cElements);
        }
        CAnyPtrOptimizer optimizer;
        (void)optimizer.initOptimizer();

        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        CAsyncRQEntry* cj = m_pRQ->GetAsyncCJRQArray(cycle, typ, kIVarMaxVars, kIVarMaxSize, 0, 0);
        if (cj != nullptr) {
            // Merge: drop the names of cancelled SJs, append the new ones.
            const ULONG cjID = cj->m_ES_JobID;
            cj->ticks += 1;
            CO_TRACE(TRACE_INFO,
                     "Asynchron read: collection job for cycle %dms with JobID %u found (try "
                     "update adding %d variables), ticks increased: %d",
                     static_cast<int>(cycle), static_cast<unsigned>(cjID), static_cast<int>(count),
                     static_cast<int>(cj->ticks));
            platform::UniqueVariant kept;
            if (FAILED(VariantSafeArrayCreate(kept.get(), VT_VARIANT, 1, 0, 0))) {
                CO_TRACE(TRACE_ERROR, "error SafeArrayCreate");
                *pStatus = CJ_STATUS_ADD_FAILED;
                return S_OK;
            }
            LONG src = 0;
            LONG dst = 0;
            for (auto it = cj->m_SJList.begin(); it != cj->m_SJList.end();) {
                const LONG n = static_cast<LONG>(it->dwVarCount);
                if (it->RQStatus == SJ_STOPPED || it->RQStatus == SJ_CANCELLED) {
                    src += n;
                    const ULONG sjID = it->ES_JobID;
                    // Release the SJ's own callbacks before it goes. (Passing the SJ's id as a
                    // CJ id here would remove whichever CJ happened to carry that number.)
                    m_pRQ->KillAsychronRQ(cjID, typ, sjID, true);
                    CO_TRACE(TRACE_INFO, "SJ ES_JobID: %u removed from CJ ES_JobID: %u",
                             static_cast<unsigned>(sjID), static_cast<unsigned>(cjID));
                    it = cj->m_SJList.erase(it);
                    continue;
                }
                CO_TRACE(TRACE_INFO, "update asynchron read: JobID %d, copy %d vars of RQ: %d ",
                         static_cast<int>(cjID), static_cast<int>(n),
                         static_cast<int>(it->ES_JobID));
                SAFEARRAYBOUND grown{static_cast<ULONG>(dst + n), 0};
                if (FAILED(SafeArrayRedim(kept->parray, &grown))) {
                    CO_TRACE(TRACE_ERROR, "error SafeArrayRedim");
                    *pStatus = CJ_STATUS_ADD_FAILED;
                    return S_OK;
                }
                if (n > 0 && FAILED(VariantSafeArrayCopyRange(
                                 kept.get(), dst, cj->m_vRequestedNames.get(), src, 1, n))) {
                    CO_TRACE(TRACE_ERROR, "error VariantSafeArrayCopyRange");
                    *pStatus = CJ_STATUS_ADD_FAILED;
                    return S_OK;
                }
                src += n;
                dst += n;
                ++it;
            }
            if (FAILED(cj->m_vRequestedNames.copy_from(kept.get()))) {
                *pStatus = CJ_STATUS_ADD_FAILED;
                return S_OK;
            }
            kept.reset();
            const LONG total = dst + count;
            SAFEARRAYBOUND grown{static_cast<ULONG>(total), 0};
            if (FAILED(SafeArrayRedim(cj->m_vRequestedNames->parray, &grown))) {
                CO_TRACE(TRACE_ERROR, "error SafeArrayRedim");
                *pStatus = CJ_STATUS_ADD_FAILED;
                return S_OK;
            }
            if (count > 0 && FAILED(VariantSafeArrayCopyRange(cj->m_vRequestedNames.get(), dst,
                                                              &names, 0, 1, count))) {
                CO_TRACE(TRACE_ERROR, "error VariantSafeArrayCopyRange");
                *pStatus = CJ_STATUS_ADD_FAILED;
                return S_OK;
            }
            if (optimizer.processNames(cj->m_vRequestedNames.get(), cj->m_vReformedNames.put(),
                                       cj->m_vLookupTbl.put()) != S_OK ||
                FAILED(cj->m_vNames.copy_from(cj->m_vReformedNames.get()))) {
                *pStatus = CJ_STATUS_ADD_FAILED;
                return S_OK;
            }
            const HRESULT hr = dumpNameOptimizing(*cj);
            if (hr != S_OK) {
                CO_TRACE(TRACE_INFO, "dumpNameOptimizing failed %d", static_cast<int>(hr));
            }
            cj->m_dwVarCountAdded = static_cast<ULONG>(count);
            cj->m_dwLastSJ_ES_JobID = sjJobID;
            if (hr == S_OK) {
                CO_TRACE(TRACE_INFO,
                         "Asynchron read: %d variable(s) added to collection-job %u (now %d vars)",
                         static_cast<int>(count), static_cast<unsigned>(cjID),
                         static_cast<int>(total));
                return S_OK;
            }
            CO_TRACE(TRACE_ERROR,
                     "Asynchron read/write extension of jobcreation for JobID %u failed.",
                     static_cast<unsigned>(cjID));
            return E_FAIL;
        }

        // Create: the smallest id from 2 that no CJ of this type uses, below the job limit.
        const ULONG maxJobs = m_dwMaxJobs;
        ULONG id = 2;
        while (id < maxJobs && m_pRQ->GetAsychronRQArray(id, typ) != nullptr) {
            ++id;
        }
        CO_TRACE(TRACE_INFO,
                 "Asynchron read: creating new collection job for cycle %dms with JobID %d",
                 static_cast<int>(cycle), static_cast<int>(id));
        if (id >= maxJobs) {
            CO_TRACE(TRACE_INFO, "no more collection-jobs possible.");
            return S_OK;
        }
        CAsyncRQEntry entry;
        entry.m_ES_JobID = id;
        entry.m_Typ = typ;
        entry.m_RQStatus = STATE_CREATED;
        entry.ms = cycle;
        CO_TRACE(TRACE_INFO, "collection job %u -> %d", static_cast<unsigned>(id), 1);
        const ULONG elements = static_cast<ULONG>(count);
        if (FAILED(VariantSafeArrayCreateVector(entry.m_vRequestedNames.get(), VT_VARIANT,
                                                &elements))) {
            CO_TRACE(TRACE_ERROR, "error SafeArrayCreateVector");
            *pStatus = CJ_STATUS_ADD_FAILED;
            return S_OK;
        }
        if (count > 0 && FAILED(VariantSafeArrayCopyRange(entry.m_vRequestedNames.get(), 0, &names,
                                                          0, 1, count))) {
            CO_TRACE(TRACE_ERROR, "error VariantSafeArrayCopyRange");
            *pStatus = CJ_STATUS_ADD_FAILED;
            return S_OK;
        }
        if (optimizer.processNames(entry.m_vRequestedNames.get(), entry.m_vReformedNames.put(),
                                   entry.m_vLookupTbl.put()) != S_OK ||
            FAILED(entry.m_vNames.copy_from(entry.m_vReformedNames.get()))) {
            *pStatus = CJ_STATUS_ADD_FAILED;
            return S_OK;
        }
        const HRESULT hr = dumpNameOptimizing(entry);
        if (hr != S_OK) {
            CO_TRACE(TRACE_INFO, "dumpNameOptimizing failed %d", static_cast<int>(hr));
        }
        CAsyncRQEntry* stored = m_pRQ->AddAsychronRQ(entry);
        stored->m_dwVarCountAdded = elements;
        stored->m_dwVarCount = elements;
        stored->m_dwDataSize = 0;
        stored->m_dwLastSJ_ES_JobID = sjJobID;
        stored->m_dwPrev_ES_JobID = 0;
        stored->m_dwReserved = 0;
        if (SUCCEEDED(hr)) {
            CO_TRACE(TRACE_INFO, "Asynchron read: %d variable(s) added to job %u cycle %d",
                     static_cast<int>(count), static_cast<unsigned>(id), static_cast<int>(cycle));
        }
        return hr;
    }
    CO_CATCH_RETURN_TRACED()
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::UpdateIVarJobEntry(LONG cycle, LONG typ,
                                                                   IUnknown* sjICB, ULONG* pSJJobID,
                                                                   ULONG* pCJJobID, VARIANT* pNames,
                                                                   CJAsyncRQRecord* pRecord,
                                                                   ULONG* pAction, ULONG* pStatus) {
    CJ_SCOPE("UpdateIVarJobEntry");
    try {
        CJ_RETURN_IF_NULL(pStatus);
        CJ_RETURN_IF_NULL(pRecord);
        CJ_RETURN_IF_NULL(pAction);
        CJ_RETURN_IF_NULL(pSJJobID);
        CJ_RETURN_IF_NULL(pCJJobID);
        CJ_RETURN_IF_NULL(pNames);
        *pStatus = 0;
        if ((*pAction & ACTION_UNCHANGED) == 0) {
            *pAction = ACTION_ALONE;
        }
        VariantInit(pNames);
        {
            CAsyncRQGuard lock(m_pRQ.get());
            if (!m_pRQ) {
                return E_OUTOFMEMORY;
            }
            const CAsyncRQEntry* cj =
                m_pRQ->GetAsyncCJRQArray(cycle, typ, kIVarMaxVars, kIVarMaxSize, 0, 0);
            if (cj != nullptr) {
                const HRESULT hr = VariantCopy(pNames, cj->m_vNames.get());
                if (FAILED(hr)) {
                    CO_TRACE(TRACE_ERROR, "failed to copy Names Array, hr=%d",
                             static_cast<int>(hr));
                }
                ResetRecord(pRecord);
                (void)FillCJAsychronRQEntry(pRecord, *cj);
            }
        }
        return UpdateIVarEntry(cycle, typ, sjICB, pSJJobID, pCJJobID, pRecord, pAction, pStatus);
    }
    CO_CATCH_RETURN_TRACED()
}

HRESULT CCollectionJobSymAcc::FillCJAsychronRQEntry(CJAsyncRQRecord* pRecord,
                                                    const CAsyncRQEntry& cj) {
    CJ_SCOPE("FillCJAsychronRQEntry");
    pRecord->m_Typ = cj.m_Typ;
    pRecord->m_ES_JobID = cj.m_ES_JobID;
    pRecord->m_RT_JobID = cj.m_RT_JobID;
    pRecord->m_RQStatus = static_cast<USHORT>(cj.m_RQStatus);
    pRecord->ms = cj.ms;
    pRecord->m_oldCookieIYDBDecode = cj.m_oldCookieIYDBDecode;
    pRecord->m_bOldIYDBDecodeValid = cj.m_bOldIYDBDecodeValid;
    pRecord->m_newCookieIYDBDecode = cj.m_newCookieIYDBDecode;
    pRecord->m_bNewIYDBDecodeValid = cj.m_bNewIYDBDecodeValid;
    pRecord->m_oldCookieICB_Decode = cj.m_oldCookieICB_Decode;
    pRecord->m_bOldICB_DecodeValid = cj.m_bOldICB_DecodeValid;
    pRecord->m_newCookieICB_Decode = cj.m_newCookieICB_Decode;
    pRecord->m_bNewICB_DecodeValid = cj.m_bNewICB_DecodeValid;
    pRecord->m_VarCount = cj.m_dwVarCountAdded;
    pRecord->ticks = cj.ticks;
    CO_TRACE(TRACE_INFO, "collection job %u -> state %u, ticks: %d",
             static_cast<unsigned>(cj.m_ES_JobID), static_cast<unsigned>(cj.m_RQStatus),
             static_cast<int>(cj.ticks));
    const HRESULT hr = VariantCopy(&pRecord->m_LookupTbl, cj.m_vLookupTbl.get());
    if (FAILED(hr)) {
        CO_TRACE(TRACE_ERROR, "failed to copy (AnyPtr Optimizer) LookupTbl, hr=%d",
                 static_cast<int>(hr));
        return hr;
    }
    pRecord->containing = cj.containing();
    pRecord->m_pSJ = static_cast<SJAsyncRQRecord*>(
        CoTaskMemAlloc(sizeof(SJAsyncRQRecord) * (pRecord->containing + 1)));
    if (pRecord->m_pSJ == nullptr) {
        return E_OUTOFMEMORY;
    }
    SJAsyncRQRecord* out = pRecord->m_pSJ;
    for (const SAsyncSymRQEntry& sj : cj.m_SJList) {
        std::memset(static_cast<void*>(out), 0, sizeof *out);
        out->Typ = sj.Typ;
        out->Reserved = sj.dwReserved;
        out->RQStatus = sj.RQStatus;
        out->ES_JobID = sj.ES_JobID;
        out->Service = sj.dwService;
        out->parent_ES_JobID = sj.parent_ES_JobID;
        out->next_ES_JobID = sj.next_ES_JobID;
        out->VarCount = sj.dwVarCount;
        out->CookieICB_Interface = sj.CookieICB_Interface;
        out->bICB_InterfaceValid = sj.bICB_InterfaceValid;
        out->CookieIYDBDecode = sj.CookieIYDBDecode;
        out->bIYDBDecodeValid = sj.bIYDBDecodeValid;
        ++out;
    }
    return S_OK;
}
