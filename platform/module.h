// Owners for loaded modules and registry keys, and typed lookup of exported functions; used on
// every platform.
#pragma once

#include "platform/raii.h"
#include "platform/winapi.h"

namespace platform {

struct ModuleTraits {
    static HMODULE invalid() noexcept { return nullptr; }
    static void close(HMODULE m) noexcept { FreeLibrary(m); }
};
// One load reference of a module (LoadLibrary ... FreeLibrary).
using UniqueModule = UniqueResource<HMODULE, ModuleTraits>;

struct RegKeyTraits {
    static HKEY invalid() noexcept { return nullptr; }
    static void close(HKEY k) noexcept { RegCloseKey(k); }
};
// An open registry key (RegOpenKeyEx/RegCreateKeyEx ... RegCloseKey).
using UniqueRegKey = UniqueResource<HKEY, RegKeyTraits>;

// GetProcAddress with the function's own type (the detour through void(*)() is the one cast
// between function pointer types that compilers accept without a warning).
template <class Fn>
Fn proc_address(HMODULE module, const char* name) noexcept {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace platform
