// Bounds and range copies on bare SAFEARRAYs.
#include "h/safearrayhlp.h"

#include <algorithm>
#include <vector>

#include "co/co_trace.h"
#include "h/array_element.h"

HRESULT SafeArrayGetBounds(SAFEARRAY* psa, int dims, SAFEARRAYBOUND* bounds) {
    CO_TRACE_SCOPE(trace, "h/safearrayhlp", "SafeArrayGetBounds");
    for (int d = 1; d <= dims; ++d) {
        LONG lower = 0;
        LONG upper = 0;
        HRESULT hr = SafeArrayGetLBound(psa, static_cast<UINT>(d), &lower);
        if (FAILED(hr)) {
            CO_TRACE(trace, TRACE_ERROR, "error on SafeArrayGetLBound, dim %d", d);
            return hr;
        }
        hr = SafeArrayGetUBound(psa, static_cast<UINT>(d), &upper);
        if (FAILED(hr)) {
            CO_TRACE(trace, TRACE_ERROR, "error on SafeArrayGetUBound, dim %d", d);
            return hr;
        }
        // An array whose end passes LONG's range reports a wrapped upper bound; its elements
        // cannot be indexed, so such bounds are refused rather than counted.
        const long long count = static_cast<long long>(upper) - lower + 1;
        if (count < 0 || count > 0xFFFFFFFFll) {
            CO_TRACE(trace, TRACE_ERROR, "error on bounds check, dim %d", d);
            return DISP_E_BADINDEX;
        }
        bounds[d - 1].cElements = static_cast<ULONG>(count);
        bounds[d - 1].lLbound = lower;
    }
    return S_OK;
}

HRESULT CheckOneDimension(CCoTrace& trace, SAFEARRAY* src, SAFEARRAY* dst) {
    const UINT srcDims = src != nullptr ? SafeArrayGetDim(src) : 1;
    const UINT dstDims = dst != nullptr ? SafeArrayGetDim(dst) : 1;
    if (srcDims != 1 || dstDims != 1) {
        CO_TRACE(trace, TRACE_ERROR, "error on dimension check, src-dims %u, dst-dims %u", srcDims,
                 dstDims);
        return DISP_E_BADINDEX;
    }
    return S_OK;
}

namespace {

// Checks both arrays and ranges of a copy; on success the first index of each range.
HRESULT CheckCopyRanges(CCoTrace& trace, SAFEARRAY* dst, int dstOffset, SAFEARRAY* src,
                        int srcOffset, int dims, int count, long long& srcFirst,
                        long long& dstFirst) {
    // An array of more dimensions would read the other indices from past the one passed on.
    if (const HRESULT dims1 = CheckOneDimension(trace, src, dst); FAILED(dims1)) {
        return dims1;
    }
    // Dimension 1 is always read, whatever number of dimensions is asked for.
    const size_t records = static_cast<size_t>(std::max(dims, 1));
    std::vector<SAFEARRAYBOUND> srcBounds(records);
    std::vector<SAFEARRAYBOUND> dstBounds(records);
    HRESULT hr = SafeArrayGetBounds(src, static_cast<int>(records), srcBounds.data());
    if (SUCCEEDED(hr)) {
        hr = SafeArrayGetBounds(dst, static_cast<int>(records), dstBounds.data());
    }
    if (FAILED(hr)) {
        CO_TRACE(trace, TRACE_ERROR, "error on SafeArrayGetBounds, dim %d", dims);
        return hr;
    }
    const auto srcSize = static_cast<long long>(srcBounds[0].cElements);
    const auto dstSize = static_cast<long long>(dstBounds[0].cElements);
    if (srcOffset < 0 || static_cast<long long>(srcOffset) + count > srcSize) {
        CO_TRACE(trace, TRACE_ERROR, "error on index check, src-offset %d, count %d, size %d",
                 srcOffset, count, static_cast<int>(srcSize));
        return DISP_E_BADINDEX;
    }
    if (dstOffset < 0 || static_cast<long long>(dstOffset) + count > dstSize) {
        CO_TRACE(trace, TRACE_ERROR, "error on index check, dst-offset %d, count %d, size %d",
                 dstOffset, count, static_cast<int>(dstSize));
        return DISP_E_BADINDEX;
    }
    srcFirst = srcBounds[0].lLbound + static_cast<long long>(srcOffset);
    dstFirst = dstBounds[0].lLbound + static_cast<long long>(dstOffset);
    return S_OK;
}

// Copies count elements between checked ranges, each in the form of its own kind.
HRESULT CopyElements(CCoTrace& trace, SAFEARRAY* dst, long long dstFirst, SAFEARRAY* src,
                     long long srcFirst, int count) {
    // Mixing kinds (a number into an array of VARIANT, a BSTR into numbers) would hand over
    // garbage.
    if (!CArrayElement::Fits(src) || !CArrayElement::SameKind(src, dst)) {
        CO_TRACE(
            trace, TRACE_ERROR, "error on element type check, src-features 0x%X, dst-features 0x%X",
            static_cast<unsigned int>(src->fFeatures), static_cast<unsigned int>(dst->fFeatures));
        return DISP_E_BADVARTYPE;
    }
    CArrayElement element(src);
    for (int i = 0; i < count; ++i) {
        // Within the checked ranges, whose bounds fit in LONG.
        LONG srcIndex = static_cast<LONG>(srcFirst + i);
        LONG dstIndex = static_cast<LONG>(dstFirst + i);
        HRESULT hr = SafeArrayGetElement(src, &srcIndex, element.Slot());
        if (FAILED(hr)) {
            CO_TRACE(trace, TRACE_ERROR, "error on SafeArrayGetElement, src-offset %d",
                     static_cast<int>(srcIndex));
            return hr;
        }
        hr = SafeArrayPutElement(dst, &dstIndex, element.PutArgument());
        element.Release();  // the destination holds its own copy
        if (FAILED(hr)) {
            CO_TRACE(trace, TRACE_ERROR, "error on SafeArrayPutElement, dst-offset %d",
                     static_cast<int>(dstIndex));
            return hr;
        }
    }
    return S_OK;
}

}  // namespace

HRESULT SafeArrayCopyRange(SAFEARRAY* dst, int dstOffset, SAFEARRAY* src, int srcOffset, int dims,
                           int count) {
    CO_TRACE_SCOPE(trace, "h/safearrayhlp", "SafeArrayCopyRange");
    long long srcFirst = 0;
    long long dstFirst = 0;
    const HRESULT hr =
        CheckCopyRanges(trace, dst, dstOffset, src, srcOffset, dims, count, srcFirst, dstFirst);
    if (FAILED(hr) || count <= 0) {
        return hr;
    }
    return CopyElements(trace, dst, dstFirst, src, srcFirst, count);
}
