// A YDB data object held in the fuzz target's own memory: the byte layout and end-of-data answers
// of the data object class (docs/ydbdata.md), without a class activation, a lock or a call log per
// input, so that a target spends its time in the decoders.
#pragma once

#include <cstring>
#include <vector>

#include "engsys/ydbdata_control.h"
#include "ydb_data.h"

namespace fuzzing {

class MemoryYdbData final : public IYDB_Data {
  public:
    MemoryYdbData() = default;
    explicit MemoryYdbData(const std::vector<BYTE>& bytes) : m_bytes(bytes) {}
    MemoryYdbData(const BYTE* data, size_t size) : m_bytes(data, data + size) {}
    MemoryYdbData(const MemoryYdbData&) = delete;
    MemoryYdbData& operator=(const MemoryYdbData&) = delete;

    const std::vector<BYTE>& bytes() const { return m_bytes; }

    // Lives on the stack: references are counted but never delete it.
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
        if (pCount == nullptr) {
            return E_POINTER;
        }
        *pCount = static_cast<ULONG>(m_bytes.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE WriteElements(const void* pData, ULONG count, ULONG width,
                                            ULONG typeCode) override {
        if (width == 0 || width != YDB_ElementWidth(typeCode)) {
            return E_INVALIDARG;
        }
        if (pData == nullptr && count != 0) {
            return E_POINTER;
        }
        const ULONGLONG bytes = static_cast<ULONGLONG>(count) * width;
        const ULONGLONG end = m_position + bytes;
        if (end > YDB_DATA_MAX_BYTES) {
            return E_OUTOFMEMORY;
        }
        if (end > m_bytes.size()) {
            m_bytes.resize(static_cast<size_t>(end));
        }
        if (bytes != 0) {
            std::memcpy(m_bytes.data() + m_position, pData, static_cast<size_t>(bytes));
        }
        m_position = static_cast<ULONG>(end);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReadElements(void** ppBuffer, ULONG count, ULONG width,
                                           ULONG typeCode) override {
        if (ppBuffer == nullptr) {
            return E_POINTER;
        }
        *ppBuffer = nullptr;
        if (width == 0 || width != YDB_ElementWidth(typeCode)) {
            return E_INVALIDARG;
        }
        const ULONGLONG bytes = static_cast<ULONGLONG>(count) * width;
        if (m_position + bytes > m_bytes.size()) {
            return kEndOfData;
        }
        if (bytes == 0) {
            return S_OK;
        }
        void* buffer = CoTaskMemAlloc(static_cast<SIZE_T>(bytes));
        if (buffer == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::memcpy(buffer, m_bytes.data() + m_position, static_cast<size_t>(bytes));
        m_position += static_cast<ULONG>(bytes);
        *ppBuffer = buffer;
        return S_OK;
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
        if (origin != 0 || position > m_bytes.size()) {
            return E_INVALIDARG;
        }
        m_position = position;
        if (pNewPosition != nullptr) {
            *pNewPosition = m_position;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPosition(ULONG* pPosition) override {
        if (pPosition == nullptr) {
            return E_POINTER;
        }
        *pPosition = m_position;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Touch() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reserved15() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsWritable(ULONG* pWritable) override {
        if (pWritable == nullptr) {
            return E_POINTER;
        }
        *pWritable = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reserved17() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved18() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved19() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetByteCount(ULONG) override { return E_NOTIMPL; }

  private:
    // HRESULT_FROM_WIN32(ERROR_HANDLE_EOF), as the class answers a read past the end.
    static constexpr HRESULT kEndOfData = static_cast<HRESULT>(0x80070026L);

    ULONG m_refs = 1;
    std::vector<BYTE> m_bytes;
    ULONG m_position = 0;
};

}  // namespace fuzzing
