// The flat job records the component hands out.
#include <cstring>

#include "base/st/symcjacc/symcjacc_internal.h"
#include "base/st/symcjacc/symcjacc_record.h"

using namespace symcjacc;

void symcjacc::ZeroRecord(CJAsyncRQRecord* record) noexcept {
    std::memset(static_cast<void*>(record), 0, sizeof *record);
    VariantInit(&record->m_LookupTbl);
}

void symcjacc::ResetRecord(CJAsyncRQRecord* record) noexcept {
    (void)VariantClear(&record->m_LookupTbl);
    CoTaskMemFree(record->m_pSJ);
    ZeroRecord(record);
}

HRESULT symcjacc::FillCJAsychronRQEntry(CJAsyncRQRecord* pRecord, const CAsyncRQEntry& cj) {
    CJ_SCOPE(trace, "FillCJAsychronRQEntry");
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
    CO_TRACE(trace, TRACE_INFO, "collection job %u -> state %u, ticks: %d",
             static_cast<unsigned>(cj.m_ES_JobID), static_cast<unsigned>(cj.m_RQStatus),
             static_cast<int>(cj.ticks));
    const HRESULT hr = VariantCopy(&pRecord->m_LookupTbl, cj.m_vLookupTbl.get());
    if (FAILED(hr)) {
        CO_TRACE(trace, TRACE_ERROR, "failed to copy (AnyPtr Optimizer) LookupTbl, hr=%d",
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
