// SAFEARRAYs inside VARIANTs: checks, bounds, creation and range copies.
#include "h/variantarrayhlp.h"

#include <cstring>
#include <limits>

#include "co/co_trace.h"
#include "h/array_element.h"
#include "h/safearrayhlp.h"
#include "platform/raii.h"

namespace {

// The array a VARIANT holds itself; arrays held by reference are not supported.
SAFEARRAY* held_array(const VARIANT* v) {
    if (VariantIsNoArray(v) || (v->vt & VT_BYREF)) {
        return nullptr;
    }
    return v->parray;
}

// lower + offset as an index, or false when it lies outside LONG's range.
bool index_at(LONG lower, int offset, LONG* index) {
    const long long i = static_cast<long long>(lower) + offset;
    if (i < std::numeric_limits<LONG>::min() || i > std::numeric_limits<LONG>::max()) {
        return false;
    }
    *index = static_cast<LONG>(i);
    return true;
}

// Fetches element `index` of psa as a VARIANT of the array's element type.
HRESULT fetch_as_variant(SAFEARRAY* psa, LONG index, VARIANT* out) {
    if (psa->fFeatures & FADF_VARIANT) {
        return SafeArrayGetElement(psa, &index, out);
    }
    VARTYPE vt = VT_EMPTY;
    HRESULT hr = SafeArrayGetVartype(psa, &vt);
    if (FAILED(hr)) {
        return hr;
    }
    if (!CArrayElement::Fits(psa)) {
        return DISP_E_BADVARTYPE;
    }
    CArrayElement element(psa);
    hr = SafeArrayGetElement(psa, &index, element.Slot());
    if (FAILED(hr)) {
        return hr;
    }
    // The element's bytes (and whatever string or reference they own) move into the VARIANT.
    VariantInit(out);
    if (vt == VT_DECIMAL) {
        std::memcpy(&out->decVal, element.Slot(), sizeof(DECIMAL));
    } else {
        std::memcpy(&out->llVal, element.Slot(), psa->cbElements);
    }
    out->vt = vt;
    std::memset(element.Slot(), 0, psa->cbElements);
    return S_OK;
}

// Stores a VARIANT as element `index` of psa: whole into an array of VARIANT, else as the value
// it holds when that is of the array's element type.
HRESULT store_variant(SAFEARRAY* psa, LONG index, VARIANT* value) {
    if (psa->fFeatures & FADF_VARIANT) {
        return SafeArrayPutElement(psa, &index, value);
    }
    VARTYPE vt = VT_EMPTY;
    HRESULT hr = SafeArrayGetVartype(psa, &vt);
    if (FAILED(hr)) {
        return hr;
    }
    if (value->vt != vt) {
        return DISP_E_TYPEMISMATCH;
    }
    if (psa->fFeatures & FADF_BSTR) {
        return SafeArrayPutElement(psa, &index, value->bstrVal);
    }
    if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        return SafeArrayPutElement(psa, &index, value->punkVal);
    }
    if (vt == VT_DECIMAL) {
        return SafeArrayPutElement(psa, &index, &value->decVal);
    }
    return SafeArrayPutElement(psa, &index, &value->llVal);
}

// The element at srcOffset of the array held by src, or src itself (from null).
HRESULT read_one(CCoTrace& trace, const VARIANT* src, SAFEARRAY* from, int srcOffset,
                 platform::UniqueVariant& temporary) {
    HRESULT hr;
    if (from == nullptr) {
        hr = temporary.copy_from(src);
        if (FAILED(hr)) {
            CO_TRACE(trace, TRACE_ERROR, "error on VariantCopy, src-type %d, dst-type %d",
                     static_cast<int>(src->vt), static_cast<int>(temporary.vt()));
        }
        return hr;
    }
    LONG lower = 0;
    hr = SafeArrayGetLBound(from, 1, &lower);
    if (FAILED(hr)) {
        CO_TRACE(trace, TRACE_ERROR, "error on SafeArrayGetLBound, src-type %d",
                 static_cast<int>(src->vt));
        return hr;
    }
    LONG index = 0;
    hr = index_at(lower, srcOffset, &index) ? fetch_as_variant(from, index, temporary.put())
                                            : DISP_E_BADINDEX;
    if (FAILED(hr)) {
        CO_TRACE(trace, TRACE_ERROR, "error on SafeArrayGetElement, src-type %d",
                 static_cast<int>(src->vt));
    }
    return hr;
}

// Stores the element at dstOffset of the array held by dst, or as dst itself (to null).
HRESULT write_one(CCoTrace& trace, VARIANT* dst, SAFEARRAY* to, int dstOffset,
                  platform::UniqueVariant& temporary) {
    HRESULT hr;
    if (to == nullptr) {
        hr = temporary.copy_to(dst);
        if (FAILED(hr)) {
            CO_TRACE(trace, TRACE_ERROR, "error on VariantCopy, src-type %d, dst-type %d",
                     static_cast<int>(temporary.vt()), static_cast<int>(dst->vt));
        }
        return hr;
    }
    LONG lower = 0;
    hr = SafeArrayGetLBound(to, 1, &lower);
    if (FAILED(hr)) {
        CO_TRACE(trace, TRACE_ERROR, "error on SafeArrayGetLBound, dst-type %d, dim %d",
                 static_cast<int>(dst->vt), 1);
        return hr;
    }
    LONG index = 0;
    hr = index_at(lower, dstOffset, &index) ? store_variant(to, index, temporary.get())
                                            : DISP_E_BADINDEX;
    if (FAILED(hr)) {
        CO_TRACE(trace, TRACE_ERROR,
                 "error on SafeArrayPutElement, src-type %d, dst-type %d, indices %d",
                 static_cast<int>(temporary.vt()), static_cast<int>(dst->vt),
                 static_cast<int>(index));
    }
    return hr;
}

}  // namespace

bool VariantIsNoArray(const VARIANT* v) {
    return (v->vt & (VT_ARRAY | VT_VECTOR)) == 0;
}

bool VariantHoldsPlainVector(const VARIANT* v) {
    SAFEARRAY* psa = held_array(v);
    return psa != nullptr && SafeArrayGetDim(psa) == 1 && !(psa->fFeatures & FADF_RECORD) &&
           (v->vt & VT_TYPEMASK) != VT_RECORD;
}

HRESULT VariantSafeArrayGetBounds(const VARIANT* v, int dims, SAFEARRAYBOUND* bounds) {
    SAFEARRAY* psa = held_array(v);
    if (psa == nullptr) {
        return DISP_E_BADVARTYPE;
    }
    return SafeArrayGetBounds(psa, dims, bounds);
}

HRESULT VariantSafeArrayGetElement(const VARIANT* v, LONG* indices, void* element) {
    SAFEARRAY* psa = held_array(v);
    if (psa == nullptr) {
        return DISP_E_BADVARTYPE;
    }
    return SafeArrayGetElement(psa, indices, element);
}

HRESULT VariantSafeArrayCreate(VARIANT* v, VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) {
    HRESULT hr = VariantClear(v);
    if (FAILED(hr)) {
        return hr;
    }
    SAFEARRAY* psa = SafeArrayCreate(vt, dims, bounds);
    if (psa == nullptr) {
        return E_OUTOFMEMORY;
    }
    v->vt = static_cast<VARTYPE>(vt | VT_ARRAY);
    v->parray = psa;
    return S_OK;
}

HRESULT VariantSafeArrayCreate(VARIANT* v, VARTYPE vt, UINT dims, LONG lowerBound, ULONG count) {
    // One bound record describes one dimension only; more would be read past it.
    if (dims != 1) {
        return E_INVALIDARG;
    }
    SAFEARRAYBOUND bound = {count, lowerBound};
    return VariantSafeArrayCreate(v, vt, dims, &bound);
}

HRESULT VariantSafeArrayCreateVector(VARIANT* v, VARTYPE vt, const ULONG* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    HRESULT hr = VariantClear(v);
    if (FAILED(hr)) {
        return hr;
    }
    SAFEARRAY* psa = SafeArrayCreateVectorEx(vt, 0, *count, nullptr);
    if (psa == nullptr) {
        return E_OUTOFMEMORY;
    }
    v->vt = static_cast<VARTYPE>(vt | VT_ARRAY);
    v->parray = psa;
    return S_OK;
}

HRESULT VariantSafeArrayCopyRange(VARIANT* dst, int dstOffset, const VARIANT* src, int srcOffset,
                                  int dims, int count) {
    CO_TRACE_SCOPE(trace, "h/variantarrayhlp", "VariantSafeArrayCopyRange");
    if (count == 0) {
        return S_OK;
    }
    if (count > 1) {
        SAFEARRAY* from = held_array(src);
        SAFEARRAY* to = held_array(dst);
        if (from != nullptr && to != nullptr) {
            return SafeArrayCopyRange(to, dstOffset, from, srcOffset, dims, count);
        }
        CO_TRACE(trace, TRACE_ERROR, "error on safe-array check, src-type %d, dst-type %d",
                 static_cast<int>(src->vt), static_cast<int>(dst->vt));
        CO_TRACE(trace, TRACE_ERROR, "unexpected fall-trough");
        return DISP_E_BADVARTYPE;
    }
    if (count < 0 || dims != 1) {
        CO_TRACE(trace, TRACE_ERROR, "unexpected fall-trough");
        return DISP_E_BADINDEX;
    }

    // One element through a temporary VARIANT; either side may be a plain VARIANT at offset 0.
    SAFEARRAY* from = held_array(src);
    SAFEARRAY* to = held_array(dst);
    if ((from == nullptr && (srcOffset != 0 || !VariantIsNoArray(src))) ||
        (to == nullptr && (dstOffset != 0 || !VariantIsNoArray(dst)))) {
        CO_TRACE(trace, TRACE_ERROR, "unexpected fall-trough");
        return DISP_E_BADVARTYPE;
    }
    // One index is passed on and elements move as bytes: arrays of more dimensions and of
    // records are refused, as the range copy refuses them.
    if (const HRESULT dims1 = CheckOneDimension(trace, from, to); FAILED(dims1)) {
        return dims1;
    }
    const USHORT fromFeatures = from != nullptr ? from->fFeatures : 0;
    const USHORT toFeatures = to != nullptr ? to->fFeatures : 0;
    if ((fromFeatures | toFeatures) & FADF_RECORD) {
        CO_TRACE(trace, TRACE_ERROR,
                 "error on element type check, src-features 0x%X, dst-features 0x%X",
                 static_cast<unsigned int>(fromFeatures), static_cast<unsigned int>(toFeatures));
        return DISP_E_BADVARTYPE;
    }
    platform::UniqueVariant temporary;
    const HRESULT hr = read_one(trace, src, from, srcOffset, temporary);
    if (FAILED(hr)) {
        return hr;
    }
    return write_one(trace, dst, to, dstOffset, temporary);
}
