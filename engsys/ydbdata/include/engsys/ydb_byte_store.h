// The bytes and position of a YDB data object as the data object class keeps them
// (docs/ydbdata.md): element reads and writes, seeking and sizing, with the class's answers.
// The class adds its lock, call log and test control around it; in-memory objects use it bare.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "engsys/ydbdata_control.h"
#include "platform/winapi.h"
#include "ydb_data.h"

namespace engsys {

class YdbByteStore {
  public:
    // HRESULT_FROM_WIN32(ERROR_HANDLE_EOF): a read past the end of the data.
    static constexpr HRESULT kEndOfData = static_cast<HRESULT>(0x80070026L);

    YdbByteStore() = default;
    YdbByteStore(const BYTE* data, size_t size) : m_bytes(data, data + size) {}

    std::vector<BYTE>& bytes() noexcept { return m_bytes; }
    const std::vector<BYTE>& bytes() const noexcept { return m_bytes; }
    ULONG byteCount() const noexcept { return static_cast<ULONG>(m_bytes.size()); }
    ULONG position() const noexcept { return m_position; }
    void setPosition(ULONG position) noexcept { m_position = position; }

    // Writes count elements at the position (growing the data). Throws std::bad_alloc.
    HRESULT write(const void* pData, ULONG count, ULONG width, ULONG typeCode) {
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
        const auto* from = static_cast<const BYTE*>(pData);
        if (m_position == m_bytes.size()) {
            m_bytes.insert(m_bytes.end(), from, from + bytes);  // appends without zero-filling
        } else {
            if (end > m_bytes.size()) {
                m_bytes.resize(static_cast<size_t>(end));
            }
            if (bytes != 0) {
                std::memcpy(m_bytes.data() + m_position, from, static_cast<size_t>(bytes));
            }
        }
        m_position = static_cast<ULONG>(end);
        return S_OK;
    }

    // Reads count elements into pTarget (skipped when null) and moves past them.
    HRESULT readInto(void* pTarget, ULONG count, ULONG width, ULONG typeCode) noexcept {
        size_t bytes = 0;
        const HRESULT hr = readable(count, width, typeCode, &bytes);
        if (hr == S_OK && bytes != 0) {
            if (pTarget != nullptr) {
                std::memcpy(pTarget, m_bytes.data() + m_position, bytes);
            }
            m_position += static_cast<ULONG>(bytes);
        }
        return hr;
    }

    // Reads count elements into a CoTaskMemAlloc buffer (none for no bytes).
    HRESULT readAllocated(void** ppBuffer, ULONG count, ULONG width, ULONG typeCode) noexcept {
        if (ppBuffer == nullptr) {
            return E_POINTER;
        }
        *ppBuffer = nullptr;
        size_t bytes = 0;
        HRESULT hr = readable(count, width, typeCode, &bytes);
        if (hr != S_OK || bytes == 0) {
            return hr;
        }
        void* buffer = CoTaskMemAlloc(static_cast<SIZE_T>(bytes));
        if (buffer == nullptr) {
            return E_OUTOFMEMORY;
        }
        hr = readInto(buffer, count, width, typeCode);
        *ppBuffer = buffer;
        return hr;
    }

    // Origin 0 from the start; 1 and 2 take the position as a signed offset from the position
    // and the end.
    HRESULT seek(ULONG position, ULONG origin, ULONG* pNewPosition) noexcept {
        LONGLONG target = 0;
        switch (origin) {
            case 0:
                target = position;
                break;
            case 1:
                target = static_cast<LONGLONG>(m_position) + static_cast<LONG>(position);
                break;
            case 2:
                target = static_cast<LONGLONG>(m_bytes.size()) + static_cast<LONG>(position);
                break;
            default:
                return E_INVALIDARG;
        }
        if (target < 0 || target > static_cast<LONGLONG>(m_bytes.size())) {
            return E_INVALIDARG;
        }
        m_position = static_cast<ULONG>(target);
        if (pNewPosition != nullptr) {
            *pNewPosition = m_position;
        }
        return S_OK;
    }

    // Cuts or extends the data; the position stays within it. Throws std::bad_alloc.
    HRESULT setByteCount(ULONG count) {
        if (count > YDB_DATA_MAX_BYTES) {
            return E_OUTOFMEMORY;
        }
        m_bytes.resize(count);
        m_position = std::min(m_position, count);
        return S_OK;
    }

  private:
    HRESULT readable(ULONG count, ULONG width, ULONG typeCode, size_t* bytes) const noexcept {
        if (width == 0 || width != YDB_ElementWidth(typeCode)) {
            return E_INVALIDARG;
        }
        const ULONGLONG wanted = static_cast<ULONGLONG>(count) * width;
        if (m_position + wanted > m_bytes.size()) {
            return kEndOfData;
        }
        *bytes = static_cast<size_t>(wanted);
        return S_OK;
    }

    std::vector<BYTE> m_bytes;
    ULONG m_position = 0;
};

}  // namespace engsys
