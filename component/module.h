// The module object of the component: its instance handle, its lock count (live objects, server
// locks and class objects held by clients) and its object map of creatable classes.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/winapi.h"

// Creates an object of one class, plain or aggregated (outer != nullptr), and queries it for riid.
typedef HRESULT (*ObjectCreatorFn)(IUnknown* outer, REFIID riid, void** ppv);

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
    static constexpr size_t kMaxClasses = 1;

    std::atomic<LONG> m_nLockCnt{0};
    HINSTANCE m_hInst = nullptr;
    const ObjectMapEntry* m_pMap = nullptr;
    size_t m_nMap = 0;
    std::mutex m_FactoryLock;
    IClassFactory* m_Factories[kMaxClasses] = {};  // each holds the cache's one reference
};

// The one module object of this module.
CComponentModule& ComponentModule() noexcept;

// Holds one module lock for its lifetime. Objects derive from it first, so that the lock is taken
// before and dropped after everything else of the object: the module cannot be unloaded while an
// object's destructor still runs in it.
class CModuleLockHolder {
  protected:
    CModuleLockHolder() noexcept { ComponentModule().Lock(); }
    ~CModuleLockHolder() { ComponentModule().Unlock(); }
    CModuleLockHolder(const CModuleLockHolder&) = delete;
    CModuleLockHolder& operator=(const CModuleLockHolder&) = delete;
};
