// ANY-pointer names: unpacking and packing the item address, reforming a collection job's names
// into fewer reads with the lookup table that maps them back, and the dump of the outcome.
#include "base/st/symcjacc/symcjanyopt.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <tuple>

#include "btl/settings.h"
#include "co/co_settings.h"
#include "co/co_trace.h"
#include "h/variantarrayhlp.h"
#include "platform/raii.h"

namespace {

using platform::SafeArrayDataAccess;
using platform::UniqueVariant;

const char kFile[] = "base/st/symcjacc/symcjanyopt";

constexpr DWORD kSettingUnread = 0xFFFFFFFF;
// Process-wide; several client threads may initialise optimizers at once.
std::atomic<DWORD> g_optimizerSetting{kSettingUnread};

struct SettingKey {
    std::basic_string<OLECHAR> wide;
    std::string narrow;  // for the traces
};

const SettingKey& optimizer_key() {
    static const SettingKey key = [] {
        SettingKey k;
        k.wide = BTL_GetRegKeyRoot();
        k.wide += OLESTR("\\OnlServer\\Collection\\AnyptrOptimizer");
        for (OLECHAR c : k.wide) {
            k.narrow += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
        }
        return k;
    }();
    return key;
}

// The one-dimensional array a VARIANT holds itself (not by reference, not of records). A names
// array of more dimensions is refused: its rows could not be numbered as the lookup table
// numbers them.
HRESULT held_vector(const VARIANT* v, SAFEARRAY** out) {
    *out = nullptr;
    if (VariantIsNoArray(v) || (v->vt & VT_BYREF) || v->parray == nullptr) {
        return DISP_E_BADVARTYPE;
    }
    if (!VariantHoldsPlainVector(v)) {
        return SafeArrayGetDim(v->parray) != 1 ? E_INVALIDARG : DISP_E_BADVARTYPE;
    }
    *out = v->parray;
    return S_OK;
}

// A held one-dimensional array of VARIANT; anything else would be read as VARIANTs that are not
// there.
HRESULT held_names_array(const VARIANT* names, SAFEARRAY** out) {
    HRESULT hr = held_vector(names, out);
    if (FAILED(hr)) {
        return hr;
    }
    if (!((*out)->fFeatures & FADF_VARIANT) || (*out)->cbElements != sizeof(VARIANT)) {
        *out = nullptr;
        return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

HRESULT vector_bounds(const VARIANT* v, SAFEARRAYBOUND* bound) {
    SAFEARRAY* psa = nullptr;
    HRESULT hr = held_vector(v, &psa);
    if (FAILED(hr)) {
        return hr;
    }
    return VariantSafeArrayGetBounds(v, 1, bound);
}

// A held two-dimensional array of 4-byte plain elements, as the lookup table is.
bool is_lookup_table(const VARIANT* v) {
    const USHORT owning = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT | FADF_RECORD;
    return !VariantIsNoArray(v) && !(v->vt & VT_BYREF) && v->parray != nullptr &&
           SafeArrayGetDim(v->parray) == 2 && v->parray->cbElements == 4 &&
           !(v->parray->fFeatures & owning);
}

WORD be16(const BYTE* p) {
    return static_cast<WORD>((p[0] << 8) | p[1]);
}

void put_be16(BYTE* p, LONG v) {
    p[0] = static_cast<BYTE>((v >> 8) & 0xFF);
    p[1] = static_cast<BYTE>(v & 0xFF);
}

LONGLONG end_of(const AnyPtrRec& r) {
    return static_cast<LONGLONG>(r.m_Start) + r.m_Cnt;
}

bool same_address_space(const AnyPtrRec& a, const AnyPtrRec& b) {
    return a.m_Area == b.m_Area && a.m_Typ == b.m_Typ && a.m_Unit == b.m_Unit;
}

// The fields of a name as the dumps print them.
struct NameFields {
    BYTE item[anyptr::kItemBytes];
    int Typ() const { return item[3]; }
    int Cnt() const { return be16(item + 4); }
    int Area() const { return be16(item + 8); }
    int SubArea() const { return be16(item + 10); }
};

// Unpacks the element at `index` of a names array; pointer access, so no copy of the name.
HRESULT dump_fields(CCoTrace& trace, SAFEARRAY* psa, LONG index, NameFields* fields) {
    void* element = nullptr;
    HRESULT hr = SafeArrayPtrOfIndex(psa, &index, &element);
    if (FAILED(hr)) {
        CO_TRACE(trace, TRACE_ERROR, "SafeArrayPtrOfIndex failed: %d", static_cast<int>(hr));
        return hr;
    }
    DWORD elements[3] = {};
    hr = GetAnyPtrFromName(static_cast<const VARIANT*>(element), elements);
    if (hr != S_OK) {
        CO_TRACE(trace, TRACE_ERROR, "GetAnyPtrFromName failed: %d", static_cast<int>(hr));
        return hr;
    }
    AnyPtrItemBytes(elements, fields->item);
    return S_OK;
}

HRESULT dump_reformed(CCoTrace& trace, const VARIANT* reformed, const SAFEARRAYBOUND& bound) {
    char line[256];
    CO_TRACE(trace, TRACE_INFO, "dumping reformed Names:");
    for (ULONG i = 0; i < bound.cElements; ++i) {
        NameFields f;
        const HRESULT hr =
            dump_fields(trace, reformed->parray, bound.lLbound + static_cast<LONG>(i), &f);
        if (hr != S_OK) {
            return hr;
        }
        std::snprintf(line, sizeof line,
                      "AnyPtr[%02d] := { %x %x %x Typ:%02d Area:%04d, Cnt:%02d, "
                      "SubArea[%03d..%03d] }",
                      static_cast<int>(i), f.item[0], f.item[1], f.item[2], f.Typ(), f.Area(),
                      f.Cnt(), f.SubArea(), f.SubArea() + f.Cnt());
        CO_TRACE(trace, TRACE_INFO, "%s", line);
    }
    return S_OK;
}

HRESULT dump_requested(CCoTrace& trace, const VARIANT* requested, const VARIANT* lookup,
                       const SAFEARRAYBOUND& bound) {
    char line[256];
    CO_TRACE(trace, TRACE_INFO, "dumping original Names and Lookup:");
    for (ULONG i = 0; i < bound.cElements; ++i) {
        NameFields f;
        HRESULT hr =
            dump_fields(trace, requested->parray, bound.lLbound + static_cast<LONG>(i), &f);
        if (hr != S_OK) {
            return hr;
        }
        LONG row[3] = {};
        for (LONG c = 0; c < 3; ++c) {
            LONG indices[2] = {c, static_cast<LONG>(i)};
            hr = VariantSafeArrayGetElement(lookup, indices, &row[c]);
            if (FAILED(hr)) {
                CO_TRACE(trace, TRACE_ERROR, "VariantSafeArrayGetElement failed: %d",
                         static_cast<int>(hr));
                return hr;
            }
        }
        std::snprintf(line, sizeof line,
                      "AnyPtr[%02d] :=  %x %x %x Typ:%02d Area:%04d, Cnt:%02d,                 "
                      "SubArea[%03d..%03d], Lookup at Pos:%02d, Offs:%02d, Cnt:%02d ",
                      static_cast<int>(i), f.item[0], f.item[1], f.item[2], f.Typ(), f.Area(),
                      f.Cnt(), f.SubArea(), f.SubArea() + f.Cnt(), static_cast<int>(row[0]),
                      static_cast<int>(row[1]), static_cast<int>(row[2]));
        CO_TRACE(trace, TRACE_INFO, "%s", line);
    }
    return S_OK;
}

}  // namespace

void AnyPtrItemBytes(const DWORD elements[3], BYTE item[anyptr::kItemBytes]) {
    for (int k = 0; k < anyptr::kItemBytes; ++k) {
        item[k] = static_cast<BYTE>((elements[k / 4] >> (8 * (k % 4))) & 0xFF);
    }
}

void AnyPtrItemElements(const BYTE item[anyptr::kItemBytes], DWORD elements[3]) {
    for (int e = 0; e < 3; ++e) {
        elements[e] = 0;
        for (int b = 0; b < 4; ++b) {
            elements[e] |= static_cast<DWORD>(item[e * 4 + b]) << (8 * b);
        }
    }
}

HRESULT GetAnyPtrFromName(const VARIANT* name, DWORD elements[3]) {
    if (name == nullptr || (name->vt & 0x2003) != 0x2003 || (name->vt & VT_BYREF)) {
        return anyptr::kNotAnAnyPtr;
    }
    SAFEARRAY* psa = name->parray;
    // The type test alone lets through 2- and 8-byte elements (VT_BOOL, VT_DATE) and arrays
    // that own references; only plain 4-byte elements are read as the item.
    const USHORT owning = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT | FADF_RECORD;
    if (psa == nullptr || SafeArrayGetDim(psa) != 1 || SafeArrayGetElemsize(psa) != 4 ||
        (psa->fFeatures & owning)) {
        return anyptr::kNotAnAnyPtr;
    }
    // One dimension, so its bound is the array's own: no call per bound or per element (each
    // costs several times more under Windows' OLE Automation).
    const SAFEARRAYBOUND& bound = psa->rgsabound[0];
    if (bound.lLbound != 0 || bound.cElements != 3) {
        return anyptr::kNotAnAnyPtr;
    }
    SafeArrayDataAccess<const DWORD> data(psa);
    if (FAILED(data.hr())) {
        return data.hr();
    }
    std::copy(data.data(), data.data() + 3, elements);
    return S_OK;
}

HRESULT makeAnyPtrName(const AnyPtrRec& rec, VARIANT* name) {
    BYTE item[anyptr::kItemBytes] = {anyptr::kHeader, anyptr::kRestLength, anyptr::kSyntaxId,
                                     static_cast<BYTE>(rec.m_Typ & 0xFF)};
    put_be16(item + 4, rec.m_Cnt);
    put_be16(item + 6, rec.m_Unit);
    put_be16(item + 8, rec.m_Area);
    put_be16(item + 10, rec.m_Start);
    DWORD elements[3];
    AnyPtrItemElements(item, elements);

    const ULONG count = 3;
    UniqueVariant made;
    HRESULT hr = VariantSafeArrayCreateVector(made.get(), VT_I4, &count);
    if (FAILED(hr)) {
        return hr;
    }
    SafeArrayDataAccess<DWORD> data(made->parray);
    if (FAILED(data.hr())) {
        return data.hr();
    }
    std::copy(elements, elements + 3, data.data());
    UniqueVariant old(*name);  // takes the caller's old contents, freed on return
    *name = made.release();
    return S_OK;
}

DWORD CAnyPtrOptimizer::StateForSetting(DWORD setting, bool* illegal) noexcept {
    *illegal = setting == kSettingUnread;
    switch (setting) {
        case 1:
        case 1001:
            return STATE_IDENTICAL;
        case 2:
        case 1002:
            return STATE_MERGE;
        default:
            return STATE_OFF;
    }
}

void CAnyPtrOptimizer::forgetOptimizerSetting() noexcept {
    g_optimizerSetting = kSettingUnread;
}

HRESULT CAnyPtrOptimizer::readOptimizerRegKey(DWORD* setting) {
    CO_TRACE_SCOPE(trace, kFile, "CAnyPtrOptimizer::readOptimizerRegKey");
    const SettingKey& key = optimizer_key();
    DWORD value = 1;
    const LONG result = CCoSettings::GetValue(1, key.wide.c_str(), &value);
    if (result == btl::SettingRead) {
        CO_TRACE(trace, TRACE_INFO, "CCoSettings::GetValue (%s) = %d, hr=%08X", key.narrow.c_str(),
                 static_cast<int>(value), 0u);
    } else if (result == btl::SettingMissing) {
        CO_TRACE(trace, TRACE_INFO,
                 "CCoSettings::GetValue (%s) is missing, default is OFF, hr=%08X",
                 key.narrow.c_str(), 2u);
        value = 0;
    } else {
        CO_TRACE(trace, TRACE_INFO, "RegQueryValue (%s) failed, hr=%08X", key.narrow.c_str(),
                 static_cast<unsigned>(result));
    }
    g_optimizerSetting = value;
    if (setting != nullptr) {
        *setting = value;
    }
    return result;
}

HRESULT CAnyPtrOptimizer::initOptimizer() {
    CO_TRACE_SCOPE(trace, kFile, "CAnyPtrOptimizer::initOptimizer");
    DWORD setting = g_optimizerSetting;
    if (setting == kSettingUnread) {
        CO_TRACE(trace, TRACE_INFO, "init Optimizer from Registry Key");
        (void)readOptimizerRegKey(&setting);
    } else if (setting >= 1000 && setting <= 1002) {
        // Re-read so that a change in the registry counts from this call on.
        (void)readOptimizerRegKey(&setting);
    }
    bool illegal = false;
    m_State = StateForSetting(setting, &illegal);
    if (illegal) {
        CO_TRACE(trace, TRACE_WARNING, "illegal Optimizer state, will be disabled");
    }
    return S_OK;
}

HRESULT CAnyPtrOptimizer::readOriginalNames(const VARIANT* names) {
    m_Requested.clear();
    SAFEARRAY* psa = nullptr;
    HRESULT hr = held_names_array(names, &psa);
    if (FAILED(hr)) {
        return hr;
    }
    SAFEARRAYBOUND bound = {};
    hr = VariantSafeArrayGetBounds(names, 1, &bound);
    if (FAILED(hr)) {
        return hr;
    }
    m_Requested.assign(bound.cElements, AnyPtrRec{});
    SafeArrayDataAccess<const VARIANT> data(psa);
    if (FAILED(data.hr())) {
        m_Requested.clear();
        return data.hr();
    }
    for (ULONG i = 0; i < bound.cElements; ++i) {
        DWORD elements[3] = {};
        hr = GetAnyPtrFromName(&data[i], elements);
        if (hr != S_OK) {
            m_Requested.clear();
            return hr;
        }
        BYTE item[anyptr::kItemBytes];
        AnyPtrItemBytes(elements, item);
        if (item[2] != anyptr::kSyntaxId) {
            m_Requested.clear();
            return anyptr::kUnknownSyntax;
        }
        AnyPtrRec& rec = m_Requested[i];
        rec.m_Typ = item[3];
        rec.m_Cnt = be16(item + 4);
        rec.m_Unit = be16(item + 6);
        rec.m_Area = be16(item + 8);
        rec.m_Start = be16(item + 10);
        rec.m_OrigIndex = static_cast<LONG>(i);
        rec.m_ReformedIndex = -1;
    }
    return S_OK;
}

HRESULT CAnyPtrOptimizer::genReformedNames() {
    std::sort(m_Requested.begin(), m_Requested.end(), [](const AnyPtrRec& a, const AnyPtrRec& b) {
        return std::tie(a.m_Unit, a.m_Typ, a.m_Area, a.m_Start, a.m_Cnt) <
               std::tie(b.m_Unit, b.m_Typ, b.m_Area, b.m_Start, b.m_Cnt);
    });
    if (m_Requested.empty()) {
        return S_OK;
    }
    m_Reformed.reserve(m_Requested.size());  // at most one per name: no regrowth on the way
    m_Reformed.push_back(m_Requested.front());
    for (AnyPtrRec& rec : m_Requested) {
        AnyPtrRec& current = m_Reformed.back();
        bool covered = false;
        if (same_address_space(rec, current)) {
            if (m_State == STATE_IDENTICAL) {
                covered = rec.m_Start == current.m_Start && rec.m_Cnt == current.m_Cnt;
            } else if (rec.m_Start <= end_of(current)) {
                const LONGLONG first = std::min(current.m_Start, rec.m_Start);
                const LONGLONG end = std::max(end_of(current), end_of(rec));
                // A reformed name carries Cnt in 16 bits: a wider range would be read short.
                if (end - first <= anyptr::kMaxCnt) {
                    current.m_Start = static_cast<LONG>(first);
                    current.m_Cnt = static_cast<LONG>(end - first);
                    covered = true;
                }
            }
        }
        if (!covered) {
            m_Reformed.push_back(rec);
        }
        rec.m_ReformedIndex = static_cast<LONG>(m_Reformed.size() - 1);
    }
    return S_OK;
}

HRESULT CAnyPtrOptimizer::writeReformedNames(VARIANT* reformed) const {
    const ULONG count = static_cast<ULONG>(m_Reformed.size());
    HRESULT hr = VariantSafeArrayCreateVector(reformed, VT_VARIANT, &count);
    if (FAILED(hr)) {
        return hr;
    }
    SafeArrayDataAccess<VARIANT> data(reformed->parray);
    if (FAILED(data.hr())) {
        return data.hr();
    }
    for (ULONG i = 0; i < count; ++i) {
        hr = makeAnyPtrName(m_Reformed[i], &data[i]);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT CAnyPtrOptimizer::writeLookupTable(VARIANT* lookup) const {
    const ULONG rows = static_cast<ULONG>(m_Requested.size());
    SAFEARRAYBOUND bounds[2] = {{anyptr::kLookupColumns, 0}, {rows, 0}};
    HRESULT hr = VariantSafeArrayCreate(lookup, VT_I4, 2, bounds);
    if (FAILED(hr)) {
        return hr;
    }
    SafeArrayDataAccess<LONG> data(lookup->parray);
    if (FAILED(data.hr())) {
        return data.hr();
    }
    // In sorted order, each record to the row of its requested name: no inverse of the sort.
    for (const AnyPtrRec& rec : m_Requested) {
        if (rec.m_ReformedIndex < 0 ||
            static_cast<size_t>(rec.m_ReformedIndex) >= m_Reformed.size()) {
            return S_FALSE;
        }
        const AnyPtrRec& ref = m_Reformed[static_cast<size_t>(rec.m_ReformedIndex)];
        if (ref.m_Start > rec.m_Start || end_of(rec) > end_of(ref)) {
            return S_FALSE;
        }
        LONG* row = &data[static_cast<size_t>(rec.m_OrigIndex) * anyptr::kLookupColumns];
        row[0] = rec.m_ReformedIndex;  // dimension 1 runs fastest
        row[1] = rec.m_Start - ref.m_Start;
        row[2] = rec.m_Cnt;
        row[3] = 0;
    }
    return S_OK;
}

HRESULT CAnyPtrOptimizer::genUnchangedNames(const VARIANT* requested, VARIANT* reformed,
                                            VARIANT* lookup) const {
    HRESULT hr = VariantCopy(reformed, requested);
    if (FAILED(hr)) {
        return hr;
    }
    SAFEARRAYBOUND bounds[2] = {{anyptr::kLookupColumns, 0}, {m_NameCount, 0}};
    hr = VariantSafeArrayCreate(lookup, VT_I4, 2, bounds);
    if (FAILED(hr)) {
        return hr;
    }
    SafeArrayDataAccess<LONG> data(lookup->parray);
    if (FAILED(data.hr())) {
        return data.hr();
    }
    for (ULONG i = 0; i < m_NameCount; ++i) {
        LONG* row = &data[i * anyptr::kLookupColumns];
        row[0] = static_cast<LONG>(i);
        row[1] = row[2] = row[3] = 0;
    }
    return S_OK;
}

HRESULT CAnyPtrOptimizer::reformNames(CCoTrace& trace, const VARIANT* requested, VARIANT* reformed,
                                      VARIANT* lookup) {
    HRESULT hr = readOriginalNames(requested);
    if (hr == anyptr::kUnknownSyntax) {
        CO_TRACE(trace, TRACE_INFO, "unknown Anyptr Syntax, no Optimizing");
        m_State = STATE_OFF;
        return hr;
    }
    if (hr != S_OK) {
        CO_TRACE(trace, TRACE_INFO, "readOriginalNames failed, hr:=%0X", static_cast<unsigned>(hr));
        m_State = STATE_OFF;
        return hr;
    }
    hr = genReformedNames();
    if (hr == S_OK) {
        hr = writeReformedNames(reformed);
    }
    if (hr == S_OK) {
        hr = writeLookupTable(lookup);
    }
    if (hr != S_OK) {
        CO_TRACE(trace, TRACE_ERROR, "genReformedNames failed, hr:=%0X", static_cast<unsigned>(hr));
        m_State = STATE_OFF;
    }
    return hr;
}

HRESULT CAnyPtrOptimizer::processNames(const VARIANT* requested, VARIANT* reformed,
                                       VARIANT* lookup) {
    CO_TRACE_SCOPE(trace, kFile, "CAnyPtrOptimizer::processNames");
    if (requested == nullptr || reformed == nullptr || lookup == nullptr) {
        CO_TRACE(trace, TRACE_ERROR, "error: NULL pointer argument");
        return E_POINTER;
    }
    m_Requested.clear();
    m_Reformed.clear();
    SAFEARRAYBOUND bound = {};
    HRESULT hr = vector_bounds(requested, &bound);
    if (FAILED(hr)) {
        CO_TRACE(trace, TRACE_ERROR, "error unsupported names array, vt 0x%X",
                 static_cast<unsigned int>(requested->vt));
        return hr;
    }
    m_NameCount = bound.cElements;
    m_LowerBound = bound.lLbound;

    // Built aside and handed out only when complete, so a failure leaves the outputs alone.
    UniqueVariant newReformed;
    UniqueVariant newLookup;
    if (m_State == STATE_IDENTICAL || m_State == STATE_MERGE) {
        hr = reformNames(trace, requested, newReformed.get(), newLookup.get());
    }
    if (m_State == STATE_OFF) {
        hr = genUnchangedNames(requested, newReformed.get(), newLookup.get());
        if (hr != S_OK) {
            CO_TRACE(trace, TRACE_ERROR, "genUnchangedNames failed, hr:=%0X",
                     static_cast<unsigned>(hr));
        }
    }
    m_Requested.clear();
    m_Reformed.clear();
    if (hr == S_OK) {
        UniqueVariant oldReformed(*reformed);  // the caller's old contents, freed on return
        UniqueVariant oldLookup(*lookup);
        *reformed = newReformed.release();
        *lookup = newLookup.release();
    }
    return hr;
}

HRESULT CAnyPtrOptimizer::dumpNameOptimizing(const VARIANT* requested, const VARIANT* reformed,
                                             const VARIANT* lookup) {
    return dumpNameOptimizing(requested, reformed, lookup, CoTraceDebugEnabled());
}

HRESULT CAnyPtrOptimizer::dumpNameOptimizing(const VARIANT* requested, const VARIANT* reformed,
                                             const VARIANT* lookup, bool detailed) {
    CO_TRACE_SCOPE(trace, kFile, "CAnyPtrOptimizer::dumpNameOptimizing");
    SAFEARRAYBOUND requestedBound = {};
    SAFEARRAYBOUND reformedBound = {};
    HRESULT hr = vector_bounds(requested, &requestedBound);
    if (hr == S_OK) {
        hr = vector_bounds(reformed, &reformedBound);
    }
    if (hr != S_OK) {
        CO_TRACE(trace, TRACE_ERROR, "VariantHasSafeArray failed: %d", static_cast<int>(hr));
        return hr;
    }
    if (!detailed) {
        CO_TRACE(trace, TRACE_INFO, "AnyPtrOptimizer Requested %d, Reformed: %d ",
                 static_cast<int>(requestedBound.cElements),
                 static_cast<int>(reformedBound.cElements));
        return S_OK;
    }

    SAFEARRAY* psa = nullptr;
    hr = held_names_array(requested, &psa);
    if (hr == S_OK) {
        hr = held_names_array(reformed, &psa);
    }
    if (hr == S_OK && !is_lookup_table(lookup)) {
        hr = DISP_E_BADVARTYPE;
    }
    if (hr != S_OK) {
        CO_TRACE(trace, TRACE_ERROR, "VariantHasSafeArray failed: %d", static_cast<int>(hr));
        return hr;
    }

    hr = dump_reformed(trace, reformed, reformedBound);
    if (hr != S_OK) {
        return hr;
    }
    return dump_requested(trace, requested, lookup, requestedBound);
}
