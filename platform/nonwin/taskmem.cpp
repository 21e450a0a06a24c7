// The COM task allocator. One per process: this library is loaded once however many of our
// modules use it, so memory may be freed by a module other than the one that allocated it.
#include "platform/nonwin/objbase.h"

#include <cstdlib>

LPVOID CoTaskMemAlloc(SIZE_T cb) {
    return std::malloc(cb == 0 ? 1 : cb);
}

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    if (cb == 0) {
        std::free(pv);
        return nullptr;
    }
    return std::realloc(pv, cb);
}

void CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}
