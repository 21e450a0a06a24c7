// The module object of the component: its instance handle, its lock count (live objects, server
// locks and class objects held by clients) and its object map of creatable classes.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/winapi.h"

using platform::ObjectCreatorFn;

struct ObjectMapEntry {
    const CLSID* clsid;
    ObjectCreatorFn create;
};

class CComponentModule {
  public:
    CComponentModule() = default;
    ~CComponentModule();
    CComponentModule(const CComponentModule&) = delete;
    CComponentModule& operator=(const CComponentModule&) = delete;

    void Init(const ObjectMapEntry* map, size_t count, HINSTANCE instance) noexcept;
    // Releases the cached class objects.
    void Term() noexcept;

    LONG Lock() noexcept { return ++m_nLockCnt; }
    LONG Unlock() noexcept { return --m_nLockCnt; }
    LONG GetLockCount() const noexcept { return m_nLockCnt; }
    HINSTANCE GetModuleInstance() const noexcept { return m_hInst; }

    // The cached class object of a class in the map; CLASS_E_CLASSNOTAVAILABLE for others.
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept;

  private:
    std::atomic<LONG> m_nLockCnt{0};
    HINSTANCE m_hInst = nullptr;
    const ObjectMapEntry* m_pMap = nullptr;
    size_t m_nMap = 0;
    std::mutex m_FactoryLock;
    // By map index, made on first request; each holds the module's one reference.
    std::vector<platform::ComPtr<IClassFactory>> m_Factories;
};

// The one module object of this module.
CComponentModule& ComponentModule() noexcept;

// The lock of this module's objects, for the templates of platform/com_object.h.
struct ComponentModuleLock {
    static void Lock() noexcept { ComponentModule().Lock(); }
    static void Unlock() noexcept { ComponentModule().Unlock(); }
};
