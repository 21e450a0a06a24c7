// Settings through bsttool's settings API; string memory through bstmem's heap or malloc.
#include "co/co_settings.h"

#include <cstdlib>
#include <mutex>
#include <string>

#include "btl/settings.h"
#include "platform/module.h"

int CCoSettings::MapLocation(int locationCode) noexcept {
    switch (locationCode) {
        case 0:
            return 1;
        case 1:
            return 2;
        case 2:
            return 3;
        case 10:
            return 16;
        case 11:
            return 17;
        case 12:
            return 18;
        default:
            return 0;
    }
}

LONG CCoSettings::GetValue(int locationCode, LPCWSTR path, DWORD* value) {
    const btl::SettingPath settingPath(
        static_cast<btl::SettingLocationEnum>(MapLocation(locationCode)),
        static_cast<btl::SettingBaseEnum>(0), path);
    return btl::SettingGetValue(settingPath, value);
}

namespace {

typedef void*(WINAPI* HeapAllocFn)(size_t);
typedef void(WINAPI* HeapFreeFn)(void*, size_t);

struct StringAllocator {
    bool ordinary = true;
    HeapAllocFn heapAlloc = nullptr;
    HeapFreeFn heapFree = nullptr;
};

}  // namespace

// Bit 0 of "PURIFY_MODE" (exactly four bytes) under <settings root>\EngCore asks for the
// ordinary allocator.
bool CoReadPurifyMode() noexcept try {
    std::basic_string<OLECHAR> path(BTL_GetRegKeyRoot());
    path += OLESTR("\\EngCore");
    platform::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0x20019, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), OLESTR("PURIFY_MODE"), nullptr, &type,
                         reinterpret_cast<LPBYTE>(&value), &size) != ERROR_SUCCESS ||
        size != sizeof value) {
        return false;
    }
    return (value & 1) != 0;
} catch (...) {
    return false;
}

namespace {

const StringAllocator& allocator() {
    static StringAllocator a;
    static std::once_flag once;
    std::call_once(once, [] {
        if (CoReadPurifyMode()) {
            return;
        }
        // The heap library stays loaded for the life of the process: blocks live that long.
        // Without it, the ordinary allocator serves rather than no allocator at all.
        HMODULE mem = LoadLibraryA("bstmem.dll");
        if (mem == nullptr) {
            return;
        }
        auto heapAlloc = platform::proc_address<HeapAllocFn>(mem, "falloc_HeapAlloc");
        auto heapFree = platform::proc_address<HeapFreeFn>(mem, "falloc_HeapFree");
        if (heapAlloc != nullptr && heapFree != nullptr) {
            a.ordinary = false;
            a.heapAlloc = heapAlloc;
            a.heapFree = heapFree;
        }
    });
    return a;
}

}  // namespace

void* CoStringAlloc(size_t bytes) noexcept {
    const StringAllocator& a = allocator();
    return a.ordinary ? std::malloc(bytes) : a.heapAlloc(bytes);
}

void CoStringFree(void* block, size_t bytes) noexcept {
    if (block == nullptr) {
        return;
    }
    const StringAllocator& a = allocator();
    if (a.ordinary) {
        std::free(block);
    } else {
        a.heapFree(block, bytes);
    }
}
