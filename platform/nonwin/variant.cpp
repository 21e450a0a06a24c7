// VARIANT lifetime: init, clear and deep copy for the automation types.
#include "platform/nonwin/oleauto.h"

namespace {

// The types a VARIANT may hold: the base types up to VT_UINT (15 is unassigned), VT_RECORD and
// VT_CLSID, optionally as array or reference. VT_EMPTY and VT_NULL cannot be arrays or
// references, and vectors are never valid in a VARIANT.
HRESULT validate_type(VARTYPE vt) {
    const VARTYPE extra = vt & (VT_VECTOR | VT_ARRAY | VT_BYREF | VT_RESERVED);
    const VARTYPE base = vt & VT_TYPEMASK;
    if (extra & (VT_VECTOR | VT_RESERVED)) {
        return DISP_E_BADVARTYPE;
    }
    if (base >= VT_VOID && base != VT_RECORD && base != VT_CLSID) {
        return DISP_E_BADVARTYPE;
    }
    if ((extra & (VT_BYREF | VT_ARRAY)) && base <= VT_NULL) {
        return DISP_E_BADVARTYPE;
    }
    if (base == 15) {
        return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

}  // namespace

void VariantInit(VARIANTARG* pvarg) {
    pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (pvarg == nullptr) {
        return E_INVALIDARG;
    }
    HRESULT hr = validate_type(pvarg->vt);
    if (FAILED(hr)) {
        return hr;
    }
    if (!V_ISBYREF(pvarg)) {
        if (V_ISARRAY(pvarg)) {
            hr = SafeArrayDestroy(pvarg->parray);
        } else if (pvarg->vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        } else if (pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) {
            if (pvarg->punkVal != nullptr) {
                pvarg->punkVal->Release();
            }
        } else if (pvarg->vt == VT_RECORD) {
            // Records need IRecordInfo, which this layer does not provide.
            return DISP_E_BADVARTYPE;
        }
    }
    // As on Windows, the variant is emptied even when a locked array refused destruction.
    pvarg->vt = VT_EMPTY;
    return hr;
}

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
    if (dest == nullptr || src == nullptr) {
        return E_INVALIDARG;
    }
    HRESULT hr = validate_type(src->vt);
    if (FAILED(hr)) {
        return hr;
    }
    if (dest == src) {
        return S_OK;
    }
    if ((src->vt & VT_TYPEMASK) == VT_RECORD && !V_ISBYREF(src)) {
        return DISP_E_BADVARTYPE;
    }
    hr = VariantClear(dest);
    if (FAILED(hr)) {
        return hr;
    }
    *dest = *src;
    if (V_ISBYREF(src)) {
        return S_OK;
    }
    if (V_ISARRAY(src)) {
        dest->parray = nullptr;
        hr = SafeArrayCopy(src->parray, &dest->parray);
    } else if (src->vt == VT_BSTR) {
        // A null BSTR is copied as an empty string, as the system does.
        dest->bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src->bstrVal),
                                              SysStringByteLen(src->bstrVal));
        if (dest->bstrVal == nullptr) {
            hr = E_OUTOFMEMORY;
        }
    } else if (src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) {
        if (src->punkVal != nullptr) {
            src->punkVal->AddRef();
        }
    }
    if (FAILED(hr)) {
        dest->vt = VT_EMPTY;
    }
    return hr;
}
