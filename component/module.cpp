// The module object: object map look-up and the cache of class objects.
#include "component/module.h"

#include <new>
#include <utility>

CComponentModule::~CComponentModule() {
    Term();
}

void CComponentModule::Init(const ObjectMapEntry* map, size_t count, HINSTANCE instance) noexcept {
    std::lock_guard<std::mutex> guard(m_FactoryLock);
    m_pMap = map;
    m_nMap = count;
    m_hInst = instance;
}

void CComponentModule::Term() noexcept {
    std::vector<platform::ComPtr<IClassFactory>> released;
    {
        std::lock_guard<std::mutex> guard(m_FactoryLock);
        released.swap(m_Factories);
    }
    // The cache's references go here, outside the lock; clients may still hold theirs.
}

HRESULT CComponentModule::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    std::lock_guard<std::mutex> guard(m_FactoryLock);
    for (size_t i = 0; i < m_nMap; ++i) {
        if (!IsEqualCLSID(*m_pMap[i].clsid, clsid)) {
            continue;
        }
        try {
            m_Factories.resize(m_nMap);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        platform::ComPtr<IClassFactory>& factory = m_Factories[i];
        if (!factory) {
            auto* made =
                new (std::nothrow) platform::ClassObject<ComponentModuleLock>(m_pMap[i].create);
            if (made == nullptr) {
                return E_OUTOFMEMORY;
            }
            factory = platform::ComPtr<IClassFactory>::attach(made);  // born with the module's
        }
        // Under the lock, so that Term cannot release the cache's reference in between.
        return factory->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}
