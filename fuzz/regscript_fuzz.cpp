// Registration scripts from arbitrary bytes, run by the registrar in a sandbox key in both
// directions: a script must be refused or run without harm, and a script that registered must
// unregister again.
#include <cstddef>
#include <cstdint>

#include "platform/registrar/registrar.h"
#include "platform/module.h"

namespace {

const OLECHAR kSandbox[] = OLESTR("Software\\CjFuzzRegistrar");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<cj_registrar::Replacement> replacements = {
        {OLESTR("MODULE"), OLESTR("C:\\Fuzz\\Module.dll")}, {OLESTR("EMPTY"), OLESTR("")}};
    (void)RegDeleteTreeW(HKEY_CURRENT_USER, kSandbox);
    platform::UniqueRegKey sandbox;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSandbox, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        sandbox.put(), nullptr) != ERROR_SUCCESS) {
        __builtin_trap();
    }
    const char* script = reinterpret_cast<const char*>(data);
    const HRESULT registered = cj_registrar::RunScript(script, size, cj_registrar::Mode::Register,
                                                       replacements, sandbox.get());
    const HRESULT unregistered = cj_registrar::RunScript(
        script, size, cj_registrar::Mode::Unregister, replacements, sandbox.get());
    if (registered == S_OK && unregistered != S_OK) {
        __builtin_trap();
    }
    sandbox.reset();
    (void)RegDeleteTreeW(HKEY_CURRENT_USER, kSandbox);
    return 0;
}
