// A module whose registration fails: its script names a variable that nobody sets.
#include <cstring>

#include "platform/registrar/registrar.h"
#include "platform/winapi.h"

namespace {
constexpr char kScript[] = "HKCR { CjFailingServer = s '%UNKNOWN%' }";
}

PLATFORM_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
    return cj_registrar::RunModuleScript(kScript, std::strlen(kScript),
                                         cj_registrar::Mode::Register, kScript);
}

PLATFORM_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return cj_registrar::RunModuleScript(kScript, std::strlen(kScript),
                                         cj_registrar::Mode::Unregister, kScript);
}
