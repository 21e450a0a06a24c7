// The one IUnknown of the tree's COM classes, and the class object that creates them. An object
// lists its interfaces; the first answers IUnknown. Its count is atomic, so every object may be
// used free-threaded; what happens at zero is the policy's.
#pragma once

#include <atomic>
#include <new>

#include "platform/com_ptr.h"
#include "platform/winapi.h"

PLATFORM_INTERFACE_ID(IClassFactory, IID_IClassFactory);
PLATFORM_INTERFACE_ID(IStream, IID_IStream);

namespace platform {

// Made with no reference: its first owner adds one (ComPtr<T>(new T)); the last Release deletes.
struct DeleteAtZero {
    static constexpr ULONG kInitialRefs = 0;
    static void AddedRef(ULONG) noexcept {}
    template <class Object>
    static void Released(Object* object, ULONG left) noexcept {
        if (left == 0) {
            delete object;
        }
    }
};

// Owned by whoever declared it (a stack frame, a member): born with that owner's reference, and
// never deleted by its count, which tests read to check the balance of others' references.
struct CallerOwned {
    static constexpr ULONG kInitialRefs = 1;
    static void AddedRef(ULONG) noexcept {}
    template <class Object>
    static void Released(Object*, ULONG) noexcept {}
};

// IUnknown for Derived over the interfaces it lists; Policy is DeleteAtZero, CallerOwned or (for
// class objects) HeldByModule.
template <class Derived, class Policy, class First, class... Rest>
class ComObject : public First, public Rest... {
  public:
    // The interface that answers IUnknown: the object's identity.
    using IdentityInterface = First;

    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = InterfaceFor(riid);
        if (*ppv != nullptr) {
            AddRef();
            return S_OK;
        }
        if (m_ftm && IsEqualIID(riid, IID_IMarshal)) {
            return m_ftm->QueryInterface(riid, ppv);
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        const ULONG refs = ++m_refs;
        Policy::AddedRef(refs);
        return refs;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_refs;
        Policy::Released(this, left);
        return left;
    }

    // The listed interface answering riid, without a reference added (nullptr when none does);
    // the aggregation wrapper builds its own IUnknown on it.
    void* InterfaceFor(REFIID riid) noexcept {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, InterfaceIdOf<First>::get())) {
            return static_cast<First*>(this);
        }
        void* found = nullptr;
        (void)((IsEqualIID(riid, InterfaceIdOf<Rest>::get()) &&
                (found = static_cast<Rest*>(this), true)) ||
               ...);
        return found != nullptr ? found : static_cast<Derived*>(this)->BaseInterfaceFor(riid);
    }

    // Derived hides this to answer the ids of a listed interface's own bases, which cannot be
    // listed beside it.
    void* BaseInterfaceFor(REFIID) noexcept { return nullptr; }

    ULONG refs() const noexcept { return m_refs; }

  protected:
    ComObject() noexcept = default;
    virtual ~ComObject() = default;

    // Answers IMarshal with the free-threaded marshaler, as free-threaded in-process clients do.
    // The marshaler holds our identity without a reference.
    HRESULT AggregateFreeThreadedMarshaler() noexcept {
        return CoCreateFreeThreadedMarshaler(static_cast<First*>(this), m_ftm.put());
    }

  private:
    friend Policy;  // deletes at its own count

    std::atomic<ULONG> m_refs{Policy::kInitialRefs};
    ComPtr<IUnknown> m_ftm;
};

// Module is a type with static Lock() and Unlock(): the count of live objects, server locks and
// class-object references held by clients, that keeps the module loaded.

// Holds one module lock for its lifetime.
template <class Module>
class ModuleLock {
  protected:
    ModuleLock() noexcept { Module::Lock(); }
    ~ModuleLock() { Module::Unlock(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
};

// Object holding the module lock: taken before and dropped after everything else of the object,
// so that the module cannot be unloaded while the object's destructor still runs in it.
template <class Object, class Module>
class ModuleLocked final : private ModuleLock<Module>, public Object {
  public:
    using Object::Object;
};

// The class object's count: the module holds one reference for as long as it is loaded; only
// references beyond that one, held by clients, keep the module locked.
template <class Module>
struct HeldByModule {
    static constexpr ULONG kInitialRefs = 1;
    static void AddedRef(ULONG refs) noexcept {
        if (refs == 2) {
            Module::Lock();
        }
    }
    template <class Object>
    static void Released(Object* object, ULONG left) noexcept {
        if (left == 1) {
            Module::Unlock();
        } else if (left == 0) {
            delete object;
        }
    }
};

// Creates an object of one class, plain or aggregated (outer != nullptr), and queries it for riid.
typedef HRESULT (*ObjectCreatorFn)(IUnknown* outer, REFIID riid, void** ppv);

// Creates a default-constructed Object holding the module lock; no aggregation.
template <class Object, class Module>
HRESULT CreateModuleLocked(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    ComPtr<Object> held;  // deletes it again when it does not answer riid
    try {
        // The constructor may allocate too: its failure is an answer, not an escape.
        held = ComPtr<Object>(new ModuleLocked<Object, Module>);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return held->QueryInterface(riid, ppv);
}

// The class object of one class of a module.
template <class Module>
class ClassObject final
    : public ComObject<ClassObject<Module>, HeldByModule<Module>, IClassFactory> {
  public:
    explicit ClassObject(ObjectCreatorFn create) noexcept : m_create(create) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) {
            return CLASS_E_NOAGGREGATION;
        }
        return m_create(outer, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            Module::Lock();
        } else {
            Module::Unlock();
        }
        return S_OK;
    }

  private:
    ObjectCreatorFn m_create;
};

}  // namespace platform
