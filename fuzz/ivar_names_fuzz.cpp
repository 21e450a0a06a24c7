// Bytes decoded into names arguments of every kind, dimension count and bounds (arrays of every
// element type, of records, held by reference, without an array, with bounds at the ends of the
// index range, holding names and things that are not names), given to addSymbolsIVar as clients
// add and join, and to processNames in every optimizer state. Every call must answer; a lookup
// table handed out must map every requested name to a reformed name that exists.
#include <climits>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "base/st/symcjacc/symcjacc.h"
#include "base/st/symcjacc/symcjanyopt.h"
#include "platform/raii.h"
#include "support/record_array.h"
#include "support/standin_classes.h"

namespace {

using platform::ComPtr;
using platform::UniqueVariant;

class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : m_p(data), m_left(size) {}
    bool empty() const { return m_left == 0; }
    uint8_t byte() {
        if (m_left == 0) {
            return 0;
        }
        --m_left;
        return *m_p++;
    }
    void bytes(void* out, size_t n) {
        auto* o = static_cast<uint8_t*>(out);
        for (size_t i = 0; i < n; ++i) {
            o[i] = byte();
        }
    }
    int32_t i32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<uint32_t>(byte()) << (8 * i);
        }
        return static_cast<int32_t>(v);
    }

  private:
    const uint8_t* m_p;
    size_t m_left;
};

constexpr VARTYPE kElementTypes[] = {VT_VARIANT, VT_VARIANT, VT_VARIANT, VT_I4,      VT_UI1,
                                     VT_I2,      VT_R8,      VT_BSTR,    VT_UNKNOWN, VT_DECIMAL,
                                     VT_BOOL,    VT_CY,      VT_ERROR,   VT_I8,      VT_DATE};

LONG lower_bound(Reader& r) {
    switch (r.byte() % 8) {
        case 0:
        case 1:
        case 2:
            return 0;
        case 3:
            return 1;
        case 4:
            return INT_MAX - (r.byte() % 4);
        case 5:
            return INT_MIN + (r.byte() % 4);
        case 6:
            return -static_cast<LONG>(r.byte());
        default:
            return r.i32();
    }
}

// A plain one-dimensional array of VT_I4 with chosen values: an ANY-pointer name when it has
// three elements from 0 (byte 2 of its item is forced to the syntax id when asked).
void name_element(Reader& r, VARIANT* out) {
    const uint8_t shape = r.byte();
    const ULONG count = (shape & 0x80) != 0 ? shape % 5 : 3;
    const LONG lower = (shape & 0x40) != 0 ? lower_bound(r) : 0;
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, lower, count);
    if (psa == nullptr) {
        return;
    }
    out->vt = VT_ARRAY | VT_I4;
    out->parray = psa;
    auto* cells = static_cast<LONG*>(psa->pvData);
    for (ULONG i = 0; i < count; ++i) {
        cells[i] = r.i32();
    }
    if (count == 3 && (shape & 0x20) == 0) {
        reinterpret_cast<uint8_t*>(cells)[2] = 0xA2;
    }
}

void element(Reader& r, VARIANT* out) {
    static LONG referenced = 7;
    switch (r.byte() % 8) {
        case 0:
        case 1:
        case 2:
            name_element(r, out);
            break;
        case 3:
            out->vt = VT_I4;
            out->lVal = r.i32();
            break;
        case 4: {
            OLECHAR text[4] = {static_cast<OLECHAR>(r.byte()), static_cast<OLECHAR>(r.byte()), 0,
                               0};
            out->vt = VT_BSTR;
            out->bstrVal = SysAllocString(text);
            break;
        }
        case 5:
            out->vt = VT_BYREF | VT_I4;
            out->plVal = &referenced;
            break;
        case 6:
            out->vt = VT_UNKNOWN;
            out->punkVal = nullptr;
            break;
        default:
            break;  // VT_EMPTY
    }
}

// Fills a fresh array's cells with elements of its kind.
void fill(Reader& r, SAFEARRAY* psa, VARTYPE vt) {
    ULONG cells = 1;
    for (USHORT d = 0; d < psa->cDims; ++d) {
        cells *= psa->rgsabound[d].cElements;
    }
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(psa, &data))) {
        return;
    }
    for (ULONG i = 0; i < cells && !r.empty(); ++i) {
        auto* cell = static_cast<uint8_t*>(data) + static_cast<size_t>(i) * psa->cbElements;
        if (vt == VT_VARIANT) {
            element(r, reinterpret_cast<VARIANT*>(cell));
        } else if (vt == VT_BSTR) {
            const OLECHAR text[2] = {static_cast<OLECHAR>(r.byte()), 0};
            *reinterpret_cast<BSTR*>(cell) = SysAllocString(text);
        } else if (vt != VT_UNKNOWN) {
            r.bytes(cell, psa->cbElements);
        }
    }
    (void)SafeArrayUnaccessData(psa);
}

// A names argument as a client might pass it. `holder` owns what the argument refers to.
struct Names {
    VARIANT arg;
    UniqueVariant holder;
    std::unique_ptr<testing_support::RecordArray> records;
};

void make_names(Reader& r, Names& n) {
    VariantInit(&n.arg);
    const uint8_t shape = r.byte();
    switch (shape >> 6) {
        case 0:  // nothing, a record array, or an array bit without an array
            if ((shape & 3) == 1) {
                n.records = std::make_unique<testing_support::RecordArray>(shape % 5);
                n.arg = *n.records->variant();
            } else if ((shape & 3) == 2) {
                n.arg.vt = VT_ARRAY | VT_VARIANT;
                n.arg.parray = nullptr;
            } else if ((shape & 3) == 3) {
                n.arg.vt = VT_I4;
                n.arg.lVal = 1;
            }
            return;
        default:
            break;
    }
    const VARTYPE vt = kElementTypes[(shape & 0x0F) % (sizeof kElementTypes / sizeof(VARTYPE))];
    const UINT dims = (shape >> 6) == 3 ? 1 + (r.byte() % 3) : 1;
    SAFEARRAYBOUND bounds[3];
    for (UINT d = 0; d < dims; ++d) {
        const uint8_t c = r.byte();
        bounds[d].cElements = (c & 0x80) != 0 ? c % 48 : c % 6;
        bounds[d].lLbound = lower_bound(r);
    }
    SAFEARRAY* psa = SafeArrayCreate(vt, dims, bounds);
    n.holder->vt = static_cast<VARTYPE>(VT_ARRAY | vt);
    n.holder->parray = psa;
    if (psa != nullptr) {
        fill(r, psa, vt);
    }
    if ((shape & 0x10) != 0) {  // by reference
        n.arg.vt = static_cast<VARTYPE>(VT_BYREF | VT_ARRAY | vt);
        n.arg.pparray = &n.holder->parray;
    } else {
        n.arg = *n.holder.get();  // a shallow copy, as a by-value argument is
    }
}

LONG element_count(const VARIANT* v, UINT dim) {
    LONG lower = 0;
    LONG upper = -1;
    if ((v->vt & VT_ARRAY) == 0 || v->parray == nullptr ||
        FAILED(SafeArrayGetLBound(v->parray, dim, &lower)) ||
        FAILED(SafeArrayGetUBound(v->parray, dim, &upper))) {
        return -1;
    }
    return upper - lower + 1;
}

// Every row of a lookup table names a reformed name that exists; with `requested` >= 0 the
// table has exactly one row per requested name.
void check_lookup(const VARIANT* lookup, const VARIANT* reformed, LONG requested) {
    if (lookup->vt == VT_EMPTY) {
        return;
    }
    if (lookup->vt != (VT_ARRAY | VT_I4) || SafeArrayGetDim(lookup->parray) != 2 ||
        element_count(lookup, 1) != 4) {
        __builtin_trap();
    }
    const LONG rows = element_count(lookup, 2);
    const LONG names = element_count(reformed, 1);
    if (rows < 0 || names < 0 || (requested >= 0 && rows != requested)) {
        __builtin_trap();
    }
    for (LONG i = 0; i < rows; ++i) {
        LONG index[2] = {0, i};
        LONG position = -1;
        if (FAILED(SafeArrayGetElement(lookup->parray, index, &position)) || position < 0 ||
            position >= names) {
            __builtin_trap();
        }
    }
}

// Traces go nowhere unless asked for (BSTTRACE_SINK=stderr); the callback table is served.
struct Process {
    Process() {
        (void)setenv("BSTTRACE_SINK", "none", 0);
        (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (FAILED(testing_support::register_standin("mccbtable.dll"))) {
            __builtin_trap();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Process process;
    Reader r(data, size);
    ComPtr<IMC_CollectionJobSymAcc> object(new CCollectionJobSymAcc);  // takes the first reference
    for (int step = 0; step < 8 && !r.empty(); ++step) {
        const uint8_t op = r.byte();
        const LONG cycle = (op & 0x10) != 0 ? 0 : 100;
        const LONG typ = (op >> 5) & 1;
        ULONG sj = 0x80000000u + static_cast<ULONG>(step);
        ULONG status = 0;
        switch (op % 4) {
            case 0:
            case 1: {
                Names n;
                make_names(r, n);
                (void)object->addSymbolsIVar(cycle, typ, n.arg, sj, &status);
                break;
            }
            case 2: {
                CJAsyncRQRecord record;
                std::memset(static_cast<void*>(&record), 0, sizeof record);
                VariantInit(&record.m_LookupTbl);
                UniqueVariant names;
                ULONG cj = 0;
                ULONG action = 0;
                (void)object->UpdateIVarJobEntry(cycle, typ, nullptr, &sj, &cj, names.get(),
                                                 &record, &action, &status);
                check_lookup(&record.m_LookupTbl, names.get(), -1);
                (void)VariantClear(&record.m_LookupTbl);
                CoTaskMemFree(record.m_pSJ);
                break;
            }
            default: {
                Names n;
                make_names(r, n);
                CAnyPtrOptimizer optimizer;
                optimizer.setState(op % 3);
                UniqueVariant reformed;
                UniqueVariant lookup;
                if (optimizer.processNames(&n.arg, reformed.get(), lookup.get()) == S_OK) {
                    check_lookup(lookup.get(), reformed.get(), element_count(&n.arg, 1));
                }
                break;
            }
        }
    }
    return 0;
}
