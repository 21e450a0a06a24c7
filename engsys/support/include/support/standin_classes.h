// Registers the COM class stand-ins of the engineering system (found beside the test program)
// through their own DllRegisterServer, so that CoCreateInstance reaches them as in a deployment.
#pragma once

#include <string>

#include "platform/module.h"
#include "platform/winapi.h"

namespace testing_support {

// Loads the module and runs its DllRegisterServer; the module stays loaded for the process.
inline HRESULT register_standin(const char* module) {
    HMODULE h = LoadLibraryA(module);
    if (h == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    using RegisterFn = HRESULT(STDAPICALLTYPE*)();
    auto reg = platform::proc_address<RegisterFn>(h, "DllRegisterServer");
    return reg != nullptr ? reg() : E_NOTIMPL;
}

inline HRESULT unregister_standin(const char* module) {
    HMODULE h = LoadLibraryA(module);
    if (h == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    using RegisterFn = HRESULT(STDAPICALLTYPE*)();
    auto unreg = platform::proc_address<RegisterFn>(h, "DllUnregisterServer");
    return unreg != nullptr ? unreg() : E_NOTIMPL;
}

}  // namespace testing_support
