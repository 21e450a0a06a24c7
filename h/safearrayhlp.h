// Bounds of a SAFEARRAY and element-wise range copies between arrays, with traced failures.
#pragma once

#include "platform/winapi.h"

// Bounds of dimensions 1..dims, dimension 1 first; dims = 0 writes nothing.
HRESULT SafeArrayGetBounds(SAFEARRAY* psa, int dims, SAFEARRAYBOUND* bounds);

// Copies count elements along dimension 1, offsets counted from each array's lower bound.
HRESULT SafeArrayCopyRange(SAFEARRAY* dst, int dstOffset, SAFEARRAY* src, int srcOffset, int dims,
                           int count);

class CCoTrace;
// DISP_E_BADINDEX (traced) when either array has more than one dimension: the copies pass on one
// index per element. A null array passes here and fails on its bounds or kind later.
HRESULT CheckOneDimension(CCoTrace& trace, SAFEARRAY* src, SAFEARRAY* dst);
