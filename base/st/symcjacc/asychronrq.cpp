// The request registry: CJ and SJ entries, their lookups and removal, and the registration of
// clients' callbacks in the callback table.
#include "base/st/symcjacc/asychronrq.h"

#include <algorithm>
#include <atomic>
#include <set>
#include <utility>

#include "co/co_trace.h"

using platform::ComPtr;

namespace {

constexpr char kFile[] = "base/st/symcjacc/asychronrq";
// Context of both tables: in-process server and handler, local and remote server.
constexpr DWORD kTableContext = 0x17;

// Shared by every registry of the process; only feeds the "Reentrance" trace.
std::atomic<LONG> g_KillReentrance{0};

void CopyVariant(platform::UniqueVariant& to, const platform::UniqueVariant& from) {
    const HRESULT hr = to.copy_from(from.get());
    if (FAILED(hr)) {
        throw CAsyncRQCopyError(hr);
    }
}

// One call on a table: an exception becomes E_FAIL with the diagnostics report and the
// caught-exception message; a failure is traced with the call's error message.
template <class Call>
HRESULT TableCall(CCoTrace& trace, int line, const char* callText, Call&& call) noexcept {
    HRESULT hr = E_FAIL;
    try {
        hr = call();
    } catch (...) {
        CoDiagnosticsReport();
        hr = E_FAIL;
        trace.Msg(TRACE_ERROR, line, "caught exception calling %s", callText);
    }
    if (FAILED(hr)) {
        trace.Msg(TRACE_ERROR, line, "error calling %s hr = 0x%lX (%s)", callText,
                  static_cast<unsigned long>(static_cast<ULONG>(hr)), CCoHResultText(hr).c_str());
    }
    return hr;
}
#define CO_TABLE_CALL(scope, text, ...) \
    TableCall((scope), __LINE__, (text), [&] { return __VA_ARGS__; })

// What differs between the six register/revoke operations.
struct SlotOperation {
    const char* revokeText;
    const char* registerText;  // null: revoke only
    const IID* iid;
    bool traceValidity;    // "invalidate/validate callback interface"
    const char* nullText;  // level-3 trace for a null interface, or null
};

// The callback table for the slot operations of one removal (up to two per SJ and four per CJ),
// so that it is created once for them all. Only a created table is kept: after a failure each
// slot tries again, as it would on its own.
class TableForRemoval {
  public:
    TableForRemoval() noexcept : m_outer(t_current) { t_current = this; }
    ~TableForRemoval() { t_current = m_outer; }
    TableForRemoval(const TableForRemoval&) = delete;
    TableForRemoval& operator=(const TableForRemoval&) = delete;

    static HRESULT Get(ComPtr<IMC_CallbackTable>& table) noexcept {
        if (t_current != nullptr && t_current->m_table) {
            table = t_current->m_table;
            return S_OK;
        }
        const HRESULT hr = CoCreateInstance(CLSID_MC_CallbackTable, nullptr, kTableContext,
                                            IID_IMC_CallbackTable, table.put_void());
        if (SUCCEEDED(hr) && table && t_current != nullptr) {
            t_current->m_table = table;
        }
        return hr;
    }

  private:
    static thread_local TableForRemoval* t_current;
    TableForRemoval* m_outer;
    ComPtr<IMC_CallbackTable> m_table;
};
thread_local TableForRemoval* TableForRemoval::t_current = nullptr;

void RegisterOrRevoke(CCoTrace& trace, const SlotOperation& op, IUnknown* pItf, ULONG& cookie,
                      ULONG& valid) noexcept {
    ComPtr<IMC_CallbackTable> spIGIT;
    HRESULT hr = TableForRemoval::Get(spIGIT);
    if (FAILED(hr) || !spIGIT) {
        CO_TRACE(trace, TRACE_ERROR, "error accessing global interface table 0x%X",
                 static_cast<unsigned>(FAILED(hr) ? hr : E_NOINTERFACE));
        return;
    }
    if (valid == 1) {
        // A failed revocation still forgets the cookie: nothing else could release it later.
        (void)CO_TABLE_CALL(trace, op.revokeText, spIGIT->RevokeInterfaceFromGlobal(cookie));
        cookie = 0;
        valid = 0;
        if (op.traceValidity) {
            CO_TRACE(trace, TRACE_INFO, "invalidate callback interface");
        }
    }
    if (op.registerText == nullptr) {
        return;
    }
    if (pItf == nullptr) {
        if (op.nullText != nullptr) {
            CO_TRACE(trace, TRACE_WARNING, "%s", op.nullText);
        }
        return;
    }
    DWORD newCookie = 0;
    hr = CO_TABLE_CALL(trace, op.registerText,
                       spIGIT->RegisterInterfaceInGlobal(pItf, *op.iid, &newCookie));
    if (SUCCEEDED(hr)) {
        cookie = newCookie;
        valid = 1;
        if (op.traceValidity) {
            CO_TRACE(trace, TRACE_INFO, "validate callback interface");
        }
    }
}

// Fetch of a CJ's callback from the system table; `useOld` picks the slot.
ComPtr<IUnknown> FetchCallback(CCoTrace& trace, SAsyncCookiePair& pair, bool useOld, const IID& iid,
                               const char* getOldText, const char* getNewText,
                               bool revoke) noexcept {
    ComPtr<IGlobalInterfaceTable> spIGIT;
    if (FAILED(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, kTableContext,
                                IID_IGlobalInterfaceTable, spIGIT.put_void())) ||
        !spIGIT) {
        return {};
    }
    ULONG& cookie = useOld ? pair.m_oldCookie_Decode : pair.m_newCookie_Decode;
    ULONG& valid = useOld ? pair.bOldValid : pair.bNewValid;
    ComPtr<IUnknown> spIUnk;
    if (FAILED(CO_TABLE_CALL(trace, useOld ? getOldText : getNewText,
                             spIGIT->GetInterfaceFromGlobal(cookie, iid, spIUnk.put_void())))) {
        return {};
    }
    if (revoke) {
        const char* revokeText =
            useOld ? "spIGIT->RevokeInterfaceFromGlobal( sAsyncRQEntry.m_oldCookie_Decode)"
                   : "spIGIT->RevokeInterfaceFromGlobal( sAsyncRQEntry.m_newCookie_Decode)";
        if (SUCCEEDED(
                CO_TABLE_CALL(trace, revokeText, spIGIT->RevokeInterfaceFromGlobal(cookie)))) {
            cookie = 0;
            valid = 0;
            CO_TRACE(trace, TRACE_INFO, "invalidate callback interface");
        }
    }
    return spIUnk;
}

}  // namespace

// ---- entries --------------------------------------------------------------------------------

CAsyncRQEntry::CAsyncRQEntry(const CAsyncRQEntry& other)
    : SAsyncRQFields(other), m_spYDBData(other.m_spYDBData), m_SJList(other.m_SJList) {
    CopyVariant(m_vNames, other.m_vNames);
    CopyVariant(m_vRequestedNames, other.m_vRequestedNames);
    CopyVariant(m_vReformedNames, other.m_vReformedNames);
    CopyVariant(m_vLookupTbl, other.m_vLookupTbl);
}

CAsyncRQEntry& CAsyncRQEntry::operator=(const CAsyncRQEntry& other) {
    if (this != &other) {
        CAsyncRQEntry copy(other);
        *this = std::move(copy);
    }
    return *this;
}

SAsyncCookiePair CAsyncRQEntry::IYDBDecodePair() const noexcept {
    return {m_bOldIYDBDecodeValid, m_oldCookieIYDBDecode, m_bNewIYDBDecodeValid,
            m_newCookieIYDBDecode};
}

SAsyncCookiePair CAsyncRQEntry::ICB_DecodePair() const noexcept {
    return {m_bOldICB_DecodeValid, m_oldCookieICB_Decode, m_bNewICB_DecodeValid,
            m_newCookieICB_Decode};
}

void CAsyncRQEntry::SetIYDBDecodePair(const SAsyncCookiePair& pair) noexcept {
    m_bOldIYDBDecodeValid = pair.bOldValid;
    m_oldCookieIYDBDecode = pair.m_oldCookie_Decode;
    m_bNewIYDBDecodeValid = pair.bNewValid;
    m_newCookieIYDBDecode = pair.m_newCookie_Decode;
}

void CAsyncRQEntry::SetICB_DecodePair(const SAsyncCookiePair& pair) noexcept {
    m_bOldICB_DecodeValid = pair.bOldValid;
    m_oldCookieICB_Decode = pair.m_oldCookie_Decode;
    m_bNewICB_DecodeValid = pair.bNewValid;
    m_newCookieICB_Decode = pair.m_newCookie_Decode;
}

// ---- registry -------------------------------------------------------------------------------

namespace {

// Most CJs carry 0 (a previous id before any renumbering): a lookup by 0 walks the list rather
// than the index keeping one list of nearly every CJ.
constexpr ULONG kUnindexedID = 0;

std::uint64_t CycleTypeKey(LONG cycle, LONG typ) noexcept {
    return (std::uint64_t{static_cast<ULONG>(cycle)} << 32) | static_cast<ULONG>(typ);
}

// Every id under which some lookup may find the CJ, sorted and distinct.
void CollectIDs(const CAsyncRQEntry& cj, std::vector<ULONG>& ids) {
    ids.clear();
    ids.reserve(3 + 2 * cj.m_SJList.size());
    ids.push_back(cj.m_ES_JobID);
    ids.push_back(cj.m_dwPrev_ES_JobID);
    ids.push_back(cj.m_dwLastSJ_ES_JobID);
    for (const SAsyncSymRQEntry& sj : cj.m_SJList) {
        ids.push_back(sj.ES_JobID);
        ids.push_back(sj.parent_ES_JobID);
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    if (!ids.empty() && ids.front() == kUnindexedID) {
        ids.erase(ids.begin());
    }
}

// Index lists stay in insertion order, also for a CJ indexed again under its old number.
template <class List, class Item>
void InsertBySeq(List& list, const Item& item) {
    const auto at =
        std::upper_bound(list.begin(), list.end(), item.seq,
                         [](std::uint64_t seq, const Item& each) { return seq < each.seq; });
    list.insert(at, item);
}

template <class Map, class Key>
void RemoveFrom(Map& map, const Key& key, const CAsyncRQEntry* cj) noexcept {
    const auto found = map.find(key);
    if (found == map.end()) {
        return;
    }
    auto& list = found->second;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->cj == cj) {
            list.erase(it);
            break;
        }
    }
    if (list.empty()) {
        map.erase(found);
    }
}

bool HoldsSJOrParent(const CAsyncRQEntry& cj, ULONG jobID) noexcept {
    for (const SAsyncSymRQEntry& sj : cj.m_SJList) {
        if (sj.ES_JobID == jobID || sj.parent_ES_JobID == jobID) {
            return true;
        }
    }
    return false;
}

}  // namespace

CAsychronRQ::~CAsychronRQ() {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::~CAsychronRQ");
    try {
        const TableForRemoval table;
        for (CAsyncRQEntry& cj : m_CJList) {
            for (SAsyncSymRQEntry& sj : cj.m_SJList) {
                CallbackICB_Interface(nullptr, sj);
                CallbackDisp(nullptr, sj);
            }
            newCJ_CallbackIYDBDecode(nullptr, cj);
            oldCJ_CallbackIYDBDecode(cj);
            newCJ_CallbackICB_Decode(nullptr, cj);
            oldCJ_CallbackICB_Decode(cj);
        }
    } catch (...) {
        CoDiagnosticsReport();
        CO_TRACE(trace, TRACE_ERROR, "caught any unhandled exception");
    }
    // Members go in reverse order: the index, the lock, then the entries.
}

// ---- the index ------------------------------------------------------------------------------

bool CAsychronRQ::Index(CJIterator position, std::uint64_t seq) noexcept {
    CAsyncRQEntry& cj = *position;
    try {
        SIndexedCJ keys{seq,      position,      CycleTypeKey(cj.ms, cj.m_Typ),
                        cj.m_Typ, cj.m_ES_JobID, cj.m_dwPrev_ES_JobID,
                        {}};
        CollectIDs(cj, keys.ids);
        InsertBySeq(m_byCycleType[keys.cycleType], SIndexed{seq, &cj});
        for (ULONG id : keys.ids) {
            InsertBySeq(m_byID[id], SIndexed{seq, &cj});
        }
        m_indexed.emplace(&cj, std::move(keys));
        return true;
    } catch (...) {
        ForgetIndex();  // half an entry indexed: start again from the lists
        return false;
    }
}

void CAsychronRQ::IndexID(SIndexedCJ& keys, CAsyncRQEntry& cj, ULONG id) {
    if (id == kUnindexedID) {
        return;
    }
    const auto at = std::lower_bound(keys.ids.begin(), keys.ids.end(), id);
    if (at != keys.ids.end() && *at == id) {
        return;
    }
    InsertBySeq(m_byID[id], SIndexed{keys.seq, &cj});
    keys.ids.insert(at, id);
}

void CAsychronRQ::IndexSJ(CAsyncRQEntry& cj, const SAsyncSymRQEntry& sj) noexcept {
    const auto found = m_indexed.find(&cj);
    if (found == m_indexed.end()) {
        return;
    }
    try {
        IndexID(found->second, cj, sj.ES_JobID);
        IndexID(found->second, cj, sj.parent_ES_JobID);
    } catch (...) {
        ForgetIndex();
    }
}

void CAsychronRQ::Unindex(const CAsyncRQEntry& cj, bool idsFreed) noexcept {
    const auto found = m_indexed.find(&cj);
    if (found == m_indexed.end()) {
        return;
    }
    const SIndexedCJ& keys = found->second;
    RemoveFrom(m_byCycleType, keys.cycleType, &cj);
    for (ULONG id : keys.ids) {
        RemoveFrom(m_byID, id, &cj);
    }
    if (idsFreed) {
        FreedJobID(keys.typ, keys.id);
        FreedJobID(keys.typ, keys.prevID);
    }
    m_indexed.erase(found);
}

void CAsychronRQ::Reindex(CAsyncRQEntry& cj) noexcept {
    if (m_indexLost) {
        RebuildIndex();
        return;
    }
    const auto found = m_indexed.find(&cj);
    if (found == m_indexed.end()) {
        return;
    }
    const std::uint64_t seq = found->second.seq;
    const CJIterator position = found->second.position;
    const LONG typ = found->second.typ;
    const ULONG ids[] = {found->second.id, found->second.prevID};
    Unindex(cj, false);
    if (!Index(position, seq)) {
        return;
    }
    for (ULONG id : ids) {
        if (cj.m_Typ != typ || (cj.m_ES_JobID != id && cj.m_dwPrev_ES_JobID != id)) {
            FreedJobID(typ, id);
        }
    }
}

void CAsychronRQ::ForgetIndex() noexcept {
    m_byID.clear();
    m_byCycleType.clear();
    m_indexed.clear();
    m_freeIDs.clear();
    m_indexLost = true;
}

void CAsychronRQ::RebuildIndex() noexcept {
    ForgetIndex();
    m_indexLost = false;
    // Oldest first, so that the numbers keep the list's order.
    for (auto it = m_CJList.end(); it != m_CJList.begin();) {
        --it;
        if (!Index(it, ++m_nextSeq)) {
            return;
        }
    }
}

void CAsychronRQ::FreedJobID(LONG typ, ULONG id) noexcept {
    const auto known = m_freeIDs.find(typ);
    if (known == m_freeIDs.end() || id < 2 || id >= known->second.from) {
        return;
    }
    try {
        known->second.holes.insert(id);
    } catch (...) {
        known->second.from = id;  // the holes below it still tell every free id
    }
}

template <class Match>
CAsyncRQEntry* CAsychronRQ::Walk(bool newest, Match&& match) noexcept {
    if (newest) {
        for (CAsyncRQEntry& cj : m_CJList) {
            if (match(cj)) {
                return &cj;
            }
        }
    } else {
        for (auto it = m_CJList.rbegin(); it != m_CJList.rend(); ++it) {
            if (match(*it)) {
                return &*it;
            }
        }
    }
    return nullptr;
}

template <class Match>
CAsyncRQEntry* CAsychronRQ::FindByID(ULONG id, bool newest, Match&& match) noexcept {
    if (id == kUnindexedID) {
        return Walk(newest, match);
    }
    return FindIn(m_byID, id, newest, match);
}

template <class Map, class Key, class Match>
CAsyncRQEntry* CAsychronRQ::FindIn(Map& map, const Key& key, bool newest, Match&& match) noexcept {
    if (m_indexLost) {
        RebuildIndex();
    }
    if (m_indexLost) {
        return Walk(newest, match);
    }
    const auto found = map.find(key);
    if (found == map.end()) {
        return nullptr;
    }
    const IndexList& list = found->second;
    if (newest) {
        for (auto it = list.rbegin(); it != list.rend(); ++it) {
            if (match(*it->cj)) {
                return it->cj;
            }
        }
    } else {
        for (const SIndexed& each : list) {
            if (match(*each.cj)) {
                return each.cj;
            }
        }
    }
    return nullptr;
}

// ---- insertion and lookups ------------------------------------------------------------------

CAsyncRQEntry* CAsychronRQ::AddAsychronRQ(const CAsyncRQEntry& entry) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::AddAsychronRQ");
    m_CJList.push_front(entry);  // a failed copy leaves the list unchanged
    if (m_indexLost) {
        RebuildIndex();
    } else {
        (void)Index(m_CJList.begin(), ++m_nextSeq);
    }
    CO_TRACE(trace, TRACE_INFO, "CJ ES_JobID: %u inserted",
             static_cast<unsigned>(entry.m_ES_JobID));
    return &m_CJList.front();
}

SAsyncSymRQEntry* CAsychronRQ::AddAsyncSymRQ(ULONG cjJobID, const SAsyncSymRQEntry* sj, LONG typ) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::AddAsyncSymRQ");
    CAsyncRQEntry* cj = GetAsychronRQArray(cjJobID, typ);
    if (cj == nullptr || sj == nullptr) {
        return nullptr;
    }
    cj->m_SJList.push_back(*sj);
    SAsyncSymRQEntry* stored = &cj->m_SJList.back();
    IndexSJ(*cj, *stored);
    CO_TRACE(trace, TRACE_INFO, "SJ ES_JobID: %u inserted to CJ ES_JobID: %u",
             static_cast<unsigned>(stored->ES_JobID), static_cast<unsigned>(cjJobID));
    return stored;
}

SAsyncSymRQEntry* CAsychronRQ::AddAsyncSymRQ(CAsyncRQEntry& cj, const SAsyncSymRQEntry& sj) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::AddAsyncSymRQ");
    cj.m_SJList.push_back(sj);
    IndexSJ(cj, cj.m_SJList.back());
    CO_TRACE(trace, TRACE_INFO, "SJ ES_JobID: %u inserted to CJ ES_JobID: %u",
             static_cast<unsigned>(sj.ES_JobID), static_cast<unsigned>(cj.m_ES_JobID));
    return &cj.m_SJList.back();
}

CAsyncRQEntry* CAsychronRQ::GetAsychronRQArray(ULONG cjJobID, LONG typ) noexcept {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::GetAsychronRQArray");
    return FindByID(cjJobID, true, [&](const CAsyncRQEntry& cj) {
        return (cj.m_ES_JobID == cjJobID || cj.m_dwPrev_ES_JobID == cjJobID) && cj.m_Typ == typ;
    });
}

CAsyncRQEntry* CAsychronRQ::GetAsychronRQArray(ULONG cjJobID) noexcept {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::GetAsychronRQArray");
    return FindByID(cjJobID, true,
                    [&](const CAsyncRQEntry& cj) { return cj.m_ES_JobID == cjJobID; });
}

CAsyncRQEntry* CAsychronRQ::GetAsyncCJRQArray(LONG cycle, LONG typ, ULONG sjJobID) noexcept {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::GetAsyncCJRQArray");
    return FindByID(sjJobID, true, [&](CAsyncRQEntry& cj) {
        return cj.ms == cycle && cj.m_Typ == typ &&
               (cj.m_dwLastSJ_ES_JobID == sjJobID ||
                GetAsychronSymRQArray(&cj, sjJobID) != nullptr);
    });
}

CAsyncRQEntry* CAsychronRQ::GetAsyncCJRQArray(LONG cycle, LONG typ, ULONG varLimit, ULONG sizeLimit,
                                              ULONG varsToAdd, ULONG bytesToAdd) noexcept {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::GetAsyncCJRQArray");
    if (cycle == 0) {
        return nullptr;
    }
    return FindIn(m_byCycleType, CycleTypeKey(cycle, typ), true, [&](const CAsyncRQEntry& cj) {
        // Unsigned sums, as the limits are compared: a huge addition wraps, as it always has.
        return cj.ms == cycle && cj.m_Typ == typ && cj.m_dwVarCount + varsToAdd <= varLimit &&
               cj.m_dwDataSize + bytesToAdd <= sizeLimit;
    });
}

SAsyncSymRQEntry* CAsychronRQ::GetAsychronSymRQArray(CAsyncRQEntry* cj, ULONG sjJobID) noexcept {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::GetAsychronSymRQArray");
    if (cj == nullptr) {
        return nullptr;
    }
    for (SAsyncSymRQEntry& sj : cj->m_SJList) {
        if (sj.ES_JobID == sjJobID) {
            return &sj;
        }
    }
    return nullptr;
}

ULONG CAsychronRQ::GetSymSize(ULONG cjJobID, LONG typ) noexcept {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::GetSymSize");
    const CAsyncRQEntry* cj = GetAsychronRQArray(cjJobID, typ);
    return cj != nullptr ? cj->containing() : 0;
}

CAsyncRQEntry* CAsychronRQ::GetHolderOfSJ(ULONG sjJobID) noexcept {
    return FindByID(sjJobID, true, [&](CAsyncRQEntry& cj) {
        return GetAsychronSymRQArray(&cj, sjJobID) != nullptr;
    });
}

const CAsyncRQEntry* CAsychronRQ::GetCJOfJob(ULONG jobID) noexcept {
    return FindByID(jobID, true, [&](const CAsyncRQEntry& cj) {
        return cj.containing() != 0 &&
               (cj.m_dwLastSJ_ES_JobID == jobID || HoldsSJOrParent(cj, jobID));
    });
}

const CAsyncRQEntry* CAsychronRQ::GetCJOfSJOrParent(ULONG jobID) noexcept {
    return FindByID(jobID, true,
                    [&](const CAsyncRQEntry& cj) { return HoldsSJOrParent(cj, jobID); });
}

const CAsyncRQEntry* CAsychronRQ::GetOldestAsychronRQArray(ULONG cjJobID) noexcept {
    return FindByID(cjJobID, false,
                    [&](const CAsyncRQEntry& cj) { return cj.m_ES_JobID == cjJobID; });
}

ULONG CAsychronRQ::GetRtJobIDOf(ULONG esJobID) noexcept {
    const CAsyncRQEntry* cj = FindByID(esJobID, false, [&](CAsyncRQEntry& each) {
        return (each.m_RT_JobID != 0 && each.m_ES_JobID == esJobID) ||
               GetAsychronSymRQArray(&each, esJobID) != nullptr;
    });
    return cj != nullptr ? cj->m_RT_JobID : 0;
}

ULONG CAsychronRQ::GetFreeJobID(LONG typ, ULONG limit) noexcept {
    ULONG from = 2;
    const auto known = m_indexLost ? m_freeIDs.end() : m_freeIDs.find(typ);
    if (known != m_freeIDs.end()) {
        // Every free id below `from` is a hole; a hole taken again since is dropped.
        std::set<ULONG>& holes = known->second.holes;
        for (auto it = holes.begin();
             it != holes.end() && *it < known->second.from && *it < limit;) {
            if (GetAsychronRQArray(*it, typ) == nullptr) {
                return *it;
            }
            it = holes.erase(it);
        }
        from = known->second.from;
    }
    // Every id below `from` is taken: the walk from 2 would reach it, or stop at the limit.
    ULONG id = std::max<ULONG>(2, std::min(from, limit));
    while (id < limit && GetAsychronRQArray(id, typ) != nullptr) {
        ++id;
    }
    if (!m_indexLost) {
        try {
            SFreeJobIDs& ids = m_freeIDs[typ];
            ids.from = std::max(ids.from, id);
        } catch (...) {
            // Unknown: the next search starts from 2.
        }
    }
    return id;
}

bool CAsychronRQ::Holds(const CAsyncRQEntry* cj) const noexcept {
    if (!m_indexLost) {
        return m_indexed.find(cj) != m_indexed.end();
    }
    for (const CAsyncRQEntry& each : m_CJList) {
        if (&each == cj) {
            return true;
        }
    }
    return false;
}

namespace {

// One level of the re-entry count for a scope, so that an exception cannot leave it raised.
class KillDepth {
  public:
    KillDepth() noexcept : m_depth(++g_KillReentrance) {}
    ~KillDepth() { --g_KillReentrance; }
    KillDepth(const KillDepth&) = delete;
    KillDepth& operator=(const KillDepth&) = delete;
    LONG depth() const noexcept { return m_depth; }

  private:
    LONG m_depth;
};

}  // namespace

CAsychronRQ::CJIterator CAsychronRQ::PositionOf(const CAsyncRQEntry* cj) noexcept {
    if (cj == nullptr) {
        return m_CJList.end();
    }
    if (!m_indexLost) {
        const auto found = m_indexed.find(cj);
        return found != m_indexed.end() ? found->second.position : m_CJList.end();
    }
    auto it = m_CJList.begin();
    while (it != m_CJList.end() && &*it != cj) {
        ++it;
    }
    return it;
}

HRESULT CAsychronRQ::KillAsychronRQ(ULONG cjJobID, LONG typ, ULONG sjJobID, bool onlySJ) {
    // Unlike GetAsychronRQArray, the previous id does not name the CJ here.
    const CAsyncRQEntry* cj = FindByID(cjJobID, true, [&](const CAsyncRQEntry& each) {
        return each.m_ES_JobID == cjJobID && each.m_Typ == typ;
    });
    return KillAt(PositionOf(cj), sjJobID, onlySJ);
}

HRESULT CAsychronRQ::KillAsychronRQ(const CAsyncRQEntry* cj) {
    return KillAt(PositionOf(cj), 0, false);
}

HRESULT CAsychronRQ::KillAt(CJIterator cjIt, ULONG sjJobID, bool onlySJ) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::KillAsychronRQ");
    const KillDepth entered;
    if (entered.depth() > 1) {
        CO_TRACE(trace, TRACE_INFO, "Reentrance %d", static_cast<int>(entered.depth()));
    }
    if (cjIt == m_CJList.end()) {
        return S_OK;
    }
    const ULONG cjJobID = cjIt->m_ES_JobID;

    std::list<SAsyncSymRQEntry> removed;
    if (!onlySJ) {
        while (!cjIt->m_SJList.empty()) {
            removed.splice(removed.end(), cjIt->m_SJList, cjIt->m_SJList.begin());
            CO_TRACE(trace, TRACE_INFO, "SJ ES_JobID: %u removed from CJ ES_JobID: %u",
                     static_cast<unsigned>(removed.back().ES_JobID),
                     static_cast<unsigned>(cjJobID));
        }
    } else {
        for (SAsyncSymRQEntry& sj : cjIt->m_SJList) {
            if (sj.ES_JobID == sjJobID) {
                removed.push_back(sj);
                sj.CookieICB_Interface = 0;
                sj.bICB_InterfaceValid = 0;
                sj.CookieIYDBDecode = 0;
                sj.bIYDBDecodeValid = 0;
            }
        }
    }

    // The CJ leaves the list by moving, so nothing can fail between removal and revocation.
    std::list<CAsyncRQEntry> removedCJ;
    if (!onlySJ) {
        Unindex(*cjIt, true);
        removedCJ.splice(removedCJ.end(), m_CJList, cjIt);
        CO_TRACE(trace, TRACE_INFO, "CJ ES_JobID: %u removed from list",
                 static_cast<unsigned>(cjJobID));
    }

    const KillDepth revoking;
    const TableForRemoval table;
    for (SAsyncSymRQEntry& sj : removed) {
        CallbackICB_Interface(nullptr, sj);
        CallbackDisp(nullptr, sj);
        CO_TRACE(trace, TRACE_INFO, "CB of SJ ES_JobID: %u was successfully released",
                 static_cast<unsigned>(sj.ES_JobID));
    }
    for (CAsyncRQEntry& cj : removedCJ) {
        newCJ_CallbackIYDBDecode(nullptr, cj);
        oldCJ_CallbackIYDBDecode(cj);
        newCJ_CallbackICB_Decode(nullptr, cj);
        oldCJ_CallbackICB_Decode(cj);
    }
    return S_OK;
}

void CAsychronRQ::ReleaseAsyncSymRQ(SAsyncSymRQEntry& sj) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::ReleaseAsyncSymRQ");
    // Revoked on a copy, as a removal does: the entry forgets its cookies first.
    SAsyncSymRQEntry released = sj;
    sj.CookieICB_Interface = 0;
    sj.bICB_InterfaceValid = 0;
    sj.CookieIYDBDecode = 0;
    sj.bIYDBDecodeValid = 0;
    const TableForRemoval table;
    CallbackICB_Interface(nullptr, released);
    CallbackDisp(nullptr, released);
    CO_TRACE(trace, TRACE_INFO, "CB of SJ ES_JobID: %u was successfully released",
             static_cast<unsigned>(released.ES_JobID));
}

// ---- callbacks ------------------------------------------------------------------------------

namespace {

// One callback slot of an SJ or a CJ entry: its cookie word, its valid word, and how it is
// registered and revoked, under the scope of the operation's name.
template <class Entry>
struct SCallbackSlot {
    const char* function;
    SlotOperation op;
    ULONG Entry::*cookie;
    ULONG Entry::*valid;
};

template <class Entry, class Stored>
void OnSlot(const SCallbackSlot<Entry>& slot, IUnknown* pItf, Stored& entry) {
    CO_TRACE_SCOPE(trace, kFile, slot.function);
    RegisterOrRevoke(trace, slot.op, pItf, entry.*slot.cookie, entry.*slot.valid);
}

const SCallbackSlot<SAsyncSymRQEntry> kSJ_ICB_Interface{
    "CAsychronRQ::CallbackICB_Interface",
    {"spIGIT->RevokeInterfaceFromGlobal( rItemSymRQEntry.CookieICB_Interface)",
     "spIGIT->RegisterInterfaceInGlobal(pICallback, __uuidof(IUnknown), "
     "&rItemSymRQEntry.CookieICB_Interface)",
     &IID_IUnknown, false, nullptr},
    &SAsyncSymRQEntry::CookieICB_Interface,
    &SAsyncSymRQEntry::bICB_InterfaceValid};

const SCallbackSlot<SAsyncSymRQEntry> kSJ_IYDBDecode{
    "CAsychronRQ::CallbackDisp",
    {"spIGIT->RevokeInterfaceFromGlobal( rItemSymRQEntry.CookieIYDBDecode)",
     "spIGIT->RegisterInterfaceInGlobal(IYDBDecodeInterface, __uuidof(IMC_YDBDecode), "
     "&rItemSymRQEntry.CookieIYDBDecode)",
     &IID_IMC_YDBDecode, true, "IYDBDecodeInterface interface is NULL"},
    &SAsyncSymRQEntry::CookieIYDBDecode,
    &SAsyncSymRQEntry::bIYDBDecodeValid};

const SCallbackSlot<SAsyncRQFields> kCJ_NewIYDBDecode{
    "CAsychronRQ::newCJ_CallbackIYDBDecode",
    {"spIGIT->RevokeInterfaceFromGlobal( sRQEntry.m_newCookieIYDBDecode)",
     "spIGIT->RegisterInterfaceInGlobal(IYDBDecodeInterface, __uuidof(IMC_YDBDecode), "
     "&sRQEntry.m_newCookieIYDBDecode)",
     &IID_IMC_YDBDecode, true, "IYDBDecodeInterface interface is NULL"},
    &SAsyncRQFields::m_newCookieIYDBDecode,
    &SAsyncRQFields::m_bNewIYDBDecodeValid};

const SCallbackSlot<SAsyncRQFields> kCJ_OldIYDBDecode{
    "CAsychronRQ::oldCJ_CallbackIYDBDecode",
    {"spIGIT->RevokeInterfaceFromGlobal( sRQEntry.m_oldCookieIYDBDecode)", nullptr,
     &IID_IMC_YDBDecode, true, nullptr},
    &SAsyncRQFields::m_oldCookieIYDBDecode,
    &SAsyncRQFields::m_bOldIYDBDecodeValid};

const SCallbackSlot<SAsyncRQFields> kCJ_NewICB_Decode{
    "CAsychronRQ::newCJ_CallbackICB_Decode",
    {"spIGIT->RevokeInterfaceFromGlobal( sRQEntry.m_newCookieICB_Decode)",
     "spIGIT->RegisterInterfaceInGlobal(pICallback, __uuidof(IUnknown), "
     "&sRQEntry.m_newCookieICB_Decode)",
     &IID_IUnknown, true, "ICB_DecodeInterface interface is NULL"},
    &SAsyncRQFields::m_newCookieICB_Decode,
    &SAsyncRQFields::m_bNewICB_DecodeValid};

const SCallbackSlot<SAsyncRQFields> kCJ_OldICB_Decode{
    "CAsychronRQ::oldCJ_CallbackICB_Decode",
    {"spIGIT->RevokeInterfaceFromGlobal( sRQEntry.m_oldCookieICB_Decode)", nullptr, &IID_IUnknown,
     true, nullptr},
    &SAsyncRQFields::m_oldCookieICB_Decode,
    &SAsyncRQFields::m_bOldICB_DecodeValid};

}  // namespace

void CAsychronRQ::CallbackICB_Interface(IUnknown* pICallback, SAsyncSymRQEntry& rItemSymRQEntry) {
    OnSlot(kSJ_ICB_Interface, pICallback, rItemSymRQEntry);
}

void CAsychronRQ::CallbackDisp(IMC_YDBDecode* IYDBDecodeInterface,
                               SAsyncSymRQEntry& rItemSymRQEntry) {
    OnSlot(kSJ_IYDBDecode, IYDBDecodeInterface, rItemSymRQEntry);
}

void CAsychronRQ::newCJ_CallbackIYDBDecode(IMC_YDBDecode* IYDBDecodeInterface,
                                           CAsyncRQEntry& sRQEntry) {
    OnSlot(kCJ_NewIYDBDecode, IYDBDecodeInterface, sRQEntry);
}

void CAsychronRQ::oldCJ_CallbackIYDBDecode(CAsyncRQEntry& sRQEntry) {
    OnSlot(kCJ_OldIYDBDecode, nullptr, sRQEntry);
}

void CAsychronRQ::newCJ_CallbackICB_Decode(IUnknown* pICallback, CAsyncRQEntry& sRQEntry) {
    OnSlot(kCJ_NewICB_Decode, pICallback, sRQEntry);
}

void CAsychronRQ::oldCJ_CallbackICB_Decode(CAsyncRQEntry& sRQEntry) {
    OnSlot(kCJ_OldICB_Decode, nullptr, sRQEntry);
}

ComPtr<IUnknown> CAsychronRQ::getCJ_CallbackIYDBDecode(SAsyncCookiePair& sAsyncRQEntry,
                                                       bool revoke) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::getCJ_CallbackIYDBDecode");
    if (sAsyncRQEntry.bOldValid == 0 && sAsyncRQEntry.bNewValid == 0) {
        return {};
    }
    const bool useOld = revoke && sAsyncRQEntry.bOldValid == 1;
    if (!useOld && sAsyncRQEntry.bNewValid == 0) {
        return {};
    }
    return FetchCallback(trace, sAsyncRQEntry, useOld, IID_IMC_YDBDecode,
                         "spIGIT->GetInterfaceFromGlobal( sAsyncRQEntry.m_oldCookie_Decode, "
                         "__uuidof(IMC_YDBDecode), (void**)&spIUnk)",
                         "spIGIT->GetInterfaceFromGlobal( sAsyncRQEntry.m_newCookie_Decode, "
                         "__uuidof(IMC_YDBDecode), (void**)&spIUnk)",
                         revoke);
}

ComPtr<IUnknown> CAsychronRQ::getCJ_CallbackICB_Decode(SAsyncCookiePair& sAsyncRQEntry,
                                                       bool revoke) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::getCJ_CallbackICB_Decode");
    if (sAsyncRQEntry.bOldValid == 0 && sAsyncRQEntry.bNewValid == 0) {
        return {};
    }
    const bool useOld = sAsyncRQEntry.bOldValid == 1;
    return FetchCallback(trace, sAsyncRQEntry, useOld, IID_IUnknown,
                         "spIGIT->GetInterfaceFromGlobal( sAsyncRQEntry.m_oldCookie_Decode, "
                         "__uuidof(IUnknown), (void**)&spIUnk)",
                         "spIGIT->GetInterfaceFromGlobal( sAsyncRQEntry.m_newCookie_Decode, "
                         "__uuidof(IUnknown), (void**)&spIUnk)",
                         revoke);
}
