// A growing in-memory IStream, as the shell's memory stream behaves.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/nonwin/objidl.h"

namespace {

class MemStream final : public platform::ComObject<MemStream, platform::DeleteAtZero, IStream> {
  public:
    MemStream(const BYTE* init, UINT size) : m_data(init, init + (init != nullptr ? size : 0)) {}

    void* BaseInterfaceFor(REFIID riid) noexcept {
        return IsEqualIID(riid, IID_ISequentialStream) ? static_cast<IStream*>(this) : nullptr;
    }

    // Reading at or past the end reads nothing and answers S_FALSE.
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        std::lock_guard<std::mutex> guard(m_lock);
        ULONG n = 0;
        HRESULT hr = S_FALSE;
        if (m_pos < m_data.size()) {
            if (pv == nullptr) {
                return STG_E_INVALIDPOINTER;
            }
            n = static_cast<ULONG>(std::min<size_t>(cb, m_data.size() - m_pos));
            std::memcpy(pv, m_data.data() + m_pos, n);
            m_pos += n;
            hr = S_OK;
        }
        if (pcbRead != nullptr) {
            *pcbRead = n;
        }
        return hr;
    }

    // Writing past the end zero-fills the gap.
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pcbWritten != nullptr) {
            *pcbWritten = 0;
        }
        if (cb == 0) {
            return S_OK;
        }
        if (pv == nullptr) {
            return STG_E_INVALIDPOINTER;
        }
        std::lock_guard<std::mutex> guard(m_lock);
        const size_t end = m_pos + cb;
        if (end > 0xFFFFFFFFu) {
            return STG_E_MEDIUMFULL;
        }
        try {
            if (end > m_data.size()) {
                m_data.resize(end, 0);
            }
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        std::memcpy(m_data.data() + m_pos, pv, cb);
        m_pos = end;
        if (pcbWritten != nullptr) {
            *pcbWritten = cb;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                   ULARGE_INTEGER* newPos) override {
        std::lock_guard<std::mutex> guard(m_lock);
        long long base;
        switch (origin) {
            case STREAM_SEEK_SET:
                base = 0;
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<long long>(m_pos);
                break;
            case STREAM_SEEK_END:
                base = static_cast<long long>(m_data.size());
                break;
            default:
                return STG_E_INVALIDFUNCTION;
        }
        const long long target = base + move.QuadPart;
        if (target < 0 || target > 0xFFFFFFFFll) {
            return STG_E_INVALIDFUNCTION;
        }
        m_pos = static_cast<size_t>(target);
        if (newPos != nullptr) {
            newPos->QuadPart = m_pos;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        if (size.QuadPart > 0xFFFFFFFFull) {
            return STG_E_INVALIDFUNCTION;
        }
        std::lock_guard<std::mutex> guard(m_lock);
        try {
            m_data.resize(static_cast<size_t>(size.QuadPart), 0);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CopyTo(IStream* dest, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                     ULARGE_INTEGER* pcbWritten) override {
        if (dest == nullptr) {
            return STG_E_INVALIDPOINTER;
        }
        std::vector<BYTE> chunk;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            const size_t avail = m_pos < m_data.size() ? m_data.size() - m_pos : 0;
            const size_t n = static_cast<size_t>(std::min<ULONGLONG>(cb.QuadPart, avail));
            chunk.assign(m_data.begin() + static_cast<std::ptrdiff_t>(m_pos),
                         m_data.begin() + static_cast<std::ptrdiff_t>(m_pos + n));
            m_pos += n;
        }
        ULONG written = 0;
        const HRESULT hr = dest->Write(chunk.data(), static_cast<ULONG>(chunk.size()), &written);
        if (pcbRead != nullptr) {
            pcbRead->QuadPart = chunk.size();
        }
        if (pcbWritten != nullptr) {
            pcbWritten->QuadPart = written;
        }
        return hr;
    }

    // A memory stream has no transactions, region locks or clones.
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) override {
        if (ppstm != nullptr) {
            *ppstm = nullptr;
        }
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) {
            return STG_E_INVALIDPOINTER;
        }
        std::lock_guard<std::mutex> guard(m_lock);
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = m_data.size();
        return S_OK;
    }

  private:
    std::mutex m_lock;
    std::vector<BYTE> m_data;
    size_t m_pos = 0;
};

}  // namespace

IStream* SHCreateMemStream(const BYTE* pInit, UINT cbInit) {
    auto* stream = new (std::nothrow) MemStream(pInit, cbInit);
    return stream != nullptr ? platform::ComPtr<IStream>(stream).detach() : nullptr;  // one ref
}
