// Job queries (lookup table, properties, run-time ids, cycle existence) and the trace dumps of
// the job tables.
#include "base/st/symcjacc/symcjacc.h"
#include "base/st/symcjacc/symcjacc_internal.h"

using namespace symcjacc;

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::GetIVarLookupTbl(ULONG jobID, LONG typ,
                                                                 VARIANT* pLookupTbl,
                                                                 ULONG* pResult) {
    CJ_SCOPE(trace, "GetIVarLookupTbl");
    try {
        CJ_RETURN_IF_NULL(trace, pResult, pLookupTbl);
        dumpJobEntries("GetIVarLookupTbl");
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        const CAsyncRQEntry* cj = m_pRQ->GetAsychronRQArray(jobID, typ);
        if (cj == nullptr) {
            CO_TRACE(trace, TRACE_INFO,
                     "GetIVarLookupTbl(.Service:%d, Typ:%d.) >>> ES_JobID NOT found ",
                     static_cast<int>(jobID), static_cast<int>(typ));
            return E_FAIL;
        }
        CO_TRACE(trace, TRACE_INFO, "GetIVarLookupTbl(.Service:%d, Typ:%d.) >>> ES_JobID:%d ",
                 static_cast<int>(jobID), static_cast<int>(typ), static_cast<int>(cj->m_ES_JobID));
        (void)VariantClear(pLookupTbl);
        const HRESULT hr = cj->m_vLookupTbl.copy_to(pLookupTbl);
        if (FAILED(hr)) {
            CO_TRACE(trace, TRACE_ERROR, "Error copying LookupTbl");
            *pResult = static_cast<ULONG>(hr);
            return hr;
        }
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::getJobProperties(ULONG jobID, LONG* pTyp,
                                                                 LONG* pCycle, ULONG* pStatus) {
    CJ_SCOPE(trace, "getJobProperties");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus, pTyp, pCycle);
        *pStatus = 0;
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        if (const CAsyncRQEntry* found = m_pRQ->GetCJOfJob(jobID)) {
            const CAsyncRQEntry& cj = *found;
            const bool alone = m_bValueComparison && cj.containing() == 1 &&
                               jobID <= kClientJobIDs && (cj.m_Typ & 0x10) == 0;
            *pTyp = alone ? 1 : cj.m_Typ;
            *pCycle = cj.ms;
            return S_OK;
        }
        *pStatus = CJ_STATUS_JOB_NOT_FOUND;
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::setRt_JobID(LONG cycle, LONG typ, ULONG sjJobID,
                                                            ULONG cjJobID, ULONG rtJobID,
                                                            ULONG* pStatus) {
    CJ_SCOPE(trace, "setRt_JobID");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus);
        *pStatus = 0;
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        if (CAsyncRQEntry* cj = m_pRQ->GetAsyncCJRQArray(cycle, typ, sjJobID)) {
            cj->m_RT_JobID = rtJobID;
            CO_TRACE(trace, TRACE_INFO,
                     "CJ m_ES_JobID: %u, SJ ES_JobID: %u, m_RT_JobID: %u, m_Typ: %d m_RQStatus: "
                     "%d ms: %d containing: %d",
                     static_cast<unsigned>(cj->m_ES_JobID), static_cast<unsigned>(sjJobID),
                     static_cast<unsigned>(cj->m_RT_JobID), static_cast<int>(cj->m_Typ),
                     static_cast<int>(cj->m_RQStatus), static_cast<int>(cj->ms),
                     static_cast<int>(cj->containing()));
        } else if ((cj = m_pRQ->GetAsychronRQArray(cjJobID)) != nullptr) {
            cj->m_RT_JobID = rtJobID;
            CO_TRACE(trace, TRACE_WARNING,
                     "cycle: %d, SJ ES_JobID %u, CJ RT_JobID %u updated by CJID %u",
                     static_cast<int>(cycle), static_cast<unsigned>(sjJobID),
                     static_cast<unsigned>(rtJobID), static_cast<unsigned>(cjJobID));
        } else {
            *pStatus = CJ_STATUS_JOB_NOT_FOUND;
            CO_TRACE(trace, TRACE_ERROR, "SJ ES_JobID %u, CJ RT_JobID %u not found",
                     static_cast<unsigned>(sjJobID), static_cast<unsigned>(rtJobID));
        }
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::getRt_JobID(LONG cycle, ULONG, ULONG* pJobID,
                                                            ULONG* pStatus) {
    CJ_SCOPE(trace, "getRt_JobID");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus, pJobID);
        *pStatus = 0;
        if (*pJobID < kClientJobIDs) {
            return S_OK;
        }
        const ULONG esJobID = *pJobID;
        ULONG rtJobID = 0;
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        rtJobID = m_pRQ->GetRtJobIDOf(esJobID);
        *pJobID = rtJobID;
        CO_TRACE(trace, TRACE_INFO, "cycle: %d, ES-job %u, RT-job job %u", static_cast<int>(cycle),
                 static_cast<unsigned>(esJobID), static_cast<unsigned>(rtJobID));
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::existCycle(LONG cycle, LONG typ, ULONG sjJobID,
                                                           ULONG* pCJJobID, ULONG* pState) {
    CJ_SCOPE(trace, "existCycle");
    try {
        CJ_RETURN_IF_NULL(trace, pState, pCJJobID);
        *pState = 4;
        *pCJJobID = 0;
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        if (const CAsyncRQEntry* cj = m_pRQ->GetAsyncCJRQArray(cycle, typ, sjJobID)) {
            *pCJJobID = cj->m_ES_JobID;
            if (m_pRQ->GetSymSize(cj->m_ES_JobID, typ) > 0) {
                *pState = 8;
            }
            CO_TRACE(trace, TRACE_INFO, "job: %u, cycle: %d, state: %d",
                     static_cast<unsigned>(*pCJJobID), static_cast<int>(cycle),
                     static_cast<int>(*pState));
        }
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

void CCollectionJobSymAcc::dumpJobEntries(const char* heading) {
    CJ_SCOPE(trace, "dumpJobEntries");
    if (!CoTraceLevelEnabled(TRACE_INFO) || !m_pRQ) {
        return;
    }
    CAsyncRQGuard lock(m_pRQ.get());
    CO_TRACE(trace, TRACE_INFO, "%s: dumping %d CJ Entries", heading,
             static_cast<int>(m_pRQ->Entries().size()));
    for (const CAsyncRQEntry& cj : m_pRQ->Entries()) {
        CO_TRACE(trace, TRACE_INFO,
                 " CJ m_ES_JobID:%u, m_RT_JobID:%u, m_Typ:%d m_RQStatus:%d ms:%d containing:%d, "
                 "ticks: %d",
                 static_cast<unsigned>(cj.m_ES_JobID), static_cast<unsigned>(cj.m_RT_JobID),
                 static_cast<int>(cj.m_Typ), static_cast<int>(cj.m_RQStatus),
                 static_cast<int>(cj.ms), static_cast<int>(cj.containing()),
                 static_cast<int>(cj.ticks));
        for (const SAsyncSymRQEntry& sj : cj.m_SJList) {
            CO_TRACE(trace, TRACE_INFO,
                     " SJ ES_JobID:%u, Typ:%d, RQStatus:%d parent_ES_JobID:%u next_ES_JobID:%u",
                     static_cast<unsigned>(sj.ES_JobID), static_cast<int>(sj.Typ),
                     static_cast<int>(sj.RQStatus), static_cast<unsigned>(sj.parent_ES_JobID),
                     static_cast<unsigned>(sj.next_ES_JobID));
        }
    }
    CO_TRACE(trace, TRACE_INFO, "%s: dumping CJ Entries ends", heading);
}

void CCollectionJobSymAcc::dumpCJJobEntry(const CJAsyncRQRecord& record) {
    CJ_SCOPE(trace, "dumpCJJobEntry");
    CO_TRACE(trace, TRACE_INFO,
             " CJ m_ES_JobID:%u, m_RT_JobID:%u, m_Typ:%d m_RQStatus:%d ms:%d containing:%d",
             static_cast<unsigned>(record.m_ES_JobID), static_cast<unsigned>(record.m_RT_JobID),
             static_cast<int>(record.m_Typ), static_cast<int>(record.m_RQStatus),
             static_cast<int>(record.ms), static_cast<int>(record.containing));
    if (record.m_pSJ != nullptr) {
        for (LONG i = 0; i < static_cast<LONG>(record.containing); ++i) {
            const SJAsyncRQRecord& sj = record.m_pSJ[i];
            CO_TRACE(trace, TRACE_INFO,
                     " SJ ES_JobID:%u, Typ:%d, RQStatus:%d parent_ES_JobID:%u next_ES_JobID:%u",
                     static_cast<unsigned>(sj.ES_JobID), static_cast<int>(sj.Typ),
                     static_cast<int>(sj.RQStatus), static_cast<unsigned>(sj.parent_ES_JobID),
                     static_cast<unsigned>(sj.next_ES_JobID));
        }
    } else {
        CO_TRACE(trace, TRACE_INFO, "CJ Entry has no SJ?");
    }
    CO_TRACE(trace, TRACE_INFO, "end of dumping CJ Entry");
}
