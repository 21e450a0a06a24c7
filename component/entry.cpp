// The component module's entry: process attach and detach, the object map and the four exported
// functions of an in-process server.
#include <cstring>

#include "base/st/symcjacc/symcjacc.h"
#include "collectionjobsymacc.h"
#include "component/module.h"
#include "component/objects.h"
#include "platform/registrar/registrar.h"
#include "component/resource.h"
#include "platform/winapi.h"

#ifndef _WIN32
#include "component/embedded_script.h"
#endif

namespace {

CComponentModule g_module;

const ObjectMapEntry kObjectMap[] = {
    {&CLSID_CollectionJobSymAcc, &CreatePlainOrAggregated<CCollectionJobSymAcc>},
};

// The registration script: resource "REGISTRY" 102 on Windows, built into the library elsewhere.
HRESULT RegistrationScript(const char*& text, size_t& length) noexcept {
#ifdef _WIN32
    const HINSTANCE instance = g_module.GetModuleInstance();
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(IDR_COLLECTIONJOBSYMACC), L"REGISTRY");
    HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError() != 0 ? GetLastError()
                                                      : ERROR_RESOURCE_DATA_NOT_FOUND);
    }
    text = static_cast<const char*>(data);
    length = SizeofResource(instance, found);
#else
    text = kEmbeddedRegistrationScript;
    length = std::strlen(kEmbeddedRegistrationScript);
#endif
    return S_OK;
}

HRESULT RunRegistration(cj_registrar::Mode mode) noexcept {
    const char* text = nullptr;
    size_t length = 0;
    const HRESULT hr = RegistrationScript(text, length);
    if (FAILED(hr)) {
        return hr;
    }
    return cj_registrar::RunModuleScript(text, length, mode, static_cast<const void*>(&g_module));
}

}  // namespace

CComponentModule& ComponentModule() noexcept {
    return g_module;
}

#ifdef _WIN32

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module.Init(kObjectMap, sizeof kObjectMap / sizeof kObjectMap[0], instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        g_module.Term();
    }
    return TRUE;
}

// Exported through CollectionJobSymAcc.def.
#define CJ_ENTRY_POINT extern "C"

#else

namespace {

// A shared library gets no attach and detach calls; the lifetime of a static object stands in
// for them. Nothing here needs the instance handle (no resources), so it stays null.
struct ProcessAttachment {
    ProcessAttachment() noexcept {
        g_module.Init(kObjectMap, sizeof kObjectMap / sizeof kObjectMap[0], nullptr);
    }
    ~ProcessAttachment() { g_module.Term(); }
    ProcessAttachment(const ProcessAttachment&) = delete;
    ProcessAttachment& operator=(const ProcessAttachment&) = delete;
} g_attachment;

}  // namespace

#define CJ_ENTRY_POINT PLATFORM_EXPORT

#endif

CJ_ENTRY_POINT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return g_module.GetClassObject(rclsid, riid, ppv);
}

CJ_ENTRY_POINT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return g_module.GetLockCount() == 0 ? S_OK : S_FALSE;
}

// No type library is registered: clients bind the interface from its header.
CJ_ENTRY_POINT HRESULT STDAPICALLTYPE DllRegisterServer() {
    return RunRegistration(cj_registrar::Mode::Register);
}

CJ_ENTRY_POINT HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return RunRegistration(cj_registrar::Mode::Unregister);
}
