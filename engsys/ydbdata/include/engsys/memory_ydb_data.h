// A YDB data object held in its owner's memory: the byte layout and answers of the data object
// class (docs/ydbdata.md) through IYDB_Data alone, without a class activation, a lock or a call
// log, for fuzz targets and for tests of the path a data object without IYDB_DataDirect takes.
#pragma once

#include <new>
#include <vector>

#include "engsys/ydb_byte_store.h"
#include "ydb_data.h"

namespace engsys {

class MemoryYdbData final : public IYDB_Data {
  public:
    MemoryYdbData() = default;
    explicit MemoryYdbData(const std::vector<BYTE>& bytes) : m_store(bytes.data(), bytes.size()) {}
    MemoryYdbData(const BYTE* data, size_t size) : m_store(data, size) {}
    MemoryYdbData(const MemoryYdbData&) = delete;
    MemoryYdbData& operator=(const MemoryYdbData&) = delete;

    const std::vector<BYTE>& bytes() const { return m_store.bytes(); }

    // Lives in its owner: references are counted but never delete it.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IYDB_Data)) {
            *ppv = static_cast<IYDB_Data*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }

    HRESULT STDMETHODCALLTYPE GetByteCount(ULONG* pCount) override {
        return answer(pCount, m_store.byteCount());
    }
    HRESULT STDMETHODCALLTYPE WriteElements(const void* pData, ULONG count, ULONG width,
                                            ULONG typeCode) override {
        try {
            return m_store.write(pData, count, width, typeCode);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT STDMETHODCALLTYPE ReadElements(void** ppBuffer, ULONG count, ULONG width,
                                           ULONG typeCode) override {
        return m_store.readAllocated(ppBuffer, count, width, typeCode);
    }
    HRESULT STDMETHODCALLTYPE ReadContents(ULONG*, BYTE**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WriteContents(const BYTE*, ULONG, ULONG, ULONG) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE InitData(ULONG, ULONG, ULONG, ULONG, ULONG) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reserved10() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved11() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Seek(ULONG position, ULONG origin, ULONG* pNewPosition) override {
        return m_store.seek(position, origin, pNewPosition);
    }
    HRESULT STDMETHODCALLTYPE GetPosition(ULONG* pPosition) override {
        return answer(pPosition, m_store.position());
    }
    HRESULT STDMETHODCALLTYPE Touch() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reserved15() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsWritable(ULONG* pWritable) override { return answer(pWritable, 1); }
    HRESULT STDMETHODCALLTYPE Reserved17() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved18() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved19() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetByteCount(ULONG count) override {
        try {
            return m_store.setByteCount(count);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

  private:
    static HRESULT answer(ULONG* pOut, ULONG value) {
        if (pOut == nullptr) {
            return E_POINTER;
        }
        *pOut = value;
        return S_OK;
    }

    ULONG m_refs = 1;
    YdbByteStore m_store;
};

}  // namespace engsys
