// The standard global interface table: one per process, safe from any thread. Everything here is
// in one process and free-threaded, so a registration holds the object itself; what Windows
// would marshal is only checked for being marshalable.
#include <map>
#include <mutex>

#include "platform/nonwin/com_internal.h"

namespace {

inline bool is_system_interface(REFIID riid) {
    // Interfaces whose proxies the system ships; anything else needs the object's own IMarshal.
    return IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IStream) ||
           IsEqualIID(riid, IID_ISequentialStream) || IsEqualIID(riid, IID_IClassFactory);
}

class GlobalInterfaceTable final : public IGlobalInterfaceTable {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IGlobalInterfaceTable)) {
            *ppv = static_cast<IGlobalInterfaceTable*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The table lives as long as the process, as the system's does.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid,
                                                        DWORD* pdwCookie) override {
        if (pUnk == nullptr || pdwCookie == nullptr) {
            return E_INVALIDARG;
        }
        *pdwCookie = 0;
        IUnknown* held = nullptr;
        HRESULT hr = pUnk->QueryInterface(riid, reinterpret_cast<void**>(&held));
        if (FAILED(hr)) {
            return hr;
        }
        if (!is_system_interface(riid)) {
            IUnknown* marshal = nullptr;
            hr = pUnk->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal));
            if (FAILED(hr)) {
                held->Release();
                return E_NOINTERFACE;
            }
            marshal->Release();
        }
        std::lock_guard<std::mutex> guard(m_lock);
        // Cookies grow and are never reused while the process lives (after 2^32 registrations
        // they skip the ones still in use and 0).
        DWORD cookie;
        do {
            cookie = m_next++;
        } while (cookie == 0 || m_entries.count(cookie) != 0);
        m_entries[cookie] = held;
        *pdwCookie = cookie;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE RevokeInterfaceFromGlobal(DWORD dwCookie) override {
        IUnknown* held = hold(dwCookie, true);
        if (held == nullptr) {
            return E_INVALIDARG;
        }
        held->Release();  // outside the lock: the last release may run arbitrary code
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid,
                                                     void** ppv) override {
        if (ppv == nullptr) {
            return E_INVALIDARG;
        }
        *ppv = nullptr;
        IUnknown* held = hold(dwCookie, false);
        if (held == nullptr) {
            return E_INVALIDARG;
        }
        const HRESULT hr = held->QueryInterface(riid, ppv);
        held->Release();
        return hr;
    }

  private:
    // The object registered under the cookie (null for none) with a reference the caller
    // releases: the table's own when the entry is removed, else a new one.
    IUnknown* hold(DWORD cookie, bool remove) {
        std::lock_guard<std::mutex> guard(m_lock);
        const auto it = m_entries.find(cookie);
        if (it == m_entries.end()) {
            return nullptr;
        }
        IUnknown* held = it->second;
        if (remove) {
            m_entries.erase(it);
        } else {
            held->AddRef();
        }
        return held;
    }

    std::mutex m_lock;
    std::map<DWORD, IUnknown*> m_entries;
    DWORD m_next = 0x100;
};

}  // namespace

namespace platform_internal {

IGlobalInterfaceTable* global_interface_table() {
    static GlobalInterfaceTable* table = new GlobalInterfaceTable;
    return table;
}

}  // namespace platform_internal
