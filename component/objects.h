// The object wrappers of the component's class: the plain object, the aggregated object with its
// contained part, and the two-way creator used by the object map. T is a COM class whose
// InterfaceFor(riid) names its interfaces without adding a reference.
#pragma once

#include <atomic>
#include <new>

#include "component/module.h"
#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/winapi.h"

// T with its own (free-threaded, atomic) reference count, holding the module lock.
template <class T>
using CPlainObject = platform::ModuleLocked<T, ComponentModuleLock>;

// T inside an aggregate: every IUnknown call goes to the outer object, which owns the identity.
template <class T>
class CContainedObject final : public T {
  public:
    explicit CContainedObject(IUnknown* outer) noexcept : m_pOuter(outer) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return m_pOuter->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_pOuter->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_pOuter->Release(); }

  private:
    IUnknown* m_pOuter;  // not counted: the outer object owns us
};

// The inner, non-delegating unknown that the outer object holds; it owns the contained T.
template <class T>
class CAggregatedObject final : private platform::ModuleLock<ComponentModuleLock>, public IUnknown {
  public:
    explicit CAggregatedObject(IUnknown* outer) : m_contained(outer) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = m_contained.InterfaceFor(riid);
        if (*ppv == nullptr) {
            return E_NOINTERFACE;
        }
        m_contained.AddRef();  // the outer object's count, as for any of its interfaces
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_refs;
        if (left == 0) {
            delete this;
        }
        return left;
    }

  private:
    std::atomic<ULONG> m_refs{0};
    CContainedObject<T> m_contained;
};

// Creates T plain, or aggregated when outer is given (which then may ask for IUnknown only). The
// object is destroyed again when it does not answer riid.
template <class T>
HRESULT CreatePlainOrAggregated(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) {
        return CLASS_E_NOAGGREGATION;
    }
    platform::ComPtr<IUnknown> object;  // keeps it alive through the query
    try {
        if (outer != nullptr) {
            object = platform::ComPtr<IUnknown>(new CAggregatedObject<T>(outer));
        } else {
            object = platform::ComPtr<IUnknown>(
                static_cast<typename T::IdentityInterface*>(new CPlainObject<T>));
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
    return object->QueryInterface(riid, ppv);
}
