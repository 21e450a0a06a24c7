// What every COM class stand-in module needs: its lock count, a class factory, and its
// registration by a script run through the shared registrar.
#pragma once

#include <atomic>
#include <cstring>
#include <string>

#include "platform/com_object.h"
#include "platform/registrar/registrar.h"
#include "platform/winapi.h"

namespace engsys {

// Live objects, server locks and client references to the class object of this module (each
// module has its own copy).
inline std::atomic<LONG>& ModuleLocks() noexcept {
    static std::atomic<LONG> locks{0};
    return locks;
}
struct ModuleLock {
    static void Lock() noexcept { ++ModuleLocks(); }
    static void Unlock() noexcept { --ModuleLocks(); }
};

// The body of a stand-in module's DllGetClassObject and DllCanUnloadNow for its one class, a
// default-constructible platform::ComObject with the DeleteAtZero policy.
template <class Object>
HRESULT GetClassObject(const CLSID& served, REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
    // Keeps the module's reference for as long as the module is loaded.
    static platform::ClassObject<ModuleLock> factory(
        &platform::CreateModuleLocked<Object, ModuleLock>);
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, served)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory.QueryInterface(riid, ppv);
}
inline HRESULT CanUnloadNow() noexcept {
    return ModuleLocks() == 0 ? S_OK : S_FALSE;
}

// Registers (or unregisters) the module that holds `address` by its registration script, with
// %MODULE% standing for the module's path. Link cj_registrar.
inline HRESULT RunServerScript(const char* script, cj_registrar::Mode mode,
                               const void* address) noexcept {
    return cj_registrar::RunModuleScript(script, std::strlen(script), mode, address);
}

// The script of one class served in-process: CLSID\{clsid} with its name, and InprocServer32 =
// the module's path with the threading model.
inline std::string InprocServerScript(const CLSID& clsid, const OLECHAR* name,
                                      const OLECHAR* threadingModel) {
    const auto utf8 = [](const OLECHAR* text) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        std::string r(n > 0 ? static_cast<size_t>(n) : 1, '\0');
        if (n > 0) {
            WideCharToMultiByte(CP_UTF8, 0, text, -1, &r[0], n, nullptr, nullptr);
        }
        r.pop_back();  // the terminator
        return r;
    };
    const auto quoted = [&](const OLECHAR* text) {
        std::string r = "'";
        for (const char c : utf8(text)) {
            r += c == '\'' ? std::string("''") : std::string(1, c);
        }
        return r + "'";
    };
    OLECHAR guid[CHARS_IN_GUID];
    StringFromGUID2(clsid, guid, CHARS_IN_GUID);
    return "HKCR { NoRemove CLSID { ForceRemove " + utf8(guid) + " = s " + quoted(name) +
           " { InprocServer32 = s '%MODULE%' { val ThreadingModel = s " + quoted(threadingModel) +
           " } } } }";
}

// Registers CLSID\{clsid}\InprocServer32 = the module holding `anchor`, with its threading model.
inline HRESULT RegisterInprocServer(const CLSID& clsid, const void* anchor, const OLECHAR* name,
                                    const OLECHAR* threadingModel) noexcept {
    try {
        return RunServerScript(InprocServerScript(clsid, name, threadingModel).c_str(),
                               cj_registrar::Mode::Register, anchor);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

inline HRESULT UnregisterInprocServer(const CLSID& clsid) noexcept {
    try {
        const std::string script = InprocServerScript(clsid, OLESTR(""), OLESTR(""));
        return cj_registrar::RunScript(script.c_str(), script.size(),
                                       cj_registrar::Mode::Unregister,
                                       {{OLESTR("MODULE"), OLESTR("")}});
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace engsys
