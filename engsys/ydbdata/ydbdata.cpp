// Stand-in of the YDB service's data object class: a byte store with a position behind IYDB_Data,
// served by this module's class factory. Byte layout: docs/ydbdata.md.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "engsys/ydbdata_control.h"
#include "engsys/com_server.h"
#include "platform/com_object.h"
#include "platform/winapi.h"
#include "ydb_data.h"

// Elements are stored as their in-memory bytes, which are the documented little-endian bytes only
// on a little-endian host.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the stand-in stores host byte order");

namespace {

// HRESULT_FROM_WIN32(ERROR_HANDLE_EOF): a read past the end of the data.
constexpr HRESULT kEndOfData = static_cast<HRESULT>(0x80070026L);
constexpr ULONG kPositions = 21;
constexpr size_t kLogLimit = 4096;
constexpr BYTE kMagic[4] = {'Y', 'D', 'B', 0x01};

enum Position : ULONG {
    kGetByteCount = 1,
    kWriteElements = 2,
    kReadElements = 3,
    kReadContents = 4,
    kWriteContents = 5,
    kInitData = 6,
    kCommit = 9,
    kSeek = 12,
    kGetPosition = 13,
    kTouch = 14,
    kIsWritable = 16,
    kSetByteCount = 20,
};

class YdbData
    : public platform::ComObject<YdbData, platform::DeleteAtZero, IYDB_Data, IYDB_DataControl> {
  public:
    YdbData() = default;

    // IYDB_Data

    HRESULT STDMETHODCALLTYPE GetByteCount(ULONG* pCount) override {
        Guard g(*this, kGetByteCount);
        if (g.failure()) {
            return g.failure();
        }
        if (pCount == nullptr) {
            return E_POINTER;
        }
        *pCount = static_cast<ULONG>(m_bytes.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE WriteElements(const void* pData, ULONG count, ULONG width,
                                            ULONG typeCode) override {
        Guard g(*this, kWriteElements);
        log(true, count, width, typeCode);
        if (g.failure()) {
            return g.failure();
        }
        if (!m_writable) {
            return E_ACCESSDENIED;
        }
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
        return guarded([&] {
            if (end > m_bytes.size()) {
                m_bytes.resize(static_cast<size_t>(end));
            }
            if (bytes != 0) {
                std::memcpy(m_bytes.data() + m_position, pData, static_cast<size_t>(bytes));
            }
            m_position = static_cast<ULONG>(end);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE ReadElements(void** ppBuffer, ULONG count, ULONG width,
                                           ULONG typeCode) override {
        Guard g(*this, kReadElements);
        log(false, count, width, typeCode);
        if (ppBuffer == nullptr) {
            return E_POINTER;
        }
        *ppBuffer = nullptr;
        if (g.failure()) {
            return g.failure();
        }
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

    HRESULT STDMETHODCALLTYPE ReadContents(ULONG* pUnused, BYTE** ppBuffer) override {
        Guard g(*this, kReadContents);
        if (ppBuffer == nullptr) {
            return E_POINTER;
        }
        *ppBuffer = nullptr;
        if (g.failure()) {
            return g.failure();
        }
        auto* buffer = static_cast<BYTE*>(CoTaskMemAlloc(std::max<size_t>(m_bytes.size(), 1)));
        if (buffer == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::copy(m_bytes.begin(), m_bytes.end(), buffer);
        if (pUnused != nullptr) {
            *pUnused = static_cast<ULONG>(m_bytes.size());
        }
        *ppBuffer = buffer;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE WriteContents(const BYTE* pBuffer, ULONG length, ULONG,
                                            ULONG) override {
        Guard g(*this, kWriteContents);
        if (g.failure()) {
            return g.failure();
        }
        if (!m_writable) {
            return E_ACCESSDENIED;
        }
        if (pBuffer == nullptr && length != 0) {
            return E_POINTER;
        }
        if (length > YDB_DATA_MAX_BYTES) {
            return E_OUTOFMEMORY;
        }
        return guarded([&] {
            m_bytes.assign(pBuffer, pBuffer + length);
            m_position = 0;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE InitData(ULONG v1, ULONG v2, ULONG v3, ULONG v4, ULONG v5) override {
        Guard g(*this, kInitData);
        if (g.failure()) {
            return g.failure();
        }
        if (!m_writable) {
            return E_ACCESSDENIED;
        }
        const ULONG words[4] = {v2, v3, v4, v5};
        if (std::any_of(std::begin(words), std::end(words), [](ULONG w) { return w > 0xFFFF; })) {
            return E_INVALIDARG;
        }
        return guarded([&] {
            // 16 bytes of prefix, then the data header: what every reader skips and reads.
            std::vector<BYTE> bytes(24, 0);
            std::memcpy(bytes.data(), kMagic, 4);
            std::memcpy(bytes.data() + 4, &v1, 4);
            for (int i = 0; i < 4; ++i) {
                const USHORT w = static_cast<USHORT>(words[i]);
                std::memcpy(bytes.data() + 16 + 2 * i, &w, 2);
            }
            m_bytes.swap(bytes);
            m_position = static_cast<ULONG>(m_bytes.size());
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Commit() override {
        Guard g(*this, kCommit);
        return g.failure() ? g.failure() : S_OK;
    }

    HRESULT STDMETHODCALLTYPE Reserved10() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved11() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Seek(ULONG position, ULONG origin, ULONG* pNewPosition) override {
        Guard g(*this, kSeek);
        if (g.failure()) {
            return g.failure();
        }
        // Origins 1 and 2 take the position as a signed offset.
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

    HRESULT STDMETHODCALLTYPE GetPosition(ULONG* pPosition) override {
        Guard g(*this, kGetPosition);
        if (g.failure()) {
            return g.failure();
        }
        if (pPosition == nullptr) {
            return E_POINTER;
        }
        *pPosition = m_position;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Touch() override {
        Guard g(*this, kTouch);
        return g.failure() ? g.failure() : S_OK;
    }

    HRESULT STDMETHODCALLTYPE Reserved15() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE IsWritable(ULONG* pWritable) override {
        Guard g(*this, kIsWritable);
        if (g.failure()) {
            return g.failure();
        }
        if (pWritable == nullptr) {
            return E_POINTER;
        }
        *pWritable = m_writable ? 1 : 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Reserved17() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved18() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved19() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE SetByteCount(ULONG count) override {
        Guard g(*this, kSetByteCount);
        if (g.failure()) {
            return g.failure();
        }
        if (!m_writable) {
            return E_ACCESSDENIED;
        }
        if (count > YDB_DATA_MAX_BYTES) {
            return E_OUTOFMEMORY;
        }
        return guarded([&] {
            m_bytes.resize(count);
            m_position = std::min(m_position, count);
            return S_OK;
        });
    }

    // IYDB_DataControl (its IUnknown is the object's own)

    HRESULT STDMETHODCALLTYPE SetWritable(BOOL writable) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_writable = writable != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FailCall(ULONG position, ULONG skip, HRESULT hr) override {
        std::lock_guard<std::mutex> lock(m_lock);
        if (position >= kPositions || (position != 0 && SUCCEEDED(hr))) {
            return E_INVALIDARG;
        }
        m_failPosition = position;
        m_failSkip = skip;
        m_failResult = hr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCallCount(ULONG position, ULONG* pCount) override {
        std::lock_guard<std::mutex> lock(m_lock);
        if (pCount == nullptr) {
            return E_POINTER;
        }
        if (position >= kPositions) {
            return E_INVALIDARG;
        }
        *pCount = m_calls[position];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetElementCallCount(ULONG* pCount) override {
        std::lock_guard<std::mutex> lock(m_lock);
        if (pCount == nullptr) {
            return E_POINTER;
        }
        *pCount = static_cast<ULONG>(m_log.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetElementCall(ULONG index, YDB_ElementCall* pCall) override {
        std::lock_guard<std::mutex> lock(m_lock);
        if (pCall == nullptr) {
            return E_POINTER;
        }
        if (index >= m_log.size()) {
            return E_INVALIDARG;
        }
        *pCall = m_log[index];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ClearLog() override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_log.clear();
        std::fill(std::begin(m_calls), std::end(m_calls), 0u);
        return S_OK;
    }

  private:
    // Holds the object's lock for one IYDB_Data call, counts the call and tells whether a
    // failure was asked for it.
    class Guard {
      public:
        Guard(YdbData& self, ULONG position) : m_lock(self.m_lock) {
            ++self.m_calls[position];
            if (self.m_failPosition == position) {
                if (self.m_failSkip == 0) {
                    m_failure = self.m_failResult;
                    self.m_failPosition = 0;
                } else {
                    --self.m_failSkip;
                }
            }
        }
        HRESULT failure() const { return m_failure; }

      private:
        std::lock_guard<std::mutex> m_lock;
        HRESULT m_failure = S_OK;
    };

    template <class F>
    static HRESULT guarded(F f) noexcept {
        try {
            return f();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }

    void log(bool write, ULONG count, ULONG width, ULONG typeCode) noexcept {
        if (m_log.size() < kLogLimit) {
            m_log.push_back({write ? 1u : 0u, count, width, typeCode});
        }
    }

    std::mutex m_lock;
    std::vector<BYTE> m_bytes;
    ULONG m_position = 0;
    bool m_writable = true;
    ULONG m_calls[kPositions] = {};
    ULONG m_failPosition = 0;
    ULONG m_failSkip = 0;
    HRESULT m_failResult = S_OK;
    std::vector<YDB_ElementCall> m_log;
};

}  // namespace

PLATFORM_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return engsys::GetClassObject<YdbData>(CLSID_YDB_Data, clsid, riid, ppv);
}

PLATFORM_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return engsys::CanUnloadNow();
}

PLATFORM_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
    return engsys::RegisterInprocServer(CLSID_YDB_Data,
                                        reinterpret_cast<const void*>(&DllRegisterServer),
                                        OLESTR("YDB data object"), OLESTR("Both"));
}

PLATFORM_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return engsys::UnregisterInprocServer(CLSID_YDB_Data);
}
