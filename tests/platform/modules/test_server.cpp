// An in-process server for activation tests: one class, found through the registry, that
// counts its live objects so tests can see when the module may unload.
#include <atomic>
#include <new>

#include "platform/winapi.h"
#include "support/ping_object.h"
#include "test_server.h"

namespace {

std::atomic<LONG> g_objects{0};
std::atomic<LONG> g_locks{0};

class ServerObject final : public ICjTestPing {
  public:
    ServerObject() { ++g_objects; }
    ~ServerObject() { --g_objects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICjTestPing)) {
            *ppv = static_cast<ICjTestPing*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_refs;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE Ping(LONG* value) override {
        *value = g_objects;
        return S_OK;
    }

  private:
    std::atomic<ULONG> m_refs{1};
};

class Factory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // A static factory: references held by clients keep the module locked.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++g_locks + 1); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--g_locks + 1); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        auto* object = new (std::nothrow) ServerObject;
        if (object == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }
};

Factory g_factory;

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
