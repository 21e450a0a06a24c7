// What every COM class stand-in module needs: its lock count, a class factory, and the
// registration of an in-process server under HKEY_CLASSES_ROOT\CLSID.
#pragma once

#include <atomic>
#include <new>
#include <string>

#include "platform/winapi.h"

namespace engsys {

// Live objects and server locks of this module (each module has its own copy).
inline std::atomic<LONG>& ModuleLocks() noexcept {
    static std::atomic<LONG> locks{0};
    return locks;
}

// Creates Object (default-constructed, reference count 1, counted in ModuleLocks) on request.
template <class Object>
class ClassFactory final : public IClassFactory {
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
    // Static: references held by clients keep the module loaded.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++ModuleLocks() + 1); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--ModuleLocks() + 1); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        Object* object = new (std::nothrow) Object;
        if (object == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? ++ModuleLocks() : --ModuleLocks();
        return S_OK;
    }
};

// Writes CLSID\{clsid}\InprocServer32 = the module holding `anchor`, with its threading model.
inline HRESULT RegisterInprocServer(const CLSID& clsid, const void* anchor, const OLECHAR* name,
                                    const OLECHAR* threadingModel) noexcept {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(anchor), &self)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    OLECHAR path[4096];
    const DWORD n = GetModuleFileNameW(self, path, 4096);
    if (n == 0 || n >= 4096) {
        return E_FAIL;
    }
    OLECHAR guid[CHARS_IN_GUID];
    StringFromGUID2(clsid, guid, CHARS_IN_GUID);
    const std::basic_string<OLECHAR> key = std::basic_string<OLECHAR>(OLESTR("CLSID\\")) + guid;
    struct Value {
        std::basic_string<OLECHAR> key;
        const OLECHAR* name;
        const OLECHAR* data;
    };
    const Value values[] = {
        {key, nullptr, name},
        {key + OLESTR("\\InprocServer32"), nullptr, path},
        {key + OLESTR("\\InprocServer32"), OLESTR("ThreadingModel"), threadingModel}};
    for (const Value& v : values) {
        HKEY hkey = nullptr;
        LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, v.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &hkey, nullptr);
        if (rc == ERROR_SUCCESS) {
            size_t len = 0;
            while (v.data[len] != 0) {
                ++len;
            }
            rc = RegSetValueExW(hkey, v.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.data),
                                static_cast<DWORD>((len + 1) * sizeof(OLECHAR)));
            RegCloseKey(hkey);
        }
        if (rc != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(rc);
        }
    }
    return S_OK;
}

inline HRESULT UnregisterInprocServer(const CLSID& clsid) noexcept {
    OLECHAR guid[CHARS_IN_GUID];
    StringFromGUID2(clsid, guid, CHARS_IN_GUID);
    const std::basic_string<OLECHAR> key = std::basic_string<OLECHAR>(OLESTR("CLSID\\")) + guid;
    const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        return HRESULT_FROM_WIN32(rc);
    }
    (void)RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    return S_OK;
}

}  // namespace engsys
