// The module object: object map look-up and the cache of class objects.
#include "component/module.h"

#include <new>

#include "component/class_factory.h"

CComponentModule::~CComponentModule() {
    Term();
}

void CComponentModule::Init(const ObjectMapEntry* map, size_t count, HINSTANCE instance) noexcept {
    std::lock_guard<std::mutex> guard(m_FactoryLock);
    m_pMap = map;
    m_nMap = count < kMaxClasses ? count : kMaxClasses;
    m_hInst = instance;
}

void CComponentModule::Term() noexcept {
    IClassFactory* released[kMaxClasses] = {};
    {
        std::lock_guard<std::mutex> guard(m_FactoryLock);
        for (size_t i = 0; i < kMaxClasses; ++i) {
            released[i] = m_Factories[i];
            m_Factories[i] = nullptr;
        }
    }
    for (IClassFactory* factory : released) {
        if (factory != nullptr) {
            factory->Release();  // the cache's reference; clients may still hold theirs
        }
    }
}

HRESULT CComponentModule::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_FactoryLock);
        for (size_t i = 0; i < m_nMap; ++i) {
            if (!IsEqualCLSID(*m_pMap[i].clsid, clsid)) {
                continue;
            }
            if (m_Factories[i] == nullptr) {
                m_Factories[i] = new (std::nothrow) CCachedClassFactory(m_pMap[i].create);
                if (m_Factories[i] == nullptr) {
                    return E_OUTOFMEMORY;
                }
            }
            factory = m_Factories[i];
            break;
        }
        if (factory == nullptr) {
            return CLASS_E_CLASSNOTAVAILABLE;
        }
        // Under the lock, so that Term cannot release the cache's reference in between.
        return factory->QueryInterface(riid, ppv);
    }
}
