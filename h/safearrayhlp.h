// Bounds of a SAFEARRAY and element-wise range copies between arrays, with traced failures.
#pragma once

#include "platform/winapi.h"

// Bounds of dimensions 1..dims, dimension 1 first; dims = 0 writes nothing.
HRESULT SafeArrayGetBounds(SAFEARRAY* psa, int dims, SAFEARRAYBOUND* bounds);

// Copies count elements along dimension 1, offsets counted from each array's lower bound.
HRESULT SafeArrayCopyRange(SAFEARRAY* dst, int dstOffset, SAFEARRAY* src, int srcOffset, int dims,
                           int count);
