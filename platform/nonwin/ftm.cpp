// The free-threaded marshaler: aggregated by objects that may be used from any thread, it
// marshals an interface within the process as its plain pointer.
#include <atomic>
#include <cstring>
#include <new>

#include "platform/nonwin/com_internal.h"

namespace {

// Wire form inside the process: the marshal flags, then the interface pointer.
struct MarshalRecord {
    DWORD flags;
    DWORD reserved;
    void* pointer;
};

class FreeThreadedMarshaler final : public IMarshal {
  public:
    explicit FreeThreadedMarshaler(IUnknown* outer)
        : m_inner(this), m_outer(outer ? outer : &m_inner) {}

    IUnknown* inner() { return &m_inner; }

    // IMarshal's IUnknown delegates to the aggregating object.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return m_outer->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_outer->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_outer->Release(); }

    HRESULT STDMETHODCALLTYPE GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD,
                                                CLSID* pCid) override {
        if (pCid == nullptr) {
            return E_INVALIDARG;
        }
        *pCid = CLSID_InProcFreeMarshaler;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD,
                                                DWORD* pSize) override {
        if (pSize == nullptr) {
            return E_INVALIDARG;
        }
        *pSize = sizeof(MarshalRecord);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MarshalInterface(IStream* pStm, REFIID riid, void* pv, DWORD, void*,
                                               DWORD mshlflags) override {
        if (pStm == nullptr || pv == nullptr) {
            return E_INVALIDARG;
        }
        void* itf = nullptr;
        HRESULT hr = static_cast<IUnknown*>(pv)->QueryInterface(riid, &itf);
        if (FAILED(hr)) {
            return hr;
        }
        // The reference taken by the query travels with the marshaled data.
        MarshalRecord record{mshlflags, 0, itf};
        hr = pStm->Write(&record, sizeof record, nullptr);
        if (FAILED(hr)) {
            static_cast<IUnknown*>(itf)->Release();
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE UnmarshalInterface(IStream* pStm, REFIID riid, void** ppv) override {
        if (pStm == nullptr || ppv == nullptr) {
            return E_INVALIDARG;
        }
        *ppv = nullptr;
        MarshalRecord record{};
        HRESULT hr = read_record(pStm, record);
        if (FAILED(hr)) {
            return hr;
        }
        auto* itf = static_cast<IUnknown*>(record.pointer);
        hr = itf->QueryInterface(riid, ppv);
        // Normal marshaling hands its reference over once; table marshaling keeps it for
        // further unmarshals until ReleaseMarshalData.
        if (record.flags == MSHLFLAGS_NORMAL) {
            itf->Release();
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE ReleaseMarshalData(IStream* pStm) override {
        if (pStm == nullptr) {
            return E_INVALIDARG;
        }
        MarshalRecord record{};
        const HRESULT hr = read_record(pStm, record);
        if (SUCCEEDED(hr)) {
            static_cast<IUnknown*>(record.pointer)->Release();
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE DisconnectObject(DWORD) override { return S_OK; }

  private:
    static HRESULT read_record(IStream* pStm, MarshalRecord& record) {
        ULONG read = 0;
        const HRESULT hr = pStm->Read(&record, sizeof record, &read);
        if (FAILED(hr)) {
            return hr;
        }
        return read == sizeof record && record.pointer != nullptr ? S_OK : E_UNEXPECTED;
    }

    // The non-delegating unknown the aggregating object holds; it owns the marshaler.
    class Inner final : public IUnknown {
      public:
        explicit Inner(FreeThreadedMarshaler* owner) : m_owner(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            if (ppv == nullptr) {
                return E_POINTER;
            }
            if (IsEqualIID(riid, IID_IUnknown)) {
                *ppv = static_cast<IUnknown*>(this);
            } else if (IsEqualIID(riid, IID_IMarshal)) {
                *ppv = static_cast<IMarshal*>(m_owner);
            } else {
                *ppv = nullptr;
                return E_NOINTERFACE;
            }
            static_cast<IUnknown*>(*ppv)->AddRef();
            return S_OK;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
        ULONG STDMETHODCALLTYPE Release() override {
            const ULONG left = --m_refs;
            if (left == 0) {
                delete m_owner;
            }
            return left;
        }

      private:
        FreeThreadedMarshaler* m_owner;
        std::atomic<ULONG> m_refs{1};
    };

    Inner m_inner;
    IUnknown* m_outer;
};

}  // namespace

HRESULT CoCreateFreeThreadedMarshaler(LPUNKNOWN punkOuter, LPUNKNOWN* ppunkMarshal) {
    if (ppunkMarshal == nullptr) {
        return E_INVALIDARG;
    }
    auto* ftm = new (std::nothrow) FreeThreadedMarshaler(punkOuter);
    *ppunkMarshal = ftm != nullptr ? ftm->inner() : nullptr;
    return ftm != nullptr ? S_OK : E_OUTOFMEMORY;
}
