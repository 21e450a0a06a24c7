// The heap library stand-in (bstmem.dll): malloc with a size header, so that the balance of
// bytes and blocks can be read and a free with the wrong size is counted instead of trusted.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <type_traits>

#include "engsys/exports.h"

namespace {

// Keeps the block at malloc's alignment.
constexpr size_t kHeader = std::max(sizeof(size_t), alignof(std::max_align_t));

std::atomic<LONGLONG> g_balance{0};
std::atomic<LONGLONG> g_blocks{0};
std::atomic<LONGLONG> g_mismatches{0};

}  // namespace

PLATFORM_EXPORT void* WINAPI falloc_HeapAlloc(size_t bytes) {
    if (bytes > static_cast<size_t>(-1) - kHeader) {
        return nullptr;
    }
    auto* base = static_cast<unsigned char*>(std::malloc(kHeader + bytes));
    if (base == nullptr) {
        return nullptr;
    }
    *reinterpret_cast<size_t*>(base) = bytes;
    g_balance += static_cast<LONGLONG>(bytes);
    ++g_blocks;
    return base + kHeader;
}

// The recorded size is what leaves the balance, whatever the caller says.
PLATFORM_EXPORT void WINAPI falloc_HeapFree(void* block, size_t bytes) {
    if (block == nullptr) {
        return;
    }
    unsigned char* base = static_cast<unsigned char*>(block) - kHeader;
    const size_t recorded = *reinterpret_cast<size_t*>(base);
    if (recorded != bytes) {
        ++g_mismatches;
    }
    g_balance -= static_cast<LONGLONG>(recorded);
    --g_blocks;
    std::free(base);
}

PLATFORM_EXPORT LONGLONG WINAPI bstmem_Balance(void) {
    return g_balance;
}

PLATFORM_EXPORT LONGLONG WINAPI bstmem_Blocks(void) {
    return g_blocks;
}

PLATFORM_EXPORT LONGLONG WINAPI bstmem_SizeMismatches(void) {
    return g_mismatches;
}

static_assert(std::is_same<decltype(&falloc_HeapAlloc), engsys::HeapAllocFn>::value, "");
static_assert(std::is_same<decltype(&falloc_HeapFree), engsys::HeapFreeFn>::value, "");
static_assert(std::is_same<decltype(&bstmem_Balance), engsys::MemCounterFn>::value, "");
