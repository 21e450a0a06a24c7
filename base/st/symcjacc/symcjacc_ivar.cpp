// The IVar road: merging a client's names into a collection job of the same cycle and type or
// creating one (both reform the names into the CJ's target names and lookup table), then handing
// the client the CJ's names and record and joining its SJ.
#include <utility>
#include <vector>

#include "base/st/symcjacc/symcjacc.h"
#include "base/st/symcjacc/symcjacc_internal.h"
#include "base/st/symcjacc/symcjanyopt.h"
#include "h/safearrayhlp.h"
#include "h/variantarrayhlp.h"
#include "platform/raii.h"

using namespace symcjacc;

namespace {

// What one adding call brings.
struct SIVarAddition {
    LONG cycle;
    LONG typ;
    VARIANT* names;  // the client's names, empty or a vector of count
    LONG count;
    ULONG sjJobID;
};

// The one failure tail of the adding road: the client reads the failure from the status word,
// the call itself succeeds. The step that failed has traced why.
HRESULT AddFailed(ULONG* pStatus) {
    *pStatus = CJ_STATUS_ADD_FAILED;
    return S_OK;
}

bool CountNames(CCoTrace& trace, VARIANT& names, LONG& count) {
    count = 0;
    if (names.vt == VT_EMPTY) {
        return true;
    }
    SAFEARRAYBOUND bound{};
    if (FAILED(VariantSafeArrayGetBounds(&names, 1, &bound))) {
        CO_TRACE(trace, TRACE_ERROR, "error SafeArrayGetBounds");
        return false;
    }
    count = static_cast<LONG>(bound.cElements);
    return true;
}

// The CJ's requested names when every SJ's run lies within them: the component's own vector of
// VARIANT, whose names can then move instead of being copied.
SAFEARRAY* OwnNamesCoveringSJs(const CAsyncRQEntry& cj) {
    const VARIANT* names = cj.m_vRequestedNames.get();
    if (names->vt != (VT_ARRAY | VT_VARIANT) || names->parray == nullptr ||
        SafeArrayGetDim(names->parray) != 1 || !(names->parray->fFeatures & FADF_VARIANT) ||
        names->parray->cbElements != sizeof(VARIANT) || names->parray->cLocks != 0 ||
        (names->parray->pvData == nullptr && names->parray->rgsabound[0].cElements != 0)) {
        return nullptr;
    }
    ULONGLONG owned = 0;
    for (const SAsyncSymRQEntry& sj : cj.m_SJList) {
        owned += sj.dwVarCount;
    }
    const SAFEARRAYBOUND& bound = names->parray->rgsabound[0];
    return bound.lLbound == 0 && owned <= bound.cElements && bound.cElements <= 0x7FFFFFFF
               ? names->parray
               : nullptr;
}

// Moves the live runs of `names`, each a (first, count) in order, to its front and frees the
// names of dropped SJs and those no SJ owns: the cells behind the live names are left empty, so
// that cutting the array there frees nothing more.
bool CompactLiveNames(SAFEARRAY* names, const std::vector<std::pair<LONG, LONG>>& runs) {
    platform::SafeArrayDataAccess<VARIANT> data(names);
    if (FAILED(data.hr())) {
        return false;
    }
    const auto size = static_cast<size_t>(names->rgsabound[0].cElements);
    size_t dst = 0;
    size_t src = 0;
    const auto drop_to = [&](size_t end) {
        for (; src < end; ++src) {
            (void)VariantClear(&data[src]);
        }
    };
    for (const auto& run : runs) {
        drop_to(static_cast<size_t>(run.first));
        for (const size_t end = src + static_cast<size_t>(run.second); src < end; ++src, ++dst) {
            if (dst != src) {
                data[dst] = data[src];
                VariantInit(&data[src]);
            }
        }
    }
    drop_to(size);
    return true;
}

// Drops the CJ's stopped and cancelled SJs (this very SJ's callbacks: a lookup by id could reach
// another job's) and hands each live SJ's run of names (first, count) to `keep`, in order; false
// as soon as `keep` fails.
template <class Keep>
bool WalkLiveSJs(CCoTrace& trace, CAsyncRQEntry& cj, Keep keep) {
    const ULONG cjID = cj.m_ES_JobID;
    LONG src = 0;
    for (auto it = cj.m_SJList.begin(); it != cj.m_SJList.end();) {
        const LONG n = static_cast<LONG>(it->dwVarCount);
        if (it->RQStatus == SJ_STOPPED || it->RQStatus == SJ_CANCELLED) {
            src += n;
            const ULONG sjID = it->ES_JobID;
            CAsychronRQ::ReleaseAsyncSymRQ(*it);
            CO_TRACE(trace, TRACE_INFO, "SJ ES_JobID: %u removed from CJ ES_JobID: %u",
                     static_cast<unsigned>(sjID), static_cast<unsigned>(cjID));
            it = cj.m_SJList.erase(it);
            continue;
        }
        CO_TRACE(trace, TRACE_INFO, "update asynchron read: JobID %d, copy %d vars of RQ: %d ",
                 static_cast<int>(cjID), static_cast<int>(n), static_cast<int>(it->ES_JobID));
        if (!keep(src, n)) {
            return false;
        }
        src += n;
        ++it;
    }
    return true;
}

// KeepLiveNames when the names are the component's own and cover every SJ: the same SJs
// dropped with the same traces, the live names moved to the front of the array, none copied
// (AppendNames then sizes the array to them and the client's names).
bool KeepLiveNamesInPlace(CCoTrace& trace, CAsyncRQEntry& cj, SAFEARRAY* names, LONG& kept) {
    std::vector<std::pair<LONG, LONG>> runs;
    kept = 0;
    (void)WalkLiveSJs(trace, cj, [&](LONG src, LONG n) {
        if (n > 0) {
            runs.emplace_back(src, n);
        }
        kept += n;
        return true;
    });
    if (!CompactLiveNames(names, runs)) {
        CO_TRACE(trace, TRACE_ERROR, "error SafeArrayRedim");
        return false;
    }
    return true;
}

// Drops the names (and the SJs) of cancelled and stopped SJs from the CJ's requested names; each
// SJ owns the next run of its variable count. `kept` is the number of names left.
bool KeepLiveNames(CCoTrace& trace, CAsyncRQEntry& cj, LONG& kept) {
    if (SAFEARRAY* own = OwnNamesCoveringSJs(cj)) {
        return KeepLiveNamesInPlace(trace, cj, own, kept);
    }
    platform::UniqueVariant live;
    if (FAILED(VariantSafeArrayCreate(live.get(), VT_VARIANT, 1, 0, 0))) {
        CO_TRACE(trace, TRACE_ERROR, "error SafeArrayCreate");
        return false;
    }
    LONG dst = 0;
    const bool copied = WalkLiveSJs(trace, cj, [&](LONG src, LONG n) {
        SAFEARRAYBOUND grown{static_cast<ULONG>(dst + n), 0};
        if (FAILED(SafeArrayRedim(live->parray, &grown))) {
            CO_TRACE(trace, TRACE_ERROR, "error SafeArrayRedim");
            return false;
        }
        if (n > 0 && FAILED(VariantSafeArrayCopyRange(live.get(), dst, cj.m_vRequestedNames.get(),
                                                      src, 1, n))) {
            CO_TRACE(trace, TRACE_ERROR, "error VariantSafeArrayCopyRange");
            return false;
        }
        dst += n;
        return true;
    });
    if (!copied) {
        return false;
    }
    kept = dst;
    return SUCCEEDED(cj.m_vRequestedNames.copy_from(live.get()));
}

// Appends the client's names to the CJ's requested names, after the `kept` ones.
bool AppendNames(CCoTrace& trace, CAsyncRQEntry& cj, LONG kept, const SIVarAddition& add) {
    SAFEARRAYBOUND grown{static_cast<ULONG>(kept + add.count), 0};
    if (FAILED(SafeArrayRedim(cj.m_vRequestedNames->parray, &grown))) {
        CO_TRACE(trace, TRACE_ERROR, "error SafeArrayRedim");
        return false;
    }
    if (add.count > 0 && FAILED(VariantSafeArrayCopyRange(cj.m_vRequestedNames.get(), kept,
                                                          add.names, 0, 1, add.count))) {
        CO_TRACE(trace, TRACE_ERROR, "error VariantSafeArrayCopyRange");
        return false;
    }
    return true;
}

// The requested names of a new CJ: a copy of the client's.
bool CopyNames(CCoTrace& trace, CAsyncRQEntry& cj, const SIVarAddition& add) {
    // A plain array, not a vector made in one block: merges resize it in place.
    const ULONG elements = static_cast<ULONG>(add.count);
    if (FAILED(VariantSafeArrayCreate(cj.m_vRequestedNames.get(), VT_VARIANT, 1, 0, elements))) {
        CO_TRACE(trace, TRACE_ERROR, "error SafeArrayCreateVector");
        return false;
    }
    if (add.count > 0 && FAILED(VariantSafeArrayCopyRange(cj.m_vRequestedNames.get(), 0, add.names,
                                                          0, 1, add.count))) {
        CO_TRACE(trace, TRACE_ERROR, "error VariantSafeArrayCopyRange");
        return false;
    }
    return true;
}

// Reforms the requested names into the target names and the lookup table, built aside: on
// failure a running job keeps its previous names and table.
bool ReformNames(CAnyPtrOptimizer& optimizer, CAsyncRQEntry& cj) {
    platform::UniqueVariant reformed;
    platform::UniqueVariant lookup;
    platform::UniqueVariant targetNames;
    if (optimizer.processNames(cj.m_vRequestedNames.get(), reformed.put(), lookup.put()) != S_OK ||
        FAILED(targetNames.copy_from(reformed.get()))) {
        return false;
    }
    cj.m_vReformedNames = std::move(reformed);
    cj.m_vLookupTbl = std::move(lookup);
    cj.m_vNames = std::move(targetNames);
    return true;
}

HRESULT DumpOptimizing(CCoTrace& trace, const CAsyncRQEntry& cj) {
    const HRESULT hr = CAnyPtrOptimizer::dumpNameOptimizing(
        cj.m_vRequestedNames.get(), cj.m_vReformedNames.get(), cj.m_vLookupTbl.get());
    if (hr != S_OK) {
        CO_TRACE(trace, TRACE_INFO, "dumpNameOptimizing failed %d", static_cast<int>(hr));
    }
    return hr;
}

HRESULT MergeIVar(CCoTrace& trace, CAsychronRQ& rq, CAsyncRQEntry& cj, CAnyPtrOptimizer& optimizer,
                  const SIVarAddition& add, ULONG* pStatus) {
    const ULONG cjID = cj.m_ES_JobID;
    cj.ticks += 1;
    CO_TRACE(trace, TRACE_INFO,
             "Asynchron read: collection job for cycle %dms with JobID %u found (try "
             "update adding %d variables), ticks increased: %d",
             static_cast<int>(add.cycle), static_cast<unsigned>(cjID), static_cast<int>(add.count),
             static_cast<int>(cj.ticks));
    LONG kept = 0;
    if (!KeepLiveNames(trace, cj, kept) || !AppendNames(trace, cj, kept, add) ||
        !ReformNames(optimizer, cj)) {
        return AddFailed(pStatus);
    }
    const HRESULT hr = DumpOptimizing(trace, cj);
    cj.m_dwVarCountAdded = static_cast<ULONG>(add.count);
    cj.m_dwLastSJ_ES_JobID = add.sjJobID;
    rq.Reindex(cj);
    if (hr == S_OK) {
        CO_TRACE(trace, TRACE_INFO,
                 "Asynchron read: %d variable(s) added to collection-job %u (now %d vars)",
                 static_cast<int>(add.count), static_cast<unsigned>(cjID),
                 static_cast<int>(kept + add.count));
        return S_OK;
    }
    CO_TRACE(trace, TRACE_ERROR,
             "Asynchron read/write extension of jobcreation for JobID %u failed.",
             static_cast<unsigned>(cjID));
    return E_FAIL;
}

HRESULT CreateIVar(CCoTrace& trace, CAsychronRQ& rq, ULONG maxJobs, CAnyPtrOptimizer& optimizer,
                   const SIVarAddition& add, ULONG* pStatus) {
    const ULONG id = rq.GetFreeJobID(add.typ, maxJobs);
    CO_TRACE(trace, TRACE_INFO,
             "Asynchron read: creating new collection job for cycle %dms with JobID %d",
             static_cast<int>(add.cycle), static_cast<int>(id));
    if (id >= maxJobs) {
        CO_TRACE(trace, TRACE_INFO, "no more collection-jobs possible.");
        return S_OK;
    }
    CAsyncRQEntry entry;
    entry.m_ES_JobID = id;
    entry.m_Typ = add.typ;
    entry.m_RQStatus = STATE_CREATED;
    entry.ms = add.cycle;
    CO_TRACE(trace, TRACE_INFO, "collection job %u -> %d", static_cast<unsigned>(id), 1);
    if (!CopyNames(trace, entry, add) || !ReformNames(optimizer, entry)) {
        return AddFailed(pStatus);
    }
    const HRESULT hr = DumpOptimizing(trace, entry);
    // Complete before it is stored, so that the index learns its ids once.
    entry.m_dwVarCountAdded = static_cast<ULONG>(add.count);
    entry.m_dwVarCount = static_cast<ULONG>(add.count);
    entry.m_dwDataSize = 0;
    entry.m_dwLastSJ_ES_JobID = add.sjJobID;
    entry.m_dwPrev_ES_JobID = 0;
    entry.m_dwReserved = 0;
    (void)rq.AddAsychronRQ(entry);
    if (SUCCEEDED(hr)) {
        CO_TRACE(trace, TRACE_INFO, "Asynchron read: %d variable(s) added to job %u cycle %d",
                 static_cast<int>(add.count), static_cast<unsigned>(id),
                 static_cast<int>(add.cycle));
    }
    return hr;
}

// The SJ an IVar join adds to its CJ.
SAsyncSymRQEntry JoiningSJ(ULONG sjJobID, const CAsyncRQEntry& cj) {
    SAsyncSymRQEntry sj;
    sj.ES_JobID = sjJobID;
    sj.dwService = 1;
    sj.Typ = 9;
    sj.RQStatus = SJ_JOINED;
    sj.parent_ES_JobID = cj.m_ES_JobID;
    sj.next_ES_JobID = 2;
    sj.dwVarCount = cj.m_dwVarCountAdded;
    return sj;
}

}  // namespace

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::addSymbolsIVar(LONG cycle, LONG typ, VARIANT names,
                                                               ULONG sjJobID, ULONG* pStatus) {
    CJ_SCOPE(trace, "addSymbolsIVar");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus);
        *pStatus = 0;
        SIVarAddition add{cycle, typ, &names, 0, sjJobID};
        if (names.vt != VT_EMPTY && !VariantIsNoArray(&names) && !VariantHoldsPlainVector(&names)) {
            CO_TRACE(trace, TRACE_ERROR, "error unsupported names array, vt 0x%X",
                     static_cast<unsigned int>(names.vt));
            return AddFailed(pStatus);
        }
        if (!CountNames(trace, names, add.count)) {
            return AddFailed(pStatus);
        }
        CAnyPtrOptimizer optimizer;
        (void)optimizer.initOptimizer();

        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        CAsyncRQEntry* cj = m_pRQ->GetAsyncCJRQArray(cycle, typ, kIVarMaxVars, kIVarMaxSize, 0, 0);
        if (cj != nullptr) {
            return MergeIVar(trace, *m_pRQ, *cj, optimizer, add, pStatus);
        }
        return CreateIVar(trace, *m_pRQ, m_dwMaxJobs, optimizer, add, pStatus);
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::UpdateIVarJobEntry(LONG cycle, LONG typ,
                                                                   IUnknown* sjICB, ULONG* pSJJobID,
                                                                   ULONG* pCJJobID, VARIANT* pNames,
                                                                   CJAsyncRQRecord* pRecord,
                                                                   ULONG* pAction, ULONG* pStatus) {
    CJ_SCOPE(trace, "UpdateIVarJobEntry");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus, pRecord, pAction, pSJJobID, pCJJobID, pNames);
        *pStatus = 0;
        if ((*pAction & CJ_ACTION_UNCHANGED) == 0) {
            *pAction = CJ_ACTION_ALONE;
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
                    CO_TRACE(trace, TRACE_ERROR, "failed to copy Names Array, hr=%d",
                             static_cast<int>(hr));
                }
                ResetRecord(pRecord);
                (void)FillCJAsychronRQEntry(pRecord, *cj);
            }
        }
        return UpdateIVarEntry(cycle, typ, sjICB, pSJJobID, pCJJobID, pRecord, pAction, pStatus);
    }
    CO_CATCH_RETURN_TRACED(trace)
}

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
        SAsyncSymRQEntry sj = JoiningSJ(sjJobID, *cj);
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
