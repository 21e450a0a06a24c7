// Reading the engineering system's settings, and the memory of the component's narrow strings.
#pragma once

#include <cstddef>

#include "platform/winapi.h"

class CCoSettings {
  public:
    // Reads a 32-bit value at a root-relative path (the last part names the value) in the store
    // named by a location code. Answers the settings library's result: 0 read, 2 missing,
    // anything else another failure.
    static LONG GetValue(int locationCode, LPCWSTR path, DWORD* value);

    // The settings library's location for one of our location codes.
    static int MapLocation(int locationCode) noexcept;
};

// Memory for narrow strings: the engineering system's heap, or the ordinary allocator when the
// "PURIFY_MODE" switch asks for it (decided once per process, so a block is always freed by the
// allocator that made it). A block is freed with the size it was allocated with.
void* CoStringAlloc(size_t bytes) noexcept;
// The "PURIFY_MODE" switch as the registry holds it now (the allocator reads it once).
bool CoReadPurifyMode() noexcept;
void CoStringFree(void* block, size_t bytes) noexcept;
