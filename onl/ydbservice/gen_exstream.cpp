// Gen_ExStream: every typed value is one element call on the data object, with the type code's
// width; the first failure makes every later operation a no-op.
#include "onl/ydbservice/gen_exstream.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/raii.h"

Gen_ExStream::Gen_ExStream(IYDB_Data* pData) noexcept
    // Adds a reference.
    : m_pData(pData), m_bGood(pData != nullptr ? TRUE : FALSE) {
    findDirect();
}

Gen_ExStream::~Gen_ExStream() {
    while (m_sequenceDepth > 0) {
        unlockSequence();
    }
}

Gen_ExStream& Gen_ExStream::attach(IYDB_Data* pData) noexcept {
    while (m_sequenceDepth > 0) {
        unlockSequence();
    }
    // Adds a reference to the new object and releases the old one.
    m_pData = platform::ComPtr<IYDB_Data>(pData);
    m_bGood = pData != nullptr ? TRUE : FALSE;
    findDirect();
    return *this;
}

void Gen_ExStream::findDirect() noexcept {
    m_pDirect = nullptr;
    platform::ComPtr<IYDB_DataDirect> direct;
    if (m_pData && SUCCEEDED(m_pData.query(direct))) {
        m_pDirect = direct.get();  // the reference goes with `direct`: m_pData keeps the object
    }
}

void Gen_ExStream::lockSequence() noexcept {
    if (m_pDirect != nullptr && SUCCEEDED(m_pDirect->LockSequence())) {
        ++m_sequenceDepth;
    }
}

void Gen_ExStream::unlockSequence() noexcept {
    if (m_sequenceDepth > 0) {
        --m_sequenceDepth;
        (void)m_pDirect->UnlockSequence();
    }
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
    if (m_pDirect != nullptr) {
        // Straight into the target: no task-memory buffer per element.
        check(m_pDirect->ReadElementsInto(pTarget, count, width, typeCode));
        return ok();
    }
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

// The scalars, each written and read as one element of its type code.
#define GEN_EX_SCALAR(WriteArg, ReadArg, code)                    \
    Gen_ExStream& Gen_ExStream::operator<<(WriteArg v) noexcept { \
        return writeScalar(v, code);                              \
    }                                                             \
    Gen_ExStream& Gen_ExStream::operator>>(ReadArg v) noexcept {  \
        return readScalar(v, code);                               \
    }
// clang-format off
GEN_EX_SCALAR(const int64_t&, int64_t&, YDB_ELEM_I64)
GEN_EX_SCALAR(const uint64_t&, uint64_t&, YDB_ELEM_I64)
GEN_EX_SCALAR(double, double&, YDB_ELEM_F64)
GEN_EX_SCALAR(float, float&, YDB_ELEM_F32)
GEN_EX_SCALAR(int32_t, int32_t&, YDB_ELEM_I32)
GEN_EX_SCALAR(uint32_t, uint32_t&, YDB_ELEM_U32)
GEN_EX_SCALAR(int16_t, int16_t&, YDB_ELEM_I16)
GEN_EX_SCALAR(uint16_t, uint16_t&, YDB_ELEM_U16)
GEN_EX_SCALAR(uint8_t, uint8_t&, YDB_ELEM_U8)
GEN_EX_SCALAR(char, char&, YDB_ELEM_CHAR)
GEN_EX_SCALAR(signed char, signed char&, YDB_ELEM_CHAR)
// clang-format on
#undef GEN_EX_SCALAR

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

Gen_ExStream& Gen_ExStream::operator<<(const Gen_ExVersion& v) noexcept {
    return *this << v.m_Major << v.m_Minor;
}
Gen_ExStream& Gen_ExStream::operator<<(bool v) noexcept {
    const uint8_t one = v ? 1 : 0;
    return writeScalar(one, YDB_ELEM_CHAR);
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

Gen_ExStream& Gen_ExStream::operator>>(Gen_ExVersion& v) noexcept {
    return *this >> v.m_Major >> v.m_Minor;
}
Gen_ExStream& Gen_ExStream::operator>>(Gen_ExBool32& v) noexcept {
    uint8_t low = 0;
    if (readArray(&low, 1, YDB_ELEM_CHAR)) {
        v.m_Value = low;
    }
    return *this;
}
