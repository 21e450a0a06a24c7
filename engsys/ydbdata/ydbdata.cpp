// Stand-in of the YDB service's data object class: a byte store with a position behind IYDB_Data,
// served by this module's class factory. Byte layout: docs/ydbdata.md.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "engsys/com_server.h"
#include "engsys/ydb_byte_store.h"
#include "engsys/ydbdata_control.h"
#include "platform/com_object.h"
#include "platform/winapi.h"
#include "ydb_data.h"

// Elements are stored as their in-memory bytes, which are the documented little-endian bytes only
// on a little-endian host.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the stand-in stores host byte order");

namespace {

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

class YdbData : public platform::ComObject<YdbData, platform::DeleteAtZero, IYDB_Data,
                                           IYDB_DataDirect, IYDB_DataControl> {
  public:
    YdbData() = default;

    // IYDB_Data

    HRESULT STDMETHODCALLTYPE GetByteCount(ULONG* pCount) override {
        return answer(kGetByteCount, pCount, [this] { return m_store.byteCount(); });
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
        return guarded([&] { return m_store.write(pData, count, width, typeCode); });
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
        return m_store.readAllocated(ppBuffer, count, width, typeCode);
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
        const std::vector<BYTE>& bytes = m_store.bytes();
        auto* buffer = static_cast<BYTE*>(CoTaskMemAlloc(std::max<size_t>(bytes.size(), 1)));
        if (buffer == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::copy(bytes.begin(), bytes.end(), buffer);
        if (pUnused != nullptr) {
            *pUnused = m_store.byteCount();
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
            m_store.bytes().assign(pBuffer, pBuffer + length);
            m_store.setPosition(0);
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
            m_store.bytes().swap(bytes);
            m_store.setPosition(m_store.byteCount());
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
        return g.failure() ? g.failure() : m_store.seek(position, origin, pNewPosition);
    }

    HRESULT STDMETHODCALLTYPE GetPosition(ULONG* pPosition) override {
        return answer(kGetPosition, pPosition, [this] { return m_store.position(); });
    }

    HRESULT STDMETHODCALLTYPE Touch() override {
        Guard g(*this, kTouch);
        return g.failure() ? g.failure() : S_OK;
    }

    HRESULT STDMETHODCALLTYPE Reserved15() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE IsWritable(ULONG* pWritable) override {
        return answer(kIsWritable, pWritable, [this] { return m_writable ? 1u : 0u; });
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
        return guarded([&] { return m_store.setByteCount(count); });
    }

    // IYDB_DataDirect

    HRESULT STDMETHODCALLTYPE ReadElementsInto(void* pTarget, ULONG count, ULONG width,
                                               ULONG typeCode) override {
        Guard g(*this, kReadElements);
        log(false, count, width, typeCode);
        if (g.failure()) {
            return g.failure();
        }
        return m_store.readInto(pTarget, count, width, typeCode);
    }

    HRESULT STDMETHODCALLTYPE LockSequence() override {
        if (holding()) {
            ++m_sequenceDepth;
            return S_OK;
        }
        m_lock.lock();
        m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
        m_sequenceDepth = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE UnlockSequence() override {
        if (!holding() || m_sequenceDepth == 0) {
            return E_UNEXPECTED;
        }
        if (--m_sequenceDepth == 0) {
            m_owner.store(std::thread::id(), std::memory_order_relaxed);
            m_lock.unlock();
        }
        return S_OK;
    }

    // IYDB_DataControl (its IUnknown is the object's own)

    HRESULT STDMETHODCALLTYPE SetWritable(BOOL writable) override {
        Hold hold(*this);
        m_writable = writable != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FailCall(ULONG position, ULONG skip, HRESULT hr) override {
        Hold hold(*this);
        if (position >= kPositions || (position != 0 && SUCCEEDED(hr))) {
            return E_INVALIDARG;
        }
        m_failPosition = position;
        m_failSkip = skip;
        m_failResult = hr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCallCount(ULONG position, ULONG* pCount) override {
        Hold hold(*this);
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
        Hold hold(*this);
        if (pCount == nullptr) {
            return E_POINTER;
        }
        *pCount = static_cast<ULONG>(m_log.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetElementCall(ULONG index, YDB_ElementCall* pCall) override {
        Hold hold(*this);
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
        Hold hold(*this);
        m_log.clear();
        std::fill(std::begin(m_calls), std::end(m_calls), 0u);
        return S_OK;
    }

  private:
    // The object's lock for one call, unless the calling thread holds it for a sequence.
    class Hold {
      public:
        explicit Hold(YdbData& self) : m_lock(self.m_lock, std::defer_lock) {
            if (!self.holding()) {
                m_lock.lock();
            }
        }

      private:
        std::unique_lock<std::mutex> m_lock;
    };

    // Holds the object's lock for one IYDB_Data call, counts the call and tells whether a
    // failure was asked for it.
    class Guard {
      public:
        Guard(YdbData& self, ULONG position) : m_hold(self) {
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
        Hold m_hold;
        HRESULT m_failure = S_OK;
    };

    // Only the holder can see its own id here: no other thread stores it.
    bool holding() const noexcept {
        return m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
    }

    // A call that answers one value through an out-pointer.
    template <class F>
    HRESULT answer(ULONG position, ULONG* pOut, F value) {
        Guard g(*this, position);
        if (g.failure()) {
            return g.failure();
        }
        if (pOut == nullptr) {
            return E_POINTER;
        }
        *pOut = value();
        return S_OK;
    }

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
    std::atomic<std::thread::id> m_owner{};
    ULONG m_sequenceDepth = 0;
    engsys::YdbByteStore m_store;
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
