// Re-creating a collection job under a new id (UpdateJobState), and the ring its single jobs
// form when it is stopped for re-creation.
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

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::UpdateJobState(LONG cycle, LONG typ, ULONG sjJobID,
                                                               ULONG newCJJobID, ULONG* pAction,
                                                               CJAsyncRQRecord* pRecord,
                                                               ULONG* pStatus) {
    CJ_SCOPE(trace, "UpdateJobState");
    try {
        CJ_RETURN_IF_NULL(trace, pRecord, pStatus);
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
                m_pRQ->Reindex(*cj);
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
