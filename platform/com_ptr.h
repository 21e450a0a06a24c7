// Counted interface pointer used on every platform, and the mapping from an interface type to its
// id (we do not rely on __uuidof).
#pragma once

#include <utility>

#include "platform/winapi.h"

namespace platform {

// Specialised with PLATFORM_INTERFACE_ID for each interface that ComPtr::query should know.
template <class I>
struct InterfaceIdOf;

#define PLATFORM_INTERFACE_ID(Interface, iid)            \
    template <>                                          \
    struct platform::InterfaceIdOf<Interface> {          \
        static const IID& get() noexcept { return iid; } \
    }

}  // namespace platform

PLATFORM_INTERFACE_ID(IUnknown, IID_IUnknown);

namespace platform {

// Holds one reference. Copying adds a reference, moving transfers it; comparison is by identity
// of the held pointer.
template <class T>
class ComPtr {
  public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Adds a reference: the caller keeps its own.
    explicit ComPtr(T* p) noexcept : m_p(p) { add_ref(); }
    // Adds a reference.
    ComPtr(const ComPtr& other) noexcept : m_p(other.m_p) { add_ref(); }
    // Takes over the other's reference; adds none.
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    // Takes over a reference the caller owns; adds none.
    static ComPtr attach(T* p) noexcept {
        ComPtr r;
        r.m_p = p;
        return r;
    }
    // Hands the reference to the caller; releases none.
    [[nodiscard]] T* detach() noexcept { return std::exchange(m_p, nullptr); }

    void reset() noexcept {
        if (T* p = std::exchange(m_p, nullptr)) {
            p->Release();
        }
    }
    // Releases the held reference and exposes the slot for an out-parameter.
    T** put() noexcept {
        reset();
        return &m_p;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    // Hands out a new reference (the out-parameter convention of COM).
    HRESULT copy_to(T** out) const noexcept {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = m_p;
        if (m_p) {
            m_p->AddRef();
        }
        return S_OK;
    }

    template <class U>
    HRESULT query(ComPtr<U>& out) const noexcept {
        return query(InterfaceIdOf<U>::get(), out);
    }
    template <class U>
    HRESULT query(REFIID iid, ComPtr<U>& out) const noexcept {
        if (m_p == nullptr) {
            out.reset();
            return E_POINTER;
        }
        return m_p->QueryInterface(iid, out.put_void());
    }

    void swap(ComPtr& other) noexcept { std::swap(m_p, other.m_p); }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.m_p == b.m_p; }
    friend bool operator!=(const ComPtr& a, const ComPtr& b) noexcept { return a.m_p != b.m_p; }

  private:
    void add_ref() noexcept {
        if (m_p) {
            m_p->AddRef();
        }
    }

    T* m_p = nullptr;
};

}  // namespace platform
