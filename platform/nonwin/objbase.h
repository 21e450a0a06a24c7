// COM task allocator for non-Windows builds. Memory handed between a component and its clients
// comes from here, so both sides must use the same allocator: it lives in the one platform
// library of the process.
#pragma once

#include "platform/nonwin/unknwn.h"

WINOLEAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb);
WINOLEAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
WINOLEAPI_(void) CoTaskMemFree(LPVOID pv);
