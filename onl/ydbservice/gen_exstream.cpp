// Gen_ExStream: every typed value is one element call on the data object, with the type code's
// width; the first failure makes every later operation a no-op.
#include "onl/ydbservice/gen_exstream.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/raii.h"

Gen_ExStream::Gen_ExStream(IYDB_Data* pData) noexcept
    // Adds a reference.
    : m_pData(pData), m_bGood(pData != nullptr ? TRUE : FALSE) {}

Gen_ExStream& Gen_ExStream::attach(IYDB_Data* pData) noexcept {
    // Adds a reference to the new object and releases the old one.
    m_pData = platform::ComPtr<IYDB_Data>(pData);
    m_bGood = pData != nullptr ? TRUE : FALSE;
    return *this;
}

bool Gen_ExStream::check(HRESULT hr) noexcept {
    if (FAILED(hr)) {
        m_bGood = FALSE;
    }
    return ok();
}

bool Gen_ExStream::writeArray(const void* pData, uint32_t count, uint32_t typeCode) noexcept {
    if (ok()) {
        check(m_pData->WriteElements(pData, count, YDB_ElementWidth(typeCode), typeCode));
    }
    return ok();
}

bool Gen_ExStream::readArray(void* pTarget, uint32_t count, uint32_t typeCode) noexcept {
    if (!ok()) {
        return false;
    }
    const uint32_t width = YDB_ElementWidth(typeCode);
    platform::UniqueTaskMem<BYTE> buffer;
    const HRESULT hr =
        m_pData->ReadElements(reinterpret_cast<void**>(buffer.put()), count, width, typeCode);
    if (check(hr) && buffer && pTarget != nullptr) {
        std::memcpy(pTarget, buffer.get(), static_cast<size_t>(count) * width);
    }
    return ok();
}

bool Gen_ExStream::writeBytes(const void* pData, uint32_t count) noexcept {
    return writeArray(pData, count, YDB_ELEM_CHAR);
}

bool Gen_ExStream::readBytes(void* pTarget, uint32_t count) noexcept {
    return readArray(pTarget, count, YDB_ELEM_CHAR);
}

uint32_t Gen_ExStream::byteCount() noexcept {
    ULONG count = 0;
    if (!ok() || !check(m_pData->GetByteCount(&count))) {
        return 0;
    }
    return count;
}

uint32_t Gen_ExStream::position() noexcept {
    ULONG pos = 0;
    if (!ok() || !check(m_pData->GetPosition(&pos))) {
        return 0;
    }
    return pos;
}

bool Gen_ExStream::commit() noexcept {
    if (ok()) {
        check(m_pData->Commit());
    }
    return ok();
}

bool Gen_ExStream::good() noexcept {
    if (m_pData) {
        (void)m_pData->Touch();
    }
    return ok();
}

template <class T>
Gen_ExStream& Gen_ExStream::writeScalar(const T& v, uint32_t typeCode) noexcept {
    writeArray(&v, 1, typeCode);
    return *this;
}

template <class T>
Gen_ExStream& Gen_ExStream::readScalar(T& v, uint32_t typeCode) noexcept {
    readArray(&v, 1, typeCode);
    return *this;
}

Gen_ExStream& Gen_ExStream::operator<<(IStream* pStream) noexcept {
    if (!ok()) {
        return *this;
    }
    STATSTG stat{};
    if (pStream == nullptr || FAILED(pStream->Stat(&stat, STATFLAG_NONAME))) {
        m_bGood = FALSE;
        return *this;
    }
    const uint32_t size = static_cast<uint32_t>(stat.cbSize.QuadPart & 0xFFFFFFFFu);
    *this << size;
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size == 0 ? 1 : size]);
    LARGE_INTEGER start{};
    ULONG got = 0;
    if (buffer == nullptr || FAILED(pStream->Seek(start, STREAM_SEEK_SET, nullptr)) ||
        FAILED(pStream->Read(buffer.get(), size, &got)) || got < size) {
        m_bGood = FALSE;
    } else {
        writeBytes(buffer.get(), size);
    }
    return *this;
}

Gen_ExStream& Gen_ExStream::operator<<(const Gen_ExIdent& v) noexcept {
    *this << v.m_Major << v.m_Minor;
    writeArray(v.m_Bytes, 16, YDB_ELEM_U8);
    return *this;
}

Gen_ExStream& Gen_ExStream::operator<<(const int64_t& v) noexcept {
    return writeScalar(v, YDB_ELEM_I64);
}
Gen_ExStream& Gen_ExStream::operator<<(const uint64_t& v) noexcept {
    return writeScalar(v, YDB_ELEM_I64);
}
Gen_ExStream& Gen_ExStream::operator<<(const Gen_ExVersion& v) noexcept {
    return *this << v.m_Major << v.m_Minor;
}
Gen_ExStream& Gen_ExStream::operator<<(double v) noexcept {
    return writeScalar(v, YDB_ELEM_F64);
}
Gen_ExStream& Gen_ExStream::operator<<(float v) noexcept {
    return writeScalar(v, YDB_ELEM_F32);
}
Gen_ExStream& Gen_ExStream::operator<<(int32_t v) noexcept {
    return writeScalar(v, YDB_ELEM_I32);
}
Gen_ExStream& Gen_ExStream::operator<<(uint32_t v) noexcept {
    return writeScalar(v, YDB_ELEM_U32);
}
Gen_ExStream& Gen_ExStream::operator<<(bool v) noexcept {
    const uint8_t one = v ? 1 : 0;
    return writeScalar(one, YDB_ELEM_CHAR);
}
Gen_ExStream& Gen_ExStream::operator<<(int16_t v) noexcept {
    return writeScalar(v, YDB_ELEM_I16);
}
Gen_ExStream& Gen_ExStream::operator<<(uint16_t v) noexcept {
    return writeScalar(v, YDB_ELEM_U16);
}
Gen_ExStream& Gen_ExStream::operator<<(uint8_t v) noexcept {
    return writeScalar(v, YDB_ELEM_U8);
}
Gen_ExStream& Gen_ExStream::operator<<(char v) noexcept {
    return writeScalar(v, YDB_ELEM_CHAR);
}
Gen_ExStream& Gen_ExStream::operator<<(signed char v) noexcept {
    return writeScalar(v, YDB_ELEM_CHAR);
}

Gen_ExStream& Gen_ExStream::operator>>(IStream* pStream) noexcept {
    uint32_t length = 0;
    *this >> length;
    if (!ok()) {
        return *this;
    }
    // The length comes from the data: never allocate for more than the data can hold.
    if (pStream == nullptr || length > byteCount()) {
        m_bGood = FALSE;
        return *this;
    }
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[length == 0 ? 1 : length]);
    if (buffer == nullptr || !readBytes(buffer.get(), length)) {
        m_bGood = FALSE;
        return *this;
    }
    ULONG written = 0;
    if (FAILED(pStream->Write(buffer.get(), length, &written)) || written < length) {
        m_bGood = FALSE;
    }
    return *this;
}

Gen_ExStream& Gen_ExStream::operator>>(Gen_ExIdent& v) noexcept {
    *this >> v.m_Major >> v.m_Minor;
    readArray(v.m_Bytes, 16, YDB_ELEM_U8);
    return *this;
}

Gen_ExStream& Gen_ExStream::operator>>(int64_t& v) noexcept {
    return readScalar(v, YDB_ELEM_I64);
}
Gen_ExStream& Gen_ExStream::operator>>(uint64_t& v) noexcept {
    return readScalar(v, YDB_ELEM_I64);
}
Gen_ExStream& Gen_ExStream::operator>>(Gen_ExVersion& v) noexcept {
    return *this >> v.m_Major >> v.m_Minor;
}
Gen_ExStream& Gen_ExStream::operator>>(double& v) noexcept {
    return readScalar(v, YDB_ELEM_F64);
}
Gen_ExStream& Gen_ExStream::operator>>(float& v) noexcept {
    return readScalar(v, YDB_ELEM_F32);
}
Gen_ExStream& Gen_ExStream::operator>>(int32_t& v) noexcept {
    return readScalar(v, YDB_ELEM_I32);
}
Gen_ExStream& Gen_ExStream::operator>>(uint32_t& v) noexcept {
    return readScalar(v, YDB_ELEM_U32);
}
Gen_ExStream& Gen_ExStream::operator>>(Gen_ExBool32& v) noexcept {
    uint8_t low = 0;
    if (readArray(&low, 1, YDB_ELEM_CHAR)) {
        v.m_Value = low;
    }
    return *this;
}
Gen_ExStream& Gen_ExStream::operator>>(int16_t& v) noexcept {
    return readScalar(v, YDB_ELEM_I16);
}
Gen_ExStream& Gen_ExStream::operator>>(uint16_t& v) noexcept {
    return readScalar(v, YDB_ELEM_U16);
}
Gen_ExStream& Gen_ExStream::operator>>(uint8_t& v) noexcept {
    return readScalar(v, YDB_ELEM_U8);
}
Gen_ExStream& Gen_ExStream::operator>>(char& v) noexcept {
    return readScalar(v, YDB_ELEM_CHAR);
}
Gen_ExStream& Gen_ExStream::operator>>(signed char& v) noexcept {
    return readScalar(v, YDB_ELEM_CHAR);
}
