// COM activation: apartments, class objects registered in the process, in-process servers found
// through the registry, ProgIDs, and unloading of servers that allow it.
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/nonwin/com_internal.h"
#include "platform/module.h"
#include "platform/nonwin/module.h"
#include "platform/nonwin/objidl.h"

namespace {

struct Apartment {
    int inits = 0;
    DWORD model = COINIT_MULTITHREADED;
};
thread_local Apartment t_apartment;

struct ClassRegistration {
    DWORD cookie;
    CLSID clsid;
    DWORD context;
    IUnknown* object;  // holds one reference
};

struct LoadedServer {
    HMODULE module;  // holds one load reference
    std::u16string path;
};

// Process-wide state of the runtime. Never destroyed: servers and registrations may be used
// from static destructors of other libraries.
struct Runtime {
    std::mutex lock;
    int mtaInits = 0;
    DWORD nextCookie = 1;
    std::vector<ClassRegistration> classes;
    std::vector<LoadedServer> servers;
};

Runtime& runtime() {
    static Runtime* r = new Runtime;
    return *r;
}

typedef HRESULT(STDAPICALLTYPE* DllGetClassObjectFn)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDAPICALLTYPE* DllCanUnloadNowFn)();

template <class Fn>
Fn proc(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::u16string clsid_text(REFCLSID clsid) {
    OLECHAR buf[CHARS_IN_GUID];
    StringFromGUID2(clsid, buf, CHARS_IN_GUID);
    return std::u16string(buf);
}

// Reads the default value of HKCR\<path> as a string; false when the key or value is missing.
bool read_default_string(const std::u16string& path, std::u16string& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD bytes = 0;
    LSTATUS status = RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &bytes);
    if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
        std::vector<WCHAR> buf(bytes / sizeof(WCHAR) + 1, 0);
        status = RegQueryValueExW(key, nullptr, nullptr, &type,
                                  reinterpret_cast<LPBYTE>(buf.data()), &bytes);
        if (status == ERROR_SUCCESS) {
            out.assign(buf.data());
        }
    } else if (status == ERROR_SUCCESS) {
        status = ERROR_FILE_NOT_FOUND;
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool key_exists(const std::u16string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

HRESULT class_object_from_server_unguarded(REFCLSID clsid, REFIID riid, void** ppv) {
    const std::u16string clsidKey = u"CLSID\\" + clsid_text(clsid);
    std::u16string path;
    if (!key_exists(clsidKey) || !read_default_string(clsidKey + u"\\InprocServer32", path) ||
        path.empty()) {
        return REGDB_E_CLASSNOTREG;
    }
    Runtime& rt = runtime();
    HMODULE module = nullptr;
    {
        std::lock_guard<std::mutex> guard(rt.lock);
        for (const LoadedServer& s : rt.servers) {
            if (s.path == path) {
                module = s.module;
                break;
            }
        }
    }
    if (module == nullptr) {
        platform::UniqueModule loaded(LoadLibraryW(path.c_str()));
        if (!loaded) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        std::lock_guard<std::mutex> guard(rt.lock);
        rt.servers.push_back({loaded.get(), path});
        module = loaded.release();
    }
    auto getClassObject = proc<DllGetClassObjectFn>(module, "DllGetClassObject");
    if (getClassObject == nullptr) {
        return CO_E_ERRORINDLL;
    }
    return getClassObject(clsid, riid, ppv);
}

// The answer the system gives when its own bookkeeping cannot be allocated, instead of an
// exception escaping through the C entry points.
HRESULT class_object_from_server(REFCLSID clsid, REFIID riid, void** ppv) noexcept {
    try {
        return class_object_from_server_unguarded(clsid, riid, ppv);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT registered_class_object(REFCLSID clsid, DWORD context, REFIID riid, void** ppv,
                                bool& found) {
    IUnknown* object = nullptr;
    {
        Runtime& rt = runtime();
        std::lock_guard<std::mutex> guard(rt.lock);
        for (const ClassRegistration& r : rt.classes) {
            if (IsEqualCLSID(r.clsid, clsid) && (r.context & context) != 0) {
                object = r.object;
                object->AddRef();
                break;
            }
        }
    }
    found = object != nullptr;
    if (!found) {
        return REGDB_E_CLASSNOTREG;
    }
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

}  // namespace

namespace platform_internal {

bool com_initialized() {
    if (t_apartment.inits > 0) {
        return true;
    }
    // Threads that never initialized COM belong to the process's multithreaded apartment while
    // one exists, as on Windows.
    Runtime& rt = runtime();
    std::lock_guard<std::mutex> guard(rt.lock);
    return rt.mtaInits > 0;
}

}  // namespace platform_internal

HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit) {
    const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    Apartment& a = t_apartment;
    if (a.inits > 0) {
        if (a.model != model) {
            return RPC_E_CHANGED_MODE;
        }
        ++a.inits;
        return S_FALSE;
    }
    a.inits = 1;
    a.model = model;
    if (model == COINIT_MULTITHREADED) {
        Runtime& rt = runtime();
        std::lock_guard<std::mutex> guard(rt.lock);
        ++rt.mtaInits;
    }
    return S_OK;
}

HRESULT CoInitialize(LPVOID reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() {
    Apartment& a = t_apartment;
    if (a.inits == 0) {
        return;
    }
    if (--a.inits == 0 && a.model == COINIT_MULTITHREADED) {
        Runtime& rt = runtime();
        std::lock_guard<std::mutex> guard(rt.lock);
        --rt.mtaInits;
    }
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD,
                              LPDWORD lpdwRegister) {
    if (pUnk == nullptr || lpdwRegister == nullptr) {
        return E_INVALIDARG;
    }
    if (!platform_internal::com_initialized()) {
        return CO_E_NOTINITIALIZED;
    }
    Runtime& rt = runtime();
    std::lock_guard<std::mutex> guard(rt.lock);
    pUnk->AddRef();
    const DWORD cookie = rt.nextCookie++;
    rt.classes.push_back({cookie, rclsid, dwClsContext, pUnk});
    *lpdwRegister = cookie;
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
    IUnknown* object = nullptr;
    {
        Runtime& rt = runtime();
        std::lock_guard<std::mutex> guard(rt.lock);
        for (auto it = rt.classes.begin(); it != rt.classes.end(); ++it) {
            if (it->cookie == dwRegister) {
                object = it->object;
                rt.classes.erase(it);
                break;
            }
        }
    }
    if (object == nullptr) {
        return E_INVALIDARG;
    }
    object->Release();  // outside the lock: the object may revoke or register in its destructor
    return S_OK;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO*, REFIID riid,
                         LPVOID* ppv) {
    if (ppv == nullptr) {
        return E_INVALIDARG;
    }
    *ppv = nullptr;
    if (!platform_internal::com_initialized()) {
        return CO_E_NOTINITIALIZED;
    }
    bool found = false;
    const HRESULT hr = registered_class_object(rclsid, dwClsContext, riid, ppv, found);
    if (found) {
        return hr;
    }
    if (dwClsContext & CLSCTX_INPROC_SERVER) {
        return class_object_from_server(rclsid, riid, ppv);
    }
    return REGDB_E_CLASSNOTREG;
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!platform_internal::com_initialized()) {
        return CO_E_NOTINITIALIZED;
    }
    if (IsEqualCLSID(rclsid, CLSID_StdGlobalInterfaceTable)) {
        if (pUnkOuter != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return platform_internal::global_interface_table()->QueryInterface(riid, ppv);
    }
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) {
        return hr;
    }
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}

namespace {

HRESULT clsid_from_progid(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    std::u16string progid(lpszProgID);
    // A version-independent ProgID names the current version under CurVer; a short chain
    // guards against a CurVer that points back at itself.
    for (int hops = 0; hops < 8 && !progid.empty(); ++hops) {
        std::u16string text;
        if (read_default_string(progid + u"\\CLSID", text)) {
            return CLSIDFromString(text.c_str(), lpclsid) == S_OK ? S_OK : CO_E_CLASSSTRING;
        }
        std::u16string next;
        if (!read_default_string(progid + u"\\CurVer", next)) {
            break;
        }
        progid = next;
    }
    return CO_E_CLASSSTRING;
}

void free_unused_libraries() {
    std::vector<LoadedServer> candidates;
    Runtime& rt = runtime();
    {
        std::lock_guard<std::mutex> guard(rt.lock);
        candidates = rt.servers;
    }
    for (const LoadedServer& s : candidates) {
        auto canUnload = proc<DllCanUnloadNowFn>(s.module, "DllCanUnloadNow");
        if (canUnload == nullptr || canUnload() != S_OK) {
            continue;
        }
        bool owned = false;
        {
            std::lock_guard<std::mutex> guard(rt.lock);
            for (auto it = rt.servers.begin(); it != rt.servers.end(); ++it) {
                if (it->module == s.module) {
                    rt.servers.erase(it);
                    owned = true;
                    break;
                }
            }
        }
        if (owned) {
            FreeLibrary(s.module);
        }
    }
}

}  // namespace

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (lpszProgID == nullptr || lpclsid == nullptr) {
        return E_INVALIDARG;
    }
    try {
        return clsid_from_progid(lpszProgID, lpclsid);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

void CoFreeUnusedLibraries() {
    try {
        free_unused_libraries();
    } catch (const std::bad_alloc&) {
        // Nothing freed this time; the servers stay loaded until a later call.
    }
}
