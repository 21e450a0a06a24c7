// SAFEARRAYs held in VARIANTs: array checks, bounds, element access, creation and range copies.
#pragma once

#include "platform/winapi.h"

// True when the VARIANT holds no array (neither the array nor the vector bit).
bool VariantIsNoArray(const VARIANT* v);
// True when the VARIANT itself (not by reference) holds a one-dimensional array that is not of
// records: the arrays the range copies take.
bool VariantHoldsPlainVector(const VARIANT* v);

HRESULT VariantSafeArrayGetBounds(const VARIANT* v, int dims, SAFEARRAYBOUND* bounds);
HRESULT VariantSafeArrayGetElement(const VARIANT* v, LONG* indices, void* element);

// Clears v, then stores a new array of element type vt in it (type word vt | VT_ARRAY).
HRESULT VariantSafeArrayCreate(VARIANT* v, VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds);
HRESULT VariantSafeArrayCreate(VARIANT* v, VARTYPE vt, UINT dims, LONG lowerBound, ULONG count);
HRESULT VariantSafeArrayCreateVector(VARIANT* v, VARTYPE vt, const ULONG* count);

// Copies count elements between the arrays of two VARIANTs; with count 1 either side may also
// be a plain VARIANT at offset 0.
HRESULT VariantSafeArrayCopyRange(VARIANT* dst, int dstOffset, const VARIANT* src, int srcOffset,
                                  int dims, int count);
