// The request registry: CJ and SJ entries, their lookups and removal, and the registration of
// clients' callbacks in the callback table.
#include "base/st/symcjacc/asychronrq.h"

#include <atomic>
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

void RegisterOrRevoke(CCoTrace& trace, const SlotOperation& op, IUnknown* pItf, ULONG& cookie,
                      ULONG& valid) noexcept {
    ComPtr<IMC_CallbackTable> spIGIT;
    HRESULT hr = CoCreateInstance(CLSID_MC_CallbackTable, nullptr, kTableContext,
                                  IID_IMC_CallbackTable, spIGIT.put_void());
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

CAsychronRQ::~CAsychronRQ() {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::~CAsychronRQ");
    try {
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
    // Members go in reverse order: the lock first, then the entries.
}

CAsyncRQEntry* CAsychronRQ::AddAsychronRQ(const CAsyncRQEntry& entry) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::AddAsychronRQ");
    m_CJList.push_front(entry);  // a failed copy leaves the list unchanged
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
    CO_TRACE(trace, TRACE_INFO, "SJ ES_JobID: %u inserted to CJ ES_JobID: %u",
             static_cast<unsigned>(stored->ES_JobID), static_cast<unsigned>(cjJobID));
    return stored;
}

SAsyncSymRQEntry* CAsychronRQ::AddAsyncSymRQ(CAsyncRQEntry& cj, const SAsyncSymRQEntry& sj) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::AddAsyncSymRQ");
    cj.m_SJList.push_back(sj);
    CO_TRACE(trace, TRACE_INFO, "SJ ES_JobID: %u inserted to CJ ES_JobID: %u",
             static_cast<unsigned>(sj.ES_JobID), static_cast<unsigned>(cj.m_ES_JobID));
    return &cj.m_SJList.back();
}

CAsyncRQEntry* CAsychronRQ::GetAsychronRQArray(ULONG cjJobID, LONG typ) noexcept {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::GetAsychronRQArray");
    for (CAsyncRQEntry& cj : m_CJList) {
        if ((cj.m_ES_JobID == cjJobID || cj.m_dwPrev_ES_JobID == cjJobID) && cj.m_Typ == typ) {
            return &cj;
        }
    }
    return nullptr;
}

CAsyncRQEntry* CAsychronRQ::GetAsychronRQArray(ULONG cjJobID) noexcept {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::GetAsychronRQArray");
    for (CAsyncRQEntry& cj : m_CJList) {
        if (cj.m_ES_JobID == cjJobID) {
            return &cj;
        }
    }
    return nullptr;
}

CAsyncRQEntry* CAsychronRQ::GetAsyncCJRQArray(LONG cycle, LONG typ, ULONG sjJobID) noexcept {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::GetAsyncCJRQArray");
    for (CAsyncRQEntry& cj : m_CJList) {
        if (cj.ms != cycle || cj.m_Typ != typ) {
            continue;
        }
        if (cj.m_dwLastSJ_ES_JobID == sjJobID || GetAsychronSymRQArray(&cj, sjJobID) != nullptr) {
            return &cj;
        }
    }
    return nullptr;
}

CAsyncRQEntry* CAsychronRQ::GetAsyncCJRQArray(LONG cycle, LONG typ, ULONG varLimit, ULONG sizeLimit,
                                              ULONG varsToAdd, ULONG bytesToAdd) noexcept {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::GetAsyncCJRQArray");
    if (cycle == 0) {
        return nullptr;
    }
    for (CAsyncRQEntry& cj : m_CJList) {
        // Unsigned sums, as the limits are compared: a huge addition wraps, as it always has.
        if (cj.ms == cycle && cj.m_Typ == typ && cj.m_dwVarCount + varsToAdd <= varLimit &&
            cj.m_dwDataSize + bytesToAdd <= sizeLimit) {
            return &cj;
        }
    }
    return nullptr;
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

HRESULT CAsychronRQ::KillAsychronRQ(ULONG cjJobID, LONG typ, ULONG sjJobID, bool onlySJ) {
    auto cjIt = m_CJList.begin();
    while (cjIt != m_CJList.end() && !(cjIt->m_ES_JobID == cjJobID && cjIt->m_Typ == typ)) {
        ++cjIt;
    }
    return KillAt(cjIt, sjJobID, onlySJ);
}

HRESULT CAsychronRQ::KillAsychronRQ(const CAsyncRQEntry* cj) {
    auto cjIt = m_CJList.begin();
    while (cjIt != m_CJList.end() && &*cjIt != cj) {
        ++cjIt;
    }
    return KillAt(cjIt, 0, false);
}

HRESULT CAsychronRQ::KillAt(std::list<CAsyncRQEntry>::iterator cjIt, ULONG sjJobID, bool onlySJ) {
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
        removedCJ.splice(removedCJ.end(), m_CJList, cjIt);
        CO_TRACE(trace, TRACE_INFO, "CJ ES_JobID: %u removed from list",
                 static_cast<unsigned>(cjJobID));
    }

    const KillDepth revoking;
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
    CallbackICB_Interface(nullptr, released);
    CallbackDisp(nullptr, released);
    CO_TRACE(trace, TRACE_INFO, "CB of SJ ES_JobID: %u was successfully released",
             static_cast<unsigned>(released.ES_JobID));
}

// ---- callbacks ------------------------------------------------------------------------------

void CAsychronRQ::CallbackICB_Interface(IUnknown* pICallback, SAsyncSymRQEntry& rItemSymRQEntry) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::CallbackICB_Interface");
    static const SlotOperation op{
        "spIGIT->RevokeInterfaceFromGlobal( rItemSymRQEntry.CookieICB_Interface)",
        "spIGIT->RegisterInterfaceInGlobal(pICallback, __uuidof(IUnknown), "
        "&rItemSymRQEntry.CookieICB_Interface)",
        &IID_IUnknown, false, nullptr};
    RegisterOrRevoke(trace, op, pICallback, rItemSymRQEntry.CookieICB_Interface,
                     rItemSymRQEntry.bICB_InterfaceValid);
}

void CAsychronRQ::CallbackDisp(IMC_YDBDecode* IYDBDecodeInterface,
                               SAsyncSymRQEntry& rItemSymRQEntry) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::CallbackDisp");
    static const SlotOperation op{
        "spIGIT->RevokeInterfaceFromGlobal( rItemSymRQEntry.CookieIYDBDecode)",
        "spIGIT->RegisterInterfaceInGlobal(IYDBDecodeInterface, __uuidof(IMC_YDBDecode), "
        "&rItemSymRQEntry.CookieIYDBDecode)",
        &IID_IMC_YDBDecode, true, "IYDBDecodeInterface interface is NULL"};
    RegisterOrRevoke(trace, op, IYDBDecodeInterface, rItemSymRQEntry.CookieIYDBDecode,
                     rItemSymRQEntry.bIYDBDecodeValid);
}

void CAsychronRQ::newCJ_CallbackIYDBDecode(IMC_YDBDecode* IYDBDecodeInterface,
                                           CAsyncRQEntry& sRQEntry) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::newCJ_CallbackIYDBDecode");
    static const SlotOperation op{
        "spIGIT->RevokeInterfaceFromGlobal( sRQEntry.m_newCookieIYDBDecode)",
        "spIGIT->RegisterInterfaceInGlobal(IYDBDecodeInterface, __uuidof(IMC_YDBDecode), "
        "&sRQEntry.m_newCookieIYDBDecode)",
        &IID_IMC_YDBDecode, true, "IYDBDecodeInterface interface is NULL"};
    RegisterOrRevoke(trace, op, IYDBDecodeInterface, sRQEntry.m_newCookieIYDBDecode,
                     sRQEntry.m_bNewIYDBDecodeValid);
}

void CAsychronRQ::oldCJ_CallbackIYDBDecode(CAsyncRQEntry& sRQEntry) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::oldCJ_CallbackIYDBDecode");
    static const SlotOperation op{
        "spIGIT->RevokeInterfaceFromGlobal( sRQEntry.m_oldCookieIYDBDecode)", nullptr,
        &IID_IMC_YDBDecode, true, nullptr};
    RegisterOrRevoke(trace, op, nullptr, sRQEntry.m_oldCookieIYDBDecode,
                     sRQEntry.m_bOldIYDBDecodeValid);
}

void CAsychronRQ::newCJ_CallbackICB_Decode(IUnknown* pICallback, CAsyncRQEntry& sRQEntry) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::newCJ_CallbackICB_Decode");
    static const SlotOperation op{
        "spIGIT->RevokeInterfaceFromGlobal( sRQEntry.m_newCookieICB_Decode)",
        "spIGIT->RegisterInterfaceInGlobal(pICallback, __uuidof(IUnknown), "
        "&sRQEntry.m_newCookieICB_Decode)",
        &IID_IUnknown, true, "ICB_DecodeInterface interface is NULL"};
    RegisterOrRevoke(trace, op, pICallback, sRQEntry.m_newCookieICB_Decode,
                     sRQEntry.m_bNewICB_DecodeValid);
}

void CAsychronRQ::oldCJ_CallbackICB_Decode(CAsyncRQEntry& sRQEntry) {
    CO_TRACE_SCOPE(trace, kFile, "CAsychronRQ::oldCJ_CallbackICB_Decode");
    static const SlotOperation op{
        "spIGIT->RevokeInterfaceFromGlobal( sRQEntry.m_oldCookieICB_Decode)", nullptr,
        &IID_IUnknown, true, nullptr};
    RegisterOrRevoke(trace, op, nullptr, sRQEntry.m_oldCookieICB_Decode,
                     sRQEntry.m_bOldICB_DecodeValid);
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
