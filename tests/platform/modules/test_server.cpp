// An in-process server for activation tests: one class, found through the registry, that
// counts its live objects so tests can see when the module may unload.
#include <atomic>

#include "platform/com_object.h"
#include "platform/winapi.h"
#include "support/ping_object.h"
#include "test_server.h"

namespace {

std::atomic<LONG> g_objects{0};
std::atomic<LONG> g_locks{0};

class ServerObject : public platform::ComObject<ServerObject, platform::DeleteAtZero, ICjTestPing> {
  public:
    ServerObject() { ++g_objects; }
    ~ServerObject() override { --g_objects; }
    HRESULT STDMETHODCALLTYPE Ping(LONG* value) override {
        *value = g_objects;
        return S_OK;
    }
};

// References held by clients to the class object keep the module locked, as live objects do.
struct ModuleLock {
    static void Lock() noexcept { ++g_locks; }
    static void Unlock() noexcept { --g_locks; }
};

platform::ClassObject<ModuleLock> g_factory(
    &platform::CreateModuleLocked<ServerObject, ModuleLock>);

}  // namespace

PLATFORM_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_CjTestServer)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(riid, ppv);
}

PLATFORM_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

PLATFORM_EXPORT LONG STDAPICALLTYPE CjTestServerObjects() {
    return g_objects;
}

// Registers an object in the process's global interface table from inside this module.
PLATFORM_EXPORT HRESULT STDAPICALLTYPE CjTestRegisterInGlobalTable(IUnknown* object,
                                                                   DWORD* cookie) {
    platform::ComPtr<IGlobalInterfaceTable> table;
    HRESULT hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGlobalInterfaceTable, table.put_void());
    if (SUCCEEDED(hr)) {
        hr = table->RegisterInterfaceInGlobal(object, IID_ICjTestPing, cookie);
    }
    return hr;
}
