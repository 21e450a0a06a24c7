// What a fuzz target's process holds on the heap, from the sanitizer's allocator, for checks that
// reading an input keeps no more than a small multiple of the input's size.
#pragma once

#include <sanitizer/allocator_interface.h>

#include <cstddef>

namespace fuzzing {

inline size_t held_bytes() {
    return __sanitizer_get_current_allocated_bytes();
}

// Traps when more than factor * size + slack bytes were added since `before`.
inline void check_held(size_t before, size_t size, size_t factor, size_t slack) {
    const size_t now = held_bytes();
    if (now > before && now - before > factor * size + slack) {
        __builtin_trap();
    }
}

}  // namespace fuzzing
