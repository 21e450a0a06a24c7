// Owners for the OLE Automation resources and task memory, used on every platform. One owner per
// resource; copies are explicit calls; allocation failures throw std::bad_alloc, which the
// exception boundary of every interface method turns into an HRESULT.
#pragma once

#include <cstring>
#include <new>
#include <utility>

#include "platform/winapi.h"

namespace platform {

// A handle-like value plus its cleanup function. Traits supplies invalid() and close(T).
template <class T, class Traits>
class UniqueResource {
  public:
    UniqueResource() noexcept = default;
    // Takes ownership of v.
    explicit UniqueResource(T v) noexcept : m_v(v) {}
    UniqueResource(UniqueResource&& other) noexcept : m_v(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { reset(); }

    T get() const noexcept { return m_v; }
    explicit operator bool() const noexcept { return m_v != Traits::invalid(); }

    // Closes the held value and takes ownership of v.
    void reset(T v = Traits::invalid()) noexcept {
        T old = std::exchange(m_v, v);
        if (old != Traits::invalid()) {
            Traits::close(old);
        }
    }
    // Gives up ownership without closing.
    [[nodiscard]] T release() noexcept { return std::exchange(m_v, Traits::invalid()); }
    // Closes the held value and exposes the slot for an out-parameter.
    T* put() noexcept {
        reset();
        return &m_v;
    }
    void swap(UniqueResource& other) noexcept { std::swap(m_v, other.m_v); }

  private:
    T m_v = Traits::invalid();
};

struct BstrTraits {
    static BSTR invalid() noexcept { return nullptr; }
    static void close(BSTR b) noexcept { SysFreeString(b); }
};

class UniqueBstr : public UniqueResource<BSTR, BstrTraits> {
  public:
    using UniqueResource::UniqueResource;

    // Allocates a copy of a null-terminated string; a null source stays null.
    static UniqueBstr from(const OLECHAR* s) {
        UniqueBstr r;
        if (s != nullptr) {
            r.reset(check(SysAllocString(s)));
        }
        return r;
    }
    // Allocates a copy of len characters (s may be null: the string is then zero-filled).
    static UniqueBstr from(const OLECHAR* s, UINT len) {
        return UniqueBstr(check(SysAllocStringLen(s, len)));
    }
    // Byte-exact copy, embedded nulls and odd byte lengths included; a null source stays null.
    UniqueBstr copy() const {
        UniqueBstr r;
        if (get() != nullptr) {
            r.reset(check(
                SysAllocStringByteLen(reinterpret_cast<LPCSTR>(get()), SysStringByteLen(get()))));
        }
        return r;
    }
    UINT length() const noexcept { return SysStringLen(get()); }

  private:
    static BSTR check(BSTR b) {
        if (b == nullptr) {
            throw std::bad_alloc();
        }
        return b;
    }
};

struct SafeArrayTraits {
    static SAFEARRAY* invalid() noexcept { return nullptr; }
    // A locked array refuses destruction; that is a caller's bug (an access scope outliving its
    // owner) and the array is then left alone rather than freed under a user.
    static void close(SAFEARRAY* psa) noexcept { (void)SafeArrayDestroy(psa); }
};

class UniqueSafeArray : public UniqueResource<SAFEARRAY*, SafeArrayTraits> {
  public:
    using UniqueResource::UniqueResource;

    // Deep copy (elements' BSTRs, VARIANTs and interface references included).
    HRESULT copy_to(UniqueSafeArray& out) const noexcept { return SafeArrayCopy(get(), out.put()); }
};

template <class T>
struct TaskMemTraits {
    static T* invalid() noexcept { return nullptr; }
    static void close(T* p) noexcept { CoTaskMemFree(p); }
};

// Task memory: what is handed to clients, who free it with CoTaskMemFree.
template <class T>
class UniqueTaskMem : public UniqueResource<T*, TaskMemTraits<T>> {
  public:
    using UniqueResource<T*, TaskMemTraits<T>>::UniqueResource;

    // Zero-filled room for count elements of T.
    static UniqueTaskMem allocate(SIZE_T count) {
        if (count > static_cast<SIZE_T>(-1) / sizeof(T)) {
            throw std::bad_alloc();
        }
        const SIZE_T bytes = count * sizeof(T);
        void* p = CoTaskMemAlloc(bytes == 0 ? 1 : bytes);
        if (p == nullptr) {
            throw std::bad_alloc();
        }
        std::memset(p, 0, bytes);
        return UniqueTaskMem(static_cast<T*>(p));
    }
};

// Contains its VARIANT rather than deriving from it: a derived owner would convert silently to
// VARIANT, and such a shallow copy of a BSTR or array would be freed twice.
class UniqueVariant {
  public:
    UniqueVariant() noexcept { VariantInit(&m_v); }
    // Takes ownership of v's contents and leaves v empty.
    explicit UniqueVariant(VARIANT& v) noexcept : m_v(v) { VariantInit(&v); }
    UniqueVariant(UniqueVariant&& other) noexcept : m_v(other.release()) {}
    UniqueVariant& operator=(UniqueVariant&& other) noexcept {
        if (this != &other) {
            reset();
            m_v = other.release();
        }
        return *this;
    }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { reset(); }

    VARIANT* get() noexcept { return &m_v; }
    const VARIANT* get() const noexcept { return &m_v; }
    VARIANT* operator->() noexcept { return &m_v; }
    const VARIANT* operator->() const noexcept { return &m_v; }
    VARTYPE vt() const noexcept { return m_v.vt; }

    void reset() noexcept {
        (void)VariantClear(&m_v);
        VariantInit(&m_v);
    }
    // Gives the contents to the caller, who must clear them; leaves this empty.
    [[nodiscard]] VARIANT release() noexcept {
        VARIANT v = m_v;
        VariantInit(&m_v);
        return v;
    }
    // Clears the contents and exposes the VARIANT for an out-parameter.
    VARIANT* put() noexcept {
        reset();
        return &m_v;
    }
    // Deep copy of src into this.
    HRESULT copy_from(const VARIANT* src) noexcept { return VariantCopy(&m_v, src); }
    // Deep copy of this into dest, whose old contents are cleared.
    HRESULT copy_to(VARIANT* dest) const noexcept { return VariantCopy(dest, &m_v); }

  private:
    VARIANT m_v;
};

// Ties SafeArrayAccessData to SafeArrayUnaccessData: while it lives, the array is locked and
// cannot be destroyed or redimensioned.
template <class T>
class SafeArrayDataAccess {
  public:
    explicit SafeArrayDataAccess(SAFEARRAY* psa) noexcept : m_psa(psa) {
        void* data = nullptr;
        m_hr = SafeArrayAccessData(psa, &data);
        if (SUCCEEDED(m_hr)) {
            m_data = static_cast<T*>(data);
        } else {
            m_psa = nullptr;
        }
    }
    SafeArrayDataAccess(const SafeArrayDataAccess&) = delete;
    SafeArrayDataAccess& operator=(const SafeArrayDataAccess&) = delete;
    ~SafeArrayDataAccess() {
        if (m_psa != nullptr) {
            (void)SafeArrayUnaccessData(m_psa);
        }
    }

    HRESULT hr() const noexcept { return m_hr; }
    T* data() const noexcept { return m_data; }
    T& operator[](SIZE_T i) const noexcept { return m_data[i]; }

  private:
    SAFEARRAY* m_psa;
    T* m_data = nullptr;
    HRESULT m_hr;
};

}  // namespace platform
