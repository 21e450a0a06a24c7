// Debug variable service messages: field order per direction, service type and layout. Every
// read takes untrusted bytes: lengths are checked against what the data can hold, and a failure
// ends in a bad stream or a list error, never in a partial element.
#include "onl/ydbservice/upp_debservice.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kGrowLimit = 0x7FFF8000u;
constexpr uint32_t kMaxCapacity = 0xFFFF0000u;
// The value of a block whose bytes were never read.
const uint8_t kZeros[0x10000] = {};

// A one-byte field held in a 32-bit member: sign-extended on read, left alone when the read
// failed.
void readChar(Gen_ExStream& s, uint32_t& member) noexcept {
    signed char c = 0;
    s >> c;
    if (s.ok()) {
        member = static_cast<uint32_t>(static_cast<int32_t>(c));
    }
}

void writeChar(Gen_ExStream& s, uint32_t member) noexcept {
    s << static_cast<signed char>(static_cast<uint8_t>(member & 0xFFu));
}

// A value narrower than its member, taken only when it arrived.
template <class T>
void readWhole(Gen_ExStream& s, uint64_t& member) noexcept {
    T v = 0;
    s >> v;
    if (s.ok()) {
        member = v;
    }
}

bool isOneOf(uint32_t v, std::initializer_list<uint32_t> set) noexcept {
    return std::find(set.begin(), set.end(), v) != set.end();
}

}  // namespace

// Gen_ByteString

Gen_ByteString::Gen_ByteString() noexcept
    : m_Capacity(kInlineSize), m_Length(0), m_pData(m_Inline), m_bOk(TRUE), m_Inline{} {}

Gen_ByteString::Gen_ByteString(const Gen_ByteString& other) noexcept : Gen_ByteString() {
    append(other.m_pData, other.m_Length);
}

Gen_ByteString& Gen_ByteString::operator=(const Gen_ByteString& other) noexcept {
    if (this != &other) {
        reset();
        append(other.m_pData, other.m_Length);
    }
    return *this;
}

Gen_ByteString::~Gen_ByteString() {
    if (m_pData != m_Inline) {
        std::free(m_pData);
    }
}

void Gen_ByteString::reset() noexcept {
    m_Length = 0;
    m_pData[0] = 0;
}

bool Gen_ByteString::reserve(uint64_t more) noexcept {
    // Computed in 64 bits: a length from the wire plus what is held must not wrap.
    const uint64_t needed = static_cast<uint64_t>(m_Length) + more + 1;
    if (needed <= m_Capacity) {
        return true;
    }
    uint64_t capacity = std::max<uint64_t>(m_Capacity, 64);
    while (capacity < needed) {
        if (capacity > kGrowLimit) {
            capacity = kMaxCapacity;
            break;
        }
        capacity *= 2;
    }
    if (capacity > kGrowLimit) {
        capacity = kMaxCapacity;
    }
    auto* grown = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(capacity)));
    if (grown == nullptr) {
        m_bOk = FALSE;
        return false;
    }
    std::memcpy(grown, m_pData, m_Length + 1);
    if (m_pData != m_Inline) {
        std::free(m_pData);
    }
    m_pData = grown;
    m_Capacity = static_cast<uint32_t>(capacity);
    if (capacity < needed) {
        m_bOk = FALSE;
        return false;
    }
    return true;
}

uint32_t Gen_ByteString::append(const void* pBytes, uint32_t n) noexcept {
    if (!reserve(n)) {
        n = m_Capacity - m_Length - 1;
    }
    if (n != 0) {
        if (pBytes != nullptr) {
            std::memcpy(m_pData + m_Length, pBytes, n);
        } else {
            std::memset(m_pData + m_Length, 0, n);
        }
    }
    m_Length += n;
    m_pData[m_Length] = 0;
    return n;
}

uint32_t Gen_ByteString::extend(uint32_t n) noexcept {
    return append(nullptr, n);
}

void Gen_ByteString::read(Gen_ExStream& s) noexcept {
    uint32_t length = 0;
    s >> length;
    if (!s.ok()) {
        return;
    }
    if (s.byteCount() < length) {
        s.setBad();
        return;
    }
    reset();
    if (extend(length) != length) {
        s.setBad();
        return;
    }
    s.readArray(m_pData, length, YDB_ELEM_U8);
}

void Gen_ByteString::write(Gen_ExStream& s) const noexcept {
    s << m_Length;
    s.writeArray(m_pData, m_Length, YDB_ELEM_U8);
}

// Gen_ExList

Gen_ExList::~Gen_ExList() {
    clear();
}

void Gen_ExList::append(Gen_ExListElem* pElem) noexcept {
    if (pElem == nullptr) {
        return;
    }
    pElem->m_pNext = nullptr;
    if (m_pTail != nullptr) {
        m_pTail->m_pNext = pElem;
    } else {
        m_pHead = pElem;
    }
    m_pTail = pElem;
    ++m_Count;
}

void Gen_ExList::add(const Gen_ExListElem& elem) {
    Gen_ExListElem* copy = elem.clone();
    if (copy == nullptr) {
        m_Error = 1;
        return;
    }
    append(copy);
}

void Gen_ExList::clear() noexcept {
    Gen_ExListElem* e = m_pHead;
    while (e != nullptr) {
        Gen_ExListElem* next = e->m_pNext;
        delete e;
        e = next;
    }
    m_Count = 0;
    m_pHead = m_pTail = nullptr;
    m_Error = 0;
}

void Gen_ExList::readElements(Gen_ExStream& s, int32_t count) {
    for (int32_t i = 0; i < count && m_Error == 0; ++i) {
        Gen_ExListElem* elem = nullptr;
        const int result = createElement(s, elem);
        if (result == kCreated) {
            append(elem);
        } else if (result == kNotMade) {
            m_Error = 1;
            s.setBad();
        } else {
            m_Error = 2;
        }
    }
}

void Gen_ExList::read(Gen_ExStream& s) {
    clear();
    int32_t count = 0;
    s >> count;
    readElements(s, count);
}

void Gen_ExList::write(Gen_ExStream& s) const {
    s << m_Count;
    for (const Gen_ExListElem* e = m_pHead; e != nullptr; e = e->m_pNext) {
        e->write(s);
    }
}

// Upp_AddrVariant

void Upp_AddrVariant::readAddress(Gen_ExStream& s) noexcept {
    m_AddrType = 6;
    m_AddrA = m_AddrB = 0;
    m_Name.reset();
    readChar(s, m_AddrType);
    switch (m_AddrType) {
        case 0: {
            uint16_t hi = 0;
            s >> m_AddrB >> hi;
            setAddrHi(hi);
            break;
        }
        case 1:
            s >> m_AddrA;
            break;
        case 2:
            s >> m_AddrA;
            m_Name.read(s);
            break;
        case 3:
        case 4:
            s >> m_AddrA >> m_AddrB;
            break;
        case 5: {
            uint16_t hi = 0;
            uint16_t lo = 0;
            s >> m_AddrB >> hi >> lo;
            setAddrHi(hi);
            setAddrLo(lo);
            break;
        }
        default:
            break;
    }
}

void Upp_AddrVariant::writeAddress(Gen_ExStream& s) const noexcept {
    writeChar(s, m_AddrType);
    switch (m_AddrType) {
        case 0:
            s << m_AddrB << addrHi();
            break;
        case 1:
            s << m_AddrA;
            break;
        case 2:
            s << m_AddrA;
            m_Name.write(s);
            break;
        case 3:
        case 4:
            s << m_AddrA << m_AddrB;
            break;
        case 5:
            s << m_AddrB << addrHi() << addrLo();
            break;
        default:
            break;
    }
}

// Upp_DataVariant

Upp_DataVariant::Upp_DataVariant(const Upp_DataVariant& other)
    : m_Result(other.m_Result), m_DataType(other.m_DataType), m_Value(other.m_Value) {
    if (other.m_pBuffer != nullptr) {
        allocate(other.m_BufferLength);
        std::memcpy(m_pBuffer.get(), other.m_pBuffer.get(), m_BufferLength);
    }
    m_BufferLength = other.m_BufferLength;
}

void Upp_DataVariant::allocate(uint32_t length) {
    m_pBuffer.reset(new uint8_t[length]());
    m_BufferLength = length;
}

void Upp_DataVariant::setBlock(uint16_t length) {
    m_pBuffer.reset();
    m_BufferLength = 0;
    m_DataType = kBlock;
    if (length != 0) {
        allocate(length);
    }
}

void Upp_DataVariant::setString(uint8_t capacity) {
    m_DataType = kString;
    allocate(capacity + 2u);
    m_pBuffer[0] = capacity;
}

bool Upp_DataVariant::setStringValue(const char* text, uint32_t length) noexcept {
    if (m_DataType != kString || m_pBuffer == nullptr) {
        return false;
    }
    const uint32_t capacity = m_pBuffer[0];
    const uint32_t n = std::min(length, capacity);
    m_pBuffer[1] = static_cast<uint8_t>(n);
    std::memset(m_pBuffer.get() + 2, 0, capacity);
    std::memcpy(m_pBuffer.get() + 2, text, n);
    return true;
}

uint32_t Upp_DataVariant::dataSize() const noexcept {
    switch (m_DataType) {
        case 0:
        case 4:
            return 1;
        case 1:
        case 5:
            return 2;
        case 2:
        case 6:
        case 8:
        case kPair:
            return 4;
        case 3:
        case 7:
        case 9:
            return 8;
        case kBlock:
        case kString:
            return m_BufferLength;
        default:
            return 0;
    }
}

void Upp_DataVariant::readResult(Gen_ExStream& s) noexcept {
    uint8_t result = 10;
    s >> result;
    m_Result = result;
}

void Upp_DataVariant::writeResult(Gen_ExStream& s) const noexcept {
    s << static_cast<uint8_t>(m_Result & 0xFFu);
}

void Upp_DataVariant::readTypeDescriptor(Gen_ExStream& s) {
    m_pBuffer.reset();
    m_BufferLength = 0;
    m_DataType = kNoValue;
    readChar(s, m_DataType);
    if (m_DataType == kBlock) {
        // Allocated when a value arrives: a request names blocks of up to 64 KiB in four bytes
        // each, and only their lengths travel.
        uint16_t length = 0;
        s >> length;
        m_BufferLength = length;
    } else if (m_DataType == kString) {
        uint8_t capacity = 0;
        s >> capacity;
        allocate(capacity + 2u);
        m_pBuffer[0] = capacity;
    }
}

void Upp_DataVariant::writeTypeDescriptor(Gen_ExStream& s) const noexcept {
    writeChar(s, m_DataType);
    if (m_DataType == kBlock) {
        s << static_cast<uint16_t>(m_BufferLength);
    } else if (m_DataType == kString) {
        s << static_cast<uint8_t>(m_pBuffer != nullptr ? m_pBuffer[0] : 0);
    }
}

void Upp_DataVariant::readValue(Gen_ExStream& s) {
    switch (m_DataType) {
        case kBlock:
            readBlockValue(s);
            break;
        case kString:
            readStringValue(s);
            break;
        default:
            readNumberValue(s);
            break;
    }
}

void Upp_DataVariant::readNumberValue(Gen_ExStream& s) noexcept {
    switch (m_DataType) {
        case 0:
        case 4:
            readWhole<uint8_t>(s, m_Value);
            break;
        case 1:
        case 5:
            readWhole<uint16_t>(s, m_Value);
            break;
        case 2:
        case 6:
        case 8:
            readWhole<uint32_t>(s, m_Value);
            break;
        case 3:
        case 7:
        case 9:
            s >> m_Value;
            break;
        case kPair: {
            uint32_t low = 0;
            uint32_t high = 0;
            s >> low >> high;
            if (s.ok()) {
                m_Value = (static_cast<uint64_t>(high) << 32) | low;
            }
            break;
        }
        default:
            break;
    }
}

void Upp_DataVariant::readBlockValue(Gen_ExStream& s) {
    // Allocated only while the stream is good and kept only when the bytes came: a response must
    // not make every block a request named hold its full length.
    if (m_BufferLength == 0 || !s.ok()) {
        return;
    }
    const bool fresh = m_pBuffer == nullptr;
    if (fresh) {
        allocate(m_BufferLength);
    }
    if (!s.readArray(m_pBuffer.get(), m_BufferLength, YDB_ELEM_U8) && fresh) {
        m_pBuffer.reset();
    }
}

void Upp_DataVariant::readStringValue(Gen_ExStream& s) noexcept {
    if (m_pBuffer == nullptr) {
        return;
    }
    uint8_t length = 0;
    s >> length;
    const uint8_t capacity = m_pBuffer[0];
    uint8_t excess = 0;
    if (length > capacity) {
        excess = static_cast<uint8_t>(length - capacity);
        length = capacity;
        m_Result = kResultCut;
    }
    m_pBuffer[1] = length;
    s.readArray(m_pBuffer.get() + 2, length, YDB_ELEM_U8);
    std::memset(m_pBuffer.get() + 2 + length, 0, capacity - length);
    // The cut characters are still on the wire; leaving them would shift every field that
    // follows.
    if (excess != 0) {
        uint8_t skipped[255];
        s.readArray(skipped, excess, YDB_ELEM_U8);
    }
}

void Upp_DataVariant::writeValue(Gen_ExStream& s) const noexcept {
    switch (m_DataType) {
        case 0:
        case 4:
            s << static_cast<uint8_t>(m_Value);
            break;
        case 1:
        case 5:
            s << static_cast<uint16_t>(m_Value);
            break;
        case 2:
        case 6:
        case 8:
            s << static_cast<uint32_t>(m_Value);
            break;
        case 3:
        case 7:
        case 9:
            s << m_Value;
            break;
        case kBlock:
            if (m_BufferLength != 0) {
                s.writeArray(m_pBuffer != nullptr ? m_pBuffer.get() : kZeros, m_BufferLength,
                             YDB_ELEM_U8);
            }
            break;
        case kString:
            if (m_pBuffer != nullptr) {
                // A length set beyond the capacity must not read past the buffer.
                const uint8_t length = std::min(m_pBuffer[1], m_pBuffer[0]);
                s << length;
                s.writeArray(m_pBuffer.get() + 2, length, YDB_ELEM_U8);
            }
            break;
        case kPair:
            s << static_cast<uint32_t>(m_Value) << static_cast<uint32_t>(m_Value >> 32);
            break;
        default:
            break;
    }
}

// Upp_DebVar

Gen_ExListElem* Upp_DebVar::clone() const {
    try {
        return new Upp_DebVar(*this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void Upp_DebVar::read(Gen_ExStream& s) {
    switch (m_Layout) {
        case 0:
            readAddress(s);
            readTypeDescriptor(s);
            break;
        case 1:
            readResult(s);
            readAddress(s);
            readTypeDescriptor(s);
            readValue(s);
            break;
        case 2:
            readAddress(s);
            readTypeDescriptor(s);
            readValue(s);
            break;
        case 3:
            readResult(s);
            readAddress(s);
            readTypeDescriptor(s);
            break;
        case 4:
            readValue(s);
            break;
        case 6:
        case 7:
            readResult(s);
            readValue(s);
            break;
        case 8:
            readResult(s);
            break;
        default:
            break;
    }
}

void Upp_DebVar::write(Gen_ExStream& s) const {
    switch (m_Layout) {
        case 0:
            writeAddress(s);
            writeTypeDescriptor(s);
            break;
        case 1:
            writeResult(s);
            writeAddress(s);
            writeTypeDescriptor(s);
            writeValue(s);
            break;
        case 2:
            writeAddress(s);
            writeTypeDescriptor(s);
            writeValue(s);
            break;
        case 3:
            writeResult(s);
            writeAddress(s);
            writeTypeDescriptor(s);
            break;
        case 4:
            writeValue(s);
            break;
        case 6:
        case 7:
            writeResult(s);
            writeValue(s);
            break;
        case 8:
            writeResult(s);
            break;
        default:
            break;
    }
}

// Upp_DebInstrId, Upp_InstrIdList

Gen_ExListElem* Upp_DebInstrId::clone() const {
    return new (std::nothrow) Upp_DebInstrId(*this);
}

void Upp_DebInstrId::read(Gen_ExStream& s) {
    s >> m_InstrA >> m_InstrB;
}

void Upp_DebInstrId::write(Gen_ExStream& s) const {
    s << m_InstrA << m_InstrB;
}

int Upp_InstrIdList::createElement(Gen_ExStream& s, Gen_ExListElem*& pElem) {
    pElem = nullptr;
    auto* id = new (std::nothrow) Upp_DebInstrId;
    if (id == nullptr) {
        return kNotMade;
    }
    id->read(s);
    if (!s.good()) {
        delete id;
        return kStreamFailed;
    }
    pElem = id;
    return kCreated;
}

// Upp_DebVarList

namespace {
Upp_DebVar* createDebVar() {
    return new (std::nothrow) Upp_DebVar;
}
}  // namespace

Upp_DebVarList::Upp_DebVarList(int32_t tag) noexcept : m_Tag(tag), m_pfnCreate(&createDebVar) {}

Upp_DebVarList::~Upp_DebVarList() {
    m_Selection.m_pBytes.reset();
    m_Selection.m_ByteCount = 0;
}

void Upp_DebVarList::add(const Upp_DebVar& var) {
    std::unique_ptr<Upp_DebVar> copy;
    try {
        copy.reset(new Upp_DebVar(var));
    } catch (const std::bad_alloc&) {
        m_Error = 1;
        return;
    }
    copy->m_Layout = m_Layout;
    m_DataSize += copy->dataSize();
    append(copy.release());
}

void Upp_DebVarList::setLayout(uint32_t layout, uint32_t serviceType) noexcept {
    m_Layout = layout;
    m_ServiceType = serviceType;
    for (Gen_ExListElem* e = m_pHead; e != nullptr; e = e->m_pNext) {
        static_cast<Upp_DebVar*>(e)->m_Layout = layout;
    }
}

void Upp_DebVarList::setTag(int32_t tag) noexcept {
    m_Tag = tag;
    for (Gen_ExListElem* e = m_pHead; e != nullptr; e = e->m_pNext) {
        static_cast<Upp_DebVar*>(e)->m_Tag = tag;
    }
}

void Upp_DebVarList::allocSelection(uint32_t elementCount) {
    const uint32_t bytes = static_cast<uint32_t>((static_cast<uint64_t>(elementCount) + 7) / 8);
    m_Selection.m_pBytes.reset(new uint8_t[bytes == 0 ? 1 : bytes]());
    m_Selection.m_ByteCount = bytes;
}

void Upp_DebVarList::clearSelection() noexcept {
    if (m_Selection.m_pBytes != nullptr) {
        std::memset(m_Selection.m_pBytes.get(), 0, m_Selection.m_ByteCount);
    }
}

bool Upp_DebVarList::isSelected(uint32_t i) const noexcept {
    // Elements beyond the bit set (it was made for fewer) are not selected.
    return m_Selection.m_pBytes != nullptr && i / 8 < m_Selection.m_ByteCount &&
           (m_Selection.m_pBytes[i / 8] & (1u << (i % 8))) != 0;
}

void Upp_DebVarList::select(uint32_t i) noexcept {
    if (m_Selection.m_pBytes != nullptr && i / 8 < m_Selection.m_ByteCount) {
        m_Selection.m_pBytes[i / 8] =
            static_cast<uint8_t>(m_Selection.m_pBytes[i / 8] | (1u << (i % 8)));
    }
}

void Upp_DebVarList::takeAll(Upp_DebVarList& from) noexcept {
    Gen_ExListElem* e = from.m_pHead;
    from.m_pHead = from.m_pTail = nullptr;
    from.m_Count = 0;
    from.m_DataSize = 0;
    while (e != nullptr) {
        Gen_ExListElem* next = e->m_pNext;
        auto* var = static_cast<Upp_DebVar*>(e);  // the list holds nothing else
        var->m_Layout = m_Layout;
        m_DataSize += var->dataSize();
        append(var);
        e = next;
    }
}

int Upp_DebVarList::createElement(Gen_ExStream& s, Gen_ExListElem*& pElem) {
    pElem = nullptr;
    Upp_DebVar* var = m_pfnCreate();
    if (var == nullptr) {
        return kNotMade;
    }
    std::unique_ptr<Upp_DebVar> owner(var);
    var->m_Layout = m_Layout;
    var->read(s);
    if (!s.good()) {
        return kStreamFailed;
    }
    var->m_Tag = m_Tag;
    m_DataSize += var->dataSize();
    pElem = owner.release();
    return kCreated;
}

void Upp_DebVarList::read(Gen_ExStream& s) {
    switch (m_Layout) {
        case 4:
        case 7: {
            if (m_Layout == 7) {
                s >> m_Extra;
            }
            const uint32_t bytes = static_cast<uint32_t>((static_cast<uint64_t>(m_Count) + 7) / 8);
            if (!hasSelection()) {
                allocSelection(m_Count);
            } else if (m_Selection.m_ByteCount != bytes) {
                m_Error = 2;
                return;
            }
            s.readArray(m_Selection.m_pBytes.get(), bytes, YDB_ELEM_U8);
            // Each loop stops at the first failure: a failed stream reads nothing more.
            uint32_t i = 0;
            for (Gen_ExListElem* e = m_pHead; e != nullptr && s.ok(); e = e->m_pNext, ++i) {
                if (isSelected(i)) {
                    e->read(s);
                }
            }
            break;
        }
        case 6:
            for (Gen_ExListElem* e = m_pHead; e != nullptr && s.ok(); e = e->m_pNext) {
                e->read(s);
            }
            break;
        default: {
            clear();
            // The size describes the variables held, so it starts again with them.
            m_DataSize = 0;
            int32_t count = 0;
            s >> count;
            readElements(s, count);
            if (m_Layout == 0 && m_ServiceType != 1) {
                allocSelection(m_Count);
            }
            break;
        }
    }
}

void Upp_DebVarList::write(Gen_ExStream& s) const {
    switch (m_Layout) {
        case 4:
        case 7: {
            if (m_Layout == 7) {
                s << m_Extra;
            }
            if (hasSelection()) {
                s.writeArray(m_Selection.m_pBytes.get(), m_Selection.m_ByteCount, YDB_ELEM_U8);
            }
            uint32_t i = 0;
            for (const Gen_ExListElem* e = m_pHead; e != nullptr; e = e->m_pNext, ++i) {
                if (isSelected(i)) {
                    e->write(s);
                }
            }
            break;
        }
        case 6:
            for (const Gen_ExListElem* e = m_pHead; e != nullptr; e = e->m_pNext) {
                e->write(s);
            }
            break;
        default:
            Gen_ExList::write(s);
            break;
    }
}

// Upp_DebJobDescr

Upp_DebJobDescr::Upp_DebJobDescr() : m_VarList(-1) {}

void Upp_DebJobDescr::read(Gen_ExStream& s) {
    if (m_ReadCount != 0) {
        // Read once only: a second read consumes the rest of the data and changes nothing.
        char c = 0;
        while (s.ok()) {
            s >> c;
        }
        return;
    }
    ++m_ReadCount;
    m_Options = 0;
    readChar(s, m_Kind);
    readChar(s, m_JobType);
    switch (m_JobType) {
        case 1:
            s >> m_Param;
            break;
        case 2: {
            m_Name.read(s);
            s >> m_ValA >> m_ValB >> m_ValD;
            m_InstrIds.read(s);
            int32_t options = 0;
            s >> options;
            if (s.ok()) {
                m_Options = static_cast<uint32_t>(options);
            }
            if (m_Options & 1u) {
                std::memset(m_Ident, 0, sizeof m_Ident);
                s.readArray(m_Ident, 16, YDB_ELEM_U8);
                s >> m_ValE >> m_ValF;
            }
            break;
        }
        case 3:
            s >> m_ValB >> m_ValD;
            break;
        case 4:
            s >> m_ValC;
            break;
        case 6: {
            s >> m_ValB >> m_ValD;
            int32_t options = 0;
            s >> options;
            if (s.ok()) {
                m_Options = static_cast<uint32_t>(options);
            }
            break;
        }
        case 7:
            s.readArray(m_Ident2, 16, YDB_ELEM_U8);
            break;
        default:
            break;
    }
    if (m_Options & 2u) {
        m_VarList.read(s);
    }
}

void Upp_DebJobDescr::write(Gen_ExStream& s) const {
    writeChar(s, m_Kind);
    writeChar(s, m_JobType);
    switch (m_JobType) {
        case 1:
            s << m_Param;
            break;
        case 2:
            m_Name.write(s);
            s << m_ValA << m_ValB << m_ValD;
            m_InstrIds.write(s);
            s << static_cast<int32_t>(m_Options);
            if (m_Options & 1u) {
                s.writeArray(m_Ident, 16, YDB_ELEM_U8);
                s << m_ValE << m_ValF;
            }
            break;
        case 3:
            s << m_ValB << m_ValD;
            break;
        case 4:
            s << m_ValC;
            break;
        case 6:
            s << m_ValB << m_ValD << static_cast<int32_t>(m_Options);
            break;
        case 7:
            s.writeArray(m_Ident2, 16, YDB_ELEM_U8);
            break;
        default:
            break;
    }
    if (m_Options & 2u) {
        m_VarList.write(s);
    }
}

// Upp_DebService, Upp_DebServiceCyc

bool Upp_DebService::read(Gen_ExStream& s) {
    signed char response = 0;
    s >> response;
    if (s.ok()) {
        m_bResponse = response != 0;
    }
    readChar(s, m_ServiceType);
    return s.ok();
}

void Upp_DebService::write(Gen_ExStream& s) {
    s << static_cast<signed char>(m_bResponse ? 1 : 0);
    writeChar(s, m_ServiceType);
}

void Upp_DebService::setRequest() {
    m_bResponse = false;
}

void Upp_DebService::setResponse() {
    m_bResponse = true;
}

void Upp_DebService::setServiceType(uint32_t serviceType) {
    m_ServiceType = serviceType;
}

bool Upp_DebServiceCyc::read(Gen_ExStream& s) {
    Upp_DebService::read(s);
    if (m_bResponse && m_ServiceType == 15) {
        readChar(s, m_RspQualifier);
    } else if (!m_bResponse && m_ServiceType == 66) {
        readChar(s, m_ReqQualifier);
    }
    return s.ok();
}

void Upp_DebServiceCyc::write(Gen_ExStream& s) {
    Upp_DebService::write(s);
    if (m_bResponse && m_ServiceType == 15) {
        writeChar(s, m_RspQualifier);
    } else if (!m_bResponse && m_ServiceType == 66) {
        writeChar(s, m_ReqQualifier);
    }
}

// Upp_DebVarService

Upp_DebVarService::Upp_DebVarService(uint32_t variant, int32_t listTag)
    : m_Variant(variant), m_VarList(listTag) {
    Upp_DebVarService::setRequest();
}

uint32_t Upp_DebVarService::layoutFor(uint32_t variant, bool response,
                                      uint32_t serviceType) noexcept {
    if (variant == 1) {
        if (!response) {
            return 0;
        }
        if (isOneOf(serviceType, {9, 81, 82, 83})) {
            return 6;
        }
        return serviceType == 60 ? 7 : 1;
    }
    if (!response) {
        return 2;
    }
    return isOneOf(serviceType, {81, 83}) ? 8 : 3;
}

void Upp_DebVarService::updateLayout() noexcept {
    m_VarList.setLayout(layoutFor(m_Variant, m_bResponse, m_ServiceType), m_ServiceType);
}

void Upp_DebVarService::setRequest() {
    Upp_DebServiceCyc::setRequest();
    updateLayout();
}

void Upp_DebVarService::setResponse() {
    Upp_DebServiceCyc::setResponse();
    updateLayout();
}

void Upp_DebVarService::setServiceType(uint32_t serviceType) {
    Upp_DebServiceCyc::setServiceType(serviceType);
    updateLayout();
}

void Upp_DebVarService::readVarList(Gen_ExStream& s) {
    if (m_Status != 0) {
        return;
    }
    updateLayout();
    m_VarList.read(s);
    switch (m_VarList.m_Error) {
        case 0:
            m_Status = 0;
            break;
        case 1:
            m_Status = 1;
            break;
        case 2:
            m_Status = 4;
            break;
        default:
            m_Status = 11;
            break;
    }
}

bool Upp_DebVarService::read(Gen_ExStream& s) {
    Gen_ExSequence sequence(s);
    Upp_DebServiceCyc::read(s);
    if (m_bResponse) {
        if (isOneOf(m_ServiceType, {9, 11, 60, 82, 83})) {
            readVarList(s);
        }
    } else if (isOneOf(m_ServiceType, {1, 2, 3})) {
        m_JobDescr.read(s);
        m_ReqQualifier = m_JobDescr.m_Kind;
        if (m_JobDescr.m_Kind == 2) {
            m_VarList.setTag(-2);
        }
        readVarList(s);
    } else if (isOneOf(m_ServiceType, {9, 60})) {
        uint8_t flags = 0;
        s >> flags;
        if (s.ok()) {
            m_Flags = flags;
        }
        if (m_Flags & 2u) {
            s >> m_Value;
        }
    }
    const bool good = s.good();
    if (!good) {
        m_Status = 4;
    }
    return good;
}

void Upp_DebVarService::write(Gen_ExStream& s) {
    Gen_ExSequence sequence(s);
    Upp_DebServiceCyc::write(s);
    if (m_bResponse) {
        if (isOneOf(m_ServiceType, {9, 11, 60, 82, 83}) && m_Status == 0) {
            m_VarList.write(s);
        }
    } else if (isOneOf(m_ServiceType, {1, 2, 3})) {
        m_JobDescr.write(s);
        m_VarList.write(s);
    } else if (isOneOf(m_ServiceType, {9, 60})) {
        s << static_cast<uint8_t>(m_Flags & 0xFFu);
        if (m_Flags & 2u) {
            s << m_Value;
        }
    }
}

// Header records

void YDB_DataHeader::read(Gen_ExStream& s) noexcept {
    s >> m_Words[0] >> m_Words[1] >> m_Words[2] >> m_Words[3];
}

void YDB_DataHeader::write(Gen_ExStream& s) const noexcept {
    s << m_Words[0] << m_Words[1] << m_Words[2] << m_Words[3];
}

void YDB_RecordHeader::read(Gen_ExStream& s) noexcept {
    s >> m_Cmd >> m_SubCmd >> m_Length;
}

void YDB_RecordHeader::write(Gen_ExStream& s) const noexcept {
    s << m_Cmd << m_SubCmd << m_Length;
}
