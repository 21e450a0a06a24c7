// SAFEARRAY: descriptors, data, element ownership, locking and copies.
//
// Memory layout of a descriptor, as on Windows:
//   -16: IID of the element interface (FADF_HAVEIID), or at -4 the VARTYPE (FADF_HAVEVARTYPE)
//     0: SAFEARRAY, followed by cDims - 1 further bounds
// A vector (FADF_CREATEVECTOR) keeps its data in the same block right after the descriptor.
#include "platform/nonwin/oleauto.h"
#include "platform/nonwin/objbase.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr size_t kHidden = sizeof(GUID);

void* zeroed(size_t bytes) {
    void* p = CoTaskMemAlloc(bytes);
    if (p != nullptr) {
        std::memset(p, 0, bytes);
    }
    return p;
}

unsigned char* hidden_of(SAFEARRAY* psa) {
    return reinterpret_cast<unsigned char*>(psa) - kHidden;
}

void set_hidden_vartype(SAFEARRAY* psa, VARTYPE vt) {
    const DWORD v = vt;
    std::memcpy(hidden_of(psa) + kHidden - sizeof(DWORD), &v, sizeof v);
}

DWORD hidden_vartype(SAFEARRAY* psa) {
    DWORD v;
    std::memcpy(&v, hidden_of(psa) + kHidden - sizeof(DWORD), sizeof v);
    return v;
}

void set_hidden_iid(SAFEARRAY* psa, REFGUID iid) {
    std::memcpy(hidden_of(psa), &iid, sizeof(GUID));
}

// Element size of a VARTYPE, 0 for types an array cannot hold.
ULONG element_size(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_BOOL:
        case VT_I2:
        case VT_UI2:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_R4:
        case VT_ERROR:
        case VT_INT:
        case VT_UINT:
            return 4;
        case VT_R8:
        case VT_I8:
        case VT_UI8:
        case VT_CY:
        case VT_DATE:
            return 8;
        case VT_INT_PTR:
        case VT_UINT_PTR:
            return sizeof(void*);
        case VT_BSTR:
            return sizeof(BSTR);
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return sizeof(IUnknown*);
        case VT_VARIANT:
            return sizeof(VARIANT);
        case VT_DECIMAL:
            return sizeof(DECIMAL);
        default:
            return 0;
    }
}

USHORT ownership_feature(VARTYPE vt) {
    switch (vt) {
        case VT_BSTR:
            return FADF_BSTR;
        case VT_UNKNOWN:
            return FADF_UNKNOWN;
        case VT_DISPATCH:
            return FADF_DISPATCH;
        case VT_VARIANT:
            return FADF_VARIANT;
        default:
            return 0;
    }
}

// Records the element type in the hidden header: interfaces by IID, everything else by VARTYPE.
void set_type_features(SAFEARRAY* psa, VARTYPE vt) {
    if (vt == VT_DISPATCH) {
        psa->fFeatures = FADF_HAVEIID;
        set_hidden_iid(psa, IID_IDispatch);
    } else if (vt == VT_UNKNOWN) {
        psa->fFeatures = FADF_HAVEIID;
        set_hidden_iid(psa, IID_IUnknown);
    } else {
        psa->fFeatures = FADF_HAVEVARTYPE;
        set_hidden_vartype(psa, vt);
    }
}

ULONG cell_count(const SAFEARRAY* psa) {
    ULONG cells = 1;
    for (USHORT i = 0; i < psa->cDims; ++i) {
        if (psa->rgsabound[i].cElements == 0) {
            return 0;
        }
        cells *= psa->rgsabound[i].cElements;
    }
    return cells;
}

// Total data bytes, or false when the product does not fit in 32 bits.
bool data_bytes(const SAFEARRAY* psa, ULONG& bytes) {
    unsigned long long total = psa->cbElements;
    for (USHORT i = 0; i < psa->cDims; ++i) {
        total *= psa->rgsabound[i].cElements;
        if (total > 0xFFFFFFFFull) {
            return false;
        }
    }
    bytes = static_cast<ULONG>(total);
    return true;
}

bool data_is_inline(const SAFEARRAY* psa) {
    return (psa->fFeatures & FADF_CREATEVECTOR) && psa->pvData == psa + 1;
}

// Releases what the elements from cell `first` on own (strings, interfaces, variants) and
// zeroes them, so that a later grow or destroy never sees a dangling element.
void release_elements(SAFEARRAY* psa, ULONG first) {
    if (psa->pvData == nullptr) {
        return;
    }
    const ULONG cells = cell_count(psa);
    if (first >= cells) {
        return;
    }
    auto* base = static_cast<unsigned char*>(psa->pvData);
    // Plain elements own nothing: no walk over a large numeric array.
    const USHORT owning = FADF_UNKNOWN | FADF_DISPATCH | FADF_BSTR | FADF_VARIANT;
    for (ULONG i = (psa->fFeatures & owning) ? first : cells; i < cells; ++i) {
        void* cell = base + static_cast<size_t>(i) * psa->cbElements;
        if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            if (IUnknown* unk = *static_cast<IUnknown**>(cell)) {
                unk->Release();
            }
        } else if (psa->fFeatures & FADF_BSTR) {
            SysFreeString(*static_cast<BSTR*>(cell));
        } else if (psa->fFeatures & FADF_VARIANT) {
            (void)VariantClear(static_cast<VARIANT*>(cell));
        }
    }
    std::memset(base + static_cast<size_t>(first) * psa->cbElements, 0,
                static_cast<size_t>(cells - first) * psa->cbElements);
}

// Copies every element of src into dest's (zeroed) data, adding references and duplicating
// strings and variants.
HRESULT copy_elements(SAFEARRAY* src, SAFEARRAY* dest) {
    const ULONG cells = cell_count(src);
    auto* from = static_cast<unsigned char*>(src->pvData);
    auto* to = static_cast<unsigned char*>(dest->pvData);
    if (src->fFeatures & FADF_VARIANT) {
        for (ULONG i = 0; i < cells; ++i) {
            auto* d = reinterpret_cast<VARIANT*>(to) + i;
            VariantInit(d);
            const HRESULT hr = VariantCopy(d, reinterpret_cast<VARIANT*>(from) + i);
            if (FAILED(hr)) {
                return hr;
            }
        }
    } else if (src->fFeatures & FADF_BSTR) {
        for (ULONG i = 0; i < cells; ++i) {
            BSTR s = reinterpret_cast<BSTR*>(from)[i];
            if (s != nullptr) {
                BSTR c = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(s), SysStringByteLen(s));
                if (c == nullptr) {
                    return E_OUTOFMEMORY;
                }
                reinterpret_cast<BSTR*>(to)[i] = c;
            }
        }
    } else {
        std::memcpy(to, from, static_cast<size_t>(cells) * src->cbElements);
        if (src->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            for (ULONG i = 0; i < cells; ++i) {
                if (IUnknown* unk = reinterpret_cast<IUnknown**>(to)[i]) {
                    unk->AddRef();
                }
            }
        }
    }
    return S_OK;
}

void copy_type_info(SAFEARRAY* src, SAFEARRAY* dest) {
    if (src->fFeatures & FADF_HAVEIID) {
        std::memcpy(hidden_of(dest), hidden_of(src), sizeof(GUID));
    } else if (src->fFeatures & FADF_HAVEVARTYPE) {
        set_hidden_vartype(dest, static_cast<VARTYPE>(hidden_vartype(src)));
    }
}

// Features describing how an array was allocated, which a copy does not inherit.
constexpr USHORT kAllocationFeatures =
    FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_FIXEDSIZE | FADF_CREATEVECTOR | FADF_DATADELETED;

}  // namespace

HRESULT SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** ppsaOut) {
    if (cDims == 0 || cDims >= 0x10000) {
        return E_INVALIDARG;
    }
    if (ppsaOut == nullptr) {
        return E_POINTER;
    }
    const size_t bytes = kHidden + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<unsigned char*>(zeroed(bytes));
    if (block == nullptr) {
        *ppsaOut = nullptr;
        return E_OUTOFMEMORY;
    }
    *ppsaOut = reinterpret_cast<SAFEARRAY*>(block + kHidden);
    (*ppsaOut)->cDims = static_cast<USHORT>(cDims);
    return S_OK;
}

HRESULT SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY** ppsaOut) {
    if (vt == VT_RECORD) {
        return E_NOTIMPL;  // records need IRecordInfo, which this layer does not provide
    }
    const HRESULT hr = SafeArrayAllocDescriptor(cDims, ppsaOut);
    if (SUCCEEDED(hr)) {
        (*ppsaOut)->cbElements = element_size(vt);
        set_type_features(*ppsaOut, vt);
    }
    return hr;
}

HRESULT SafeArrayAllocData(SAFEARRAY* psa) {
    if (psa == nullptr) {
        return E_INVALIDARG;
    }
    ULONG bytes;
    if (!data_bytes(psa, bytes)) {
        return E_OUTOFMEMORY;
    }
    psa->pvData = zeroed(bytes == 0 ? 1 : bytes);
    return psa->pvData != nullptr ? S_OK : E_OUTOFMEMORY;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    if (rgsabound == nullptr || vt == VT_RECORD) {
        return nullptr;
    }
    SAFEARRAY* psa = nullptr;
    if (FAILED(SafeArrayAllocDescriptorEx(vt, cDims, &psa))) {
        return nullptr;
    }
    psa->fFeatures |= ownership_feature(vt);
    // The descriptor keeps its bounds in reverse order.
    for (UINT i = 0; i < cDims; ++i) {
        psa->rgsabound[i] = rgsabound[cDims - 1 - i];
    }
    if (psa->cbElements == 0 || FAILED(SafeArrayAllocData(psa))) {
        SafeArrayDestroyDescriptor(psa);
        return nullptr;
    }
    return psa;
}

SAFEARRAY* SafeArrayCreateVectorEx(VARTYPE vt, LONG lLbound, ULONG cElements, PVOID pvExtra) {
    const ULONG size = element_size(vt);
    if (size == 0) {
        return nullptr;
    }
    const unsigned long long bytes = static_cast<unsigned long long>(size) * cElements;
    if (bytes > 0xFFFFFFFFull) {
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(
        zeroed(kHidden + sizeof(SAFEARRAY) + static_cast<size_t>(bytes)));
    if (block == nullptr) {
        return nullptr;
    }
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHidden);
    set_type_features(psa, vt);
    psa->cDims = 1;
    psa->fFeatures |= FADF_CREATEVECTOR | ownership_feature(vt);
    psa->cbElements = size;
    psa->pvData = psa + 1;
    psa->rgsabound[0].cElements = cElements;
    psa->rgsabound[0].lLbound = lLbound;
    if (pvExtra != nullptr && (vt == VT_UNKNOWN || vt == VT_DISPATCH)) {
        set_hidden_iid(psa, *static_cast<const GUID*>(pvExtra));
    }
    return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    return SafeArrayCreateVectorEx(vt, lLbound, cElements, nullptr);
}

HRESULT SafeArrayDestroyData(SAFEARRAY* psa) {
    if (psa == nullptr) {
        return E_INVALIDARG;
    }
    if (psa->cLocks > 0) {
        return DISP_E_ARRAYISLOCKED;
    }
    release_elements(psa, 0);
    if (psa->pvData != nullptr) {
        if (psa->fFeatures & FADF_STATIC) {
            return S_OK;  // caller-owned memory: elements released, block kept
        }
        if (data_is_inline(psa)) {
            psa->fFeatures |= FADF_DATADELETED;
        } else {
            CoTaskMemFree(psa->pvData);
            psa->pvData = nullptr;
        }
    }
    return S_OK;
}

HRESULT SafeArrayDestroyDescriptor(SAFEARRAY* psa) {
    if (psa == nullptr) {
        return S_OK;
    }
    if (psa->cLocks > 0) {
        return DISP_E_ARRAYISLOCKED;
    }
    if ((psa->fFeatures & FADF_CREATEVECTOR) && !(psa->fFeatures & FADF_DATADELETED)) {
        release_elements(psa, 0);
        if (!data_is_inline(psa)) {
            CoTaskMemFree(psa->pvData);
        }
    }
    CoTaskMemFree(hidden_of(psa));
    return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (psa == nullptr) {
        return S_OK;
    }
    if (psa->cLocks > 0) {
        return DISP_E_ARRAYISLOCKED;
    }
    SafeArrayDestroyData(psa);
    return SafeArrayDestroyDescriptor(psa);
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
    return psa != nullptr ? psa->cDims : 0;
}

UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
    return psa != nullptr ? psa->cbElements : 0;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (psa == nullptr || plLbound == nullptr) {
        return E_INVALIDARG;
    }
    if (nDim == 0 || nDim > psa->cDims) {
        return DISP_E_BADINDEX;
    }
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (psa == nullptr || plUbound == nullptr) {
        return E_INVALIDARG;
    }
    if (nDim == 0 || nDim > psa->cDims) {
        return DISP_E_BADINDEX;
    }
    const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - nDim];
    // Past LONG's range the upper bound wraps to 32 bits, as it does on Windows.
    const long long upper = static_cast<long long>(b.lLbound) + b.cElements - 1;
    *plUbound = static_cast<LONG>(static_cast<ULONG>(upper));
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (psa == nullptr) {
        return E_INVALIDARG;
    }
    const ULONG locks = __atomic_add_fetch(&psa->cLocks, 1u, __ATOMIC_ACQ_REL);
    if (locks > 0xFFFF) {
        __atomic_sub_fetch(&psa->cLocks, 1u, __ATOMIC_ACQ_REL);
        return E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (psa == nullptr) {
        return E_INVALIDARG;
    }
    ULONG locks = __atomic_load_n(&psa->cLocks, __ATOMIC_ACQUIRE);
    do {
        if (locks == 0) {
            return E_UNEXPECTED;
        }
    } while (!__atomic_compare_exchange_n(&psa->cLocks, &locks, locks - 1, false, __ATOMIC_ACQ_REL,
                                          __ATOMIC_ACQUIRE));
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (psa == nullptr || ppvData == nullptr) {
        return E_INVALIDARG;
    }
    const HRESULT hr = SafeArrayLock(psa);
    *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
    return SafeArrayUnlock(psa);
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) {
    if (psa == nullptr || rgIndices == nullptr || ppvData == nullptr) {
        return E_INVALIDARG;
    }
    // rgIndices[0] is the first dimension, stored last, and varies fastest.
    ULONG cell = 0;
    ULONG stride = 1;
    for (USHORT d = 0; d < psa->cDims; ++d) {
        const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - d];
        const long long offset = static_cast<long long>(rgIndices[d]) - b.lLbound;
        // Windows reaches no element of a dimension whose end passes LONG's range.
        const long long end = static_cast<long long>(b.lLbound) + b.cElements;
        if (offset < 0 || offset >= static_cast<long long>(b.cElements) ||
            end > std::numeric_limits<LONG>::max()) {
            return DISP_E_BADINDEX;
        }
        cell += static_cast<ULONG>(offset) * stride;
        stride *= b.cElements;
    }
    *ppvData =
        static_cast<unsigned char*>(psa->pvData) + static_cast<size_t>(cell) * psa->cbElements;
    return S_OK;
}

namespace {

// Runs op(cell) on the element at the indices while the array is locked (a locked array cannot
// be destroyed meanwhile).
template <class Op>
HRESULT with_element(SAFEARRAY* psa, LONG* rgIndices, Op op) {
    HRESULT hr = SafeArrayLock(psa);
    if (FAILED(hr)) {
        return hr;
    }
    void* cell = nullptr;
    hr = SafeArrayPtrOfIndex(psa, rgIndices, &cell);
    if (SUCCEEDED(hr)) {
        hr = op(cell);
    }
    SafeArrayUnlock(psa);
    return hr;
}

}  // namespace

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (psa == nullptr || rgIndices == nullptr || pv == nullptr) {
        return E_INVALIDARG;
    }
    return with_element(psa, rgIndices, [&](void* cell) -> HRESULT {
        if (psa->fFeatures & FADF_VARIANT) {
            // Whatever the destination held is ignored, not cleared.
            auto* dest = static_cast<VARIANT*>(pv);
            VariantInit(dest);
            return VariantCopy(dest, static_cast<VARIANT*>(cell));
        }
        HRESULT hr = S_OK;
        if (psa->fFeatures & FADF_BSTR) {
            BSTR s = *static_cast<BSTR*>(cell);
            BSTR copy = nullptr;
            if (s != nullptr) {
                copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(s), SysStringByteLen(s));
                if (copy == nullptr) {
                    hr = E_OUTOFMEMORY;
                }
            }
            *static_cast<BSTR*>(pv) = copy;
        } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            IUnknown* unk = *static_cast<IUnknown**>(cell);
            if (unk != nullptr) {
                unk->AddRef();
            }
            *static_cast<IUnknown**>(pv) = unk;
        } else {
            std::memcpy(pv, cell, psa->cbElements);
        }
        return hr;
    });
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (psa == nullptr || rgIndices == nullptr) {
        return E_INVALIDARG;
    }
    return with_element(psa, rgIndices, [&](void* cell) -> HRESULT {
        if (psa->fFeatures & FADF_VARIANT) {
            return pv != nullptr
                       ? VariantCopy(static_cast<VARIANT*>(cell), static_cast<VARIANT*>(pv))
                       : E_INVALIDARG;
        }
        if (psa->fFeatures & FADF_BSTR) {
            // pv is the BSTR itself; a null one is stored as an empty string.
            BSTR s = static_cast<BSTR>(pv);
            BSTR copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(s), SysStringByteLen(s));
            if (copy == nullptr) {
                return E_OUTOFMEMORY;
            }
            SysFreeString(*static_cast<BSTR*>(cell));
            *static_cast<BSTR*>(cell) = copy;
        } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            // pv is the interface pointer itself.
            auto* unk = static_cast<IUnknown*>(pv);
            if (unk != nullptr) {
                unk->AddRef();
            }
            IUnknown* old = *static_cast<IUnknown**>(cell);
            *static_cast<IUnknown**>(cell) = unk;
            if (old != nullptr) {
                old->Release();
            }
        } else if (pv == nullptr) {
            return E_INVALIDARG;
        } else {
            std::memcpy(cell, pv, psa->cbElements);
        }
        return S_OK;
    });
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) {
    if (psa == nullptr || psaboundNew == nullptr) {
        return E_INVALIDARG;
    }
    // A fixed-size array answers as a locked one does: it cannot be resized now.
    if (psa->cLocks > 0 || (psa->fFeatures & FADF_FIXEDSIZE)) {
        return DISP_E_ARRAYISLOCKED;
    }
    // Only the last dimension changes; it is stored first.
    SAFEARRAYBOUND& last = psa->rgsabound[0];
    const ULONG oldCount = last.cElements;
    const ULONG newCount = psaboundNew->cElements;
    if (newCount < oldCount) {
        const ULONG cells = cell_count(psa);
        const ULONG perSlice = oldCount == 0 ? 0 : cells / oldCount;
        release_elements(psa, perSlice * newCount);
    } else if (newCount > oldCount) {
        const ULONG oldBytes = cell_count(psa) * psa->cbElements;
        last.cElements = newCount;
        ULONG newBytes;
        const bool fits = data_bytes(psa, newBytes);
        last.cElements = oldCount;
        if (!fits) {
            return E_OUTOFMEMORY;
        }
        void* data = zeroed(newBytes);
        if (data == nullptr) {
            return E_OUTOFMEMORY;
        }
        if (psa->pvData != nullptr) {
            std::memcpy(data, psa->pvData, oldBytes);
            if (!data_is_inline(psa)) {
                CoTaskMemFree(psa->pvData);
            }
        }
        psa->pvData = data;
    }
    last.cElements = newCount;
    last.lLbound = psaboundNew->lLbound;
    return S_OK;
}

HRESULT SafeArrayCopyData(SAFEARRAY* psaSource, SAFEARRAY* psaTarget) {
    if (psaSource == nullptr || psaTarget == nullptr || psaSource->cDims != psaTarget->cDims ||
        psaSource->cbElements != psaTarget->cbElements) {
        return E_INVALIDARG;
    }
    for (USHORT i = 0; i < psaSource->cDims; ++i) {
        if (psaSource->rgsabound[i].cElements != psaTarget->rgsabound[i].cElements) {
            return E_INVALIDARG;
        }
    }
    if (psaTarget->cLocks > 0) {
        return DISP_E_ARRAYISLOCKED;
    }
    release_elements(psaTarget, 0);
    return copy_elements(psaSource, psaTarget);
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (ppsaOut == nullptr) {
        return E_INVALIDARG;
    }
    *ppsaOut = nullptr;
    if (psa == nullptr) {
        return S_OK;
    }
    if (psa->cbElements == 0) {
        return E_INVALIDARG;
    }
    SAFEARRAY* copy = nullptr;
    HRESULT hr = SafeArrayAllocDescriptor(psa->cDims, &copy);
    if (FAILED(hr)) {
        return hr;
    }
    copy->fFeatures = psa->fFeatures & ~kAllocationFeatures;
    copy->cbElements = psa->cbElements;
    copy_type_info(psa, copy);
    std::memcpy(copy->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
    if (psa->pvData != nullptr) {
        if (psa->fFeatures & FADF_DATADELETED) {
            SafeArrayDestroyDescriptor(copy);
            return E_INVALIDARG;
        }
        hr = SafeArrayAllocData(copy);
        if (SUCCEEDED(hr)) {
            hr = copy_elements(psa, copy);
        }
        if (FAILED(hr)) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (psa == nullptr || pvt == nullptr) {
        return E_INVALIDARG;
    }
    if (psa->fFeatures & FADF_RECORD) {
        *pvt = VT_RECORD;
    } else if ((psa->fFeatures & FADF_HAVEIID) && (psa->fFeatures & FADF_DISPATCH)) {
        *pvt = VT_DISPATCH;
    } else if (psa->fFeatures & FADF_HAVEIID) {
        *pvt = VT_UNKNOWN;
    } else if (psa->fFeatures & FADF_HAVEVARTYPE) {
        *pvt = static_cast<VARTYPE>(hidden_vartype(psa));
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT SafeArraySetIID(SAFEARRAY* psa, REFGUID guid) {
    if (psa == nullptr || !(psa->fFeatures & FADF_HAVEIID)) {
        return E_INVALIDARG;
    }
    set_hidden_iid(psa, guid);
    return S_OK;
}

HRESULT SafeArrayGetIID(SAFEARRAY* psa, GUID* pguid) {
    if (psa == nullptr || pguid == nullptr || !(psa->fFeatures & FADF_HAVEIID)) {
        return E_INVALIDARG;
    }
    std::memcpy(pguid, hidden_of(psa), sizeof(GUID));
    return S_OK;
}
