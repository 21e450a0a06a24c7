// The target's debug variable service messages (requests and responses), the lists they are made
// of and the two header records that frame a message in a YDB data object. Each class reads and
// writes its fields in one fixed wire order through a Gen_ExStream.
#pragma once

#include <cstdint>
#include <memory>

#include "onl/ydbservice/gen_exstream.h"

// A growable byte buffer, zero-terminated, with an inline buffer for short contents.
class Gen_ByteString {
  public:
    static constexpr uint32_t kInlineSize = 48;

    Gen_ByteString() noexcept;
    Gen_ByteString(const Gen_ByteString& other) noexcept;
    Gen_ByteString& operator=(const Gen_ByteString& other) noexcept;
    ~Gen_ByteString();

    // Empties the string; the capacity stays.
    void reset() noexcept;
    // Appends up to n bytes and returns how many were taken (fewer only when growth failed).
    uint32_t append(const void* pBytes, uint32_t n) noexcept;
    // Appends n zero bytes, like append.
    uint32_t extend(uint32_t n) noexcept;

    const uint8_t* data() const noexcept { return m_pData; }
    uint8_t* data() noexcept { return m_pData; }
    uint32_t length() const noexcept { return m_Length; }

    // u32 length, then the bytes. A length above the stream's byte count is not read.
    void read(Gen_ExStream& s) noexcept;
    void write(Gen_ExStream& s) const noexcept;

    uint32_t m_Capacity;
    uint32_t m_Length;
    uint8_t* m_pData;
    BOOL m_bOk;

  private:
    // Room for `more` bytes plus the terminator; false when it could not all be had.
    bool reserve(uint64_t more) noexcept;

    uint8_t m_Inline[kInlineSize];
};

class Gen_ExListElem {
  public:
    Gen_ExListElem() = default;
    virtual ~Gen_ExListElem() = default;
    virtual Gen_ExListElem* clone() const = 0;
    virtual void read(Gen_ExStream& s) = 0;
    virtual void write(Gen_ExStream& s) const = 0;

    Gen_ExListElem* m_pNext = nullptr;

  protected:
    // A copy is not linked into any list.
    Gen_ExListElem(const Gen_ExListElem&) noexcept : m_pNext(nullptr) {}
    Gen_ExListElem& operator=(const Gen_ExListElem&) = delete;
};

// A list that owns its elements. m_Error: 0 fine, 1 making an element failed, 2 the stream failed
// while reading an element.
class Gen_ExList {
  public:
    enum CreateResult { kCreated = 0, kNotMade = 1, kStreamFailed = 2 };

    Gen_ExList() = default;
    virtual ~Gen_ExList();
    Gen_ExList(const Gen_ExList&) = delete;
    Gen_ExList& operator=(const Gen_ExList&) = delete;

    // Count (read as i32), then the elements, until one fails.
    virtual void read(Gen_ExStream& s);
    virtual void write(Gen_ExStream& s) const;
    // Makes and reads one element; see CreateResult.
    virtual int createElement(Gen_ExStream& s, Gen_ExListElem*& pElem) = 0;

    void append(Gen_ExListElem* pElem) noexcept;
    void add(const Gen_ExListElem& elem);
    void clear() noexcept;

    uint32_t m_Count = 0;
    Gen_ExListElem* m_pHead = nullptr;
    Gen_ExListElem* m_pTail = nullptr;
    uint32_t m_Error = 0;

  protected:
    void readElements(Gen_ExStream& s, int32_t count);
};

class Upp_AddrVariant {
  public:
    Upp_AddrVariant() = default;
    Upp_AddrVariant(const Upp_AddrVariant&) = default;
    Upp_AddrVariant& operator=(const Upp_AddrVariant&) = default;
    virtual ~Upp_AddrVariant() = default;

    // The 8 address bytes seen as two 16-bit words and m_AddrB: m_AddrLo is the low half of
    // m_AddrA, m_AddrHi its high half.
    uint16_t addrLo() const noexcept { return static_cast<uint16_t>(m_AddrA & 0xFFFFu); }
    uint16_t addrHi() const noexcept { return static_cast<uint16_t>(m_AddrA >> 16); }
    void setAddrLo(uint16_t v) noexcept { m_AddrA = (m_AddrA & 0xFFFF0000u) | v; }
    void setAddrHi(uint16_t v) noexcept {
        m_AddrA = (m_AddrA & 0xFFFFu) | (static_cast<uint32_t>(v) << 16);
    }

    void readAddress(Gen_ExStream& s) noexcept;
    void writeAddress(Gen_ExStream& s) const noexcept;

    uint32_t m_AddrType = 6;
    uint32_t m_AddrA = 0;
    uint32_t m_AddrB = 0;
    Gen_ByteString m_Name;
};

class Upp_DataVariant {
  public:
    enum : uint32_t { kBlock = 10, kString = 11, kPair = 12, kNoValue = 13 };
    // m_Result after a string value had to be cut to its capacity.
    static constexpr uint32_t kResultCut = 32;

    Upp_DataVariant() = default;
    Upp_DataVariant(const Upp_DataVariant& other);
    Upp_DataVariant& operator=(const Upp_DataVariant&) = delete;
    virtual ~Upp_DataVariant() = default;

    // A zeroed block of `length` bytes (type 10).
    void setBlock(uint16_t length);
    // An empty string of `capacity` characters (type 11): byte 0 capacity, byte 1 length.
    void setString(uint8_t capacity);
    // Sets a string's characters, cut to its capacity; false when it is not a string.
    bool setStringValue(const char* text, uint32_t length) noexcept;
    // The value bytes of a block or string; null for a block whose value was not read yet (its
    // bytes are zero) and for other types.
    uint8_t* buffer() const noexcept { return m_pBuffer.get(); }
    uint32_t bufferLength() const noexcept { return m_BufferLength; }
    // The size the variable adds to a list's m_DataSize.
    uint32_t dataSize() const noexcept;

    void readResult(Gen_ExStream& s) noexcept;
    void writeResult(Gen_ExStream& s) const noexcept;
    void readTypeDescriptor(Gen_ExStream& s);
    void writeTypeDescriptor(Gen_ExStream& s) const noexcept;
    void readValue(Gen_ExStream& s);
    void writeValue(Gen_ExStream& s) const noexcept;

    uint32_t m_Result = 10;
    uint32_t m_DataType = kNoValue;
    // Values of up to 8 bytes, in their low bytes; blocks and strings live in the buffer.
    uint64_t m_Value = 0;

  private:
    void allocate(uint32_t length);
    void readNumberValue(Gen_ExStream& s) noexcept;
    void readBlockValue(Gen_ExStream& s);
    void readStringValue(Gen_ExStream& s) noexcept;

    std::unique_ptr<uint8_t[]> m_pBuffer;
    uint32_t m_BufferLength = 0;
};

class Upp_DebVar : public Gen_ExListElem, public Upp_AddrVariant, public Upp_DataVariant {
  public:
    Upp_DebVar() = default;
    Upp_DebVar(const Upp_DebVar& other) = default;
    Upp_DebVar& operator=(const Upp_DebVar&) = delete;
    ~Upp_DebVar() override = default;

    Gen_ExListElem* clone() const override;
    void read(Gen_ExStream& s) override;
    void write(Gen_ExStream& s) const override;

    int32_t m_Tag = -1;
    uint32_t m_Layout = 0;
};

class Upp_DebInstrId : public Gen_ExListElem {
  public:
    Upp_DebInstrId() = default;
    Upp_DebInstrId(const Upp_DebInstrId&) = default;
    Upp_DebInstrId& operator=(const Upp_DebInstrId&) = delete;

    Gen_ExListElem* clone() const override;
    void read(Gen_ExStream& s) override;
    void write(Gen_ExStream& s) const override;

    uint32_t m_InstrA = 0;
    uint32_t m_InstrB = 0;
};

class Upp_InstrIdList : public Gen_ExList {
  public:
    int createElement(Gen_ExStream& s, Gen_ExListElem*& pElem) override;
};

// One bit per list element: bit i in byte i / 8 at bit i % 8 (least significant first).
struct Upp_BitSet {
    uint32_t m_ByteCount = 0;
    std::unique_ptr<uint8_t[]> m_pBytes;
};

class Upp_DebVarList : public Gen_ExList {
  public:
    explicit Upp_DebVarList(int32_t tag) noexcept;
    ~Upp_DebVarList() override;

    void read(Gen_ExStream& s) override;
    void write(Gen_ExStream& s) const override;
    int createElement(Gen_ExStream& s, Gen_ExListElem*& pElem) override;

    // Appends a copy of var, laid out like the list, and counts its data size.
    void add(const Upp_DebVar& var);
    // As add for each variable of `from`, in order, moving them instead of copying; `from` is
    // left empty.
    void takeAll(Upp_DebVarList& from) noexcept;
    // Sets the layout code and service type of the list and the layout of every element.
    void setLayout(uint32_t layout, uint32_t serviceType) noexcept;
    // Sets the tag of the list and of every element.
    void setTag(int32_t tag) noexcept;

    // The selection bit set.
    void allocSelection(uint32_t elementCount);
    void clearSelection() noexcept;
    bool isSelected(uint32_t i) const noexcept;
    void select(uint32_t i) noexcept;
    bool hasSelection() const noexcept { return m_Selection.m_pBytes != nullptr; }

    int32_t m_Tag;
    Upp_DebVar* (*m_pfnCreate)();
    uint32_t m_Layout = 0;
    uint32_t m_ServiceType = 1;
    uint32_t m_Extra = 0;
    uint32_t m_DataSize = 0;
    Upp_BitSet m_Selection;
};

// The job description carried by a variable-service request of service type 1, 2 or 3. It is
// read once; a later read into the same object only consumes the stream.
class Upp_DebJobDescr {
  public:
    Upp_DebJobDescr();
    Upp_DebJobDescr(const Upp_DebJobDescr&) = delete;
    Upp_DebJobDescr& operator=(const Upp_DebJobDescr&) = delete;

    void read(Gen_ExStream& s);
    void write(Gen_ExStream& s) const;

    uint32_t m_Kind = 0;
    uint32_t m_JobType = 0;
    uint32_t m_Param = 0;
    Gen_ByteString m_Name;
    uint32_t m_ValA = 0;
    uint32_t m_ValB = 0;
    uint32_t m_ValC = 0;
    uint32_t m_ValD = 1;
    Upp_InstrIdList m_InstrIds;
    uint32_t m_Options = 0;
    uint8_t m_Ident[16] = {};
    uint32_t m_ValE = 0;
    uint32_t m_ValF = 0;
    uint32_t m_ReadCount = 0;
    Upp_DebVarList m_VarList;
    uint8_t m_Ident2[16] = {};
};

class Upp_DebService {
  public:
    Upp_DebService() = default;
    Upp_DebService(const Upp_DebService&) = delete;
    Upp_DebService& operator=(const Upp_DebService&) = delete;
    virtual ~Upp_DebService() = default;

    // Returns whether the stream is still fine.
    virtual bool read(Gen_ExStream& s);
    virtual void write(Gen_ExStream& s);
    virtual void setRequest();
    virtual void setResponse();
    virtual void setServiceType(uint32_t serviceType);

    uint32_t m_ServiceType = 1;
    bool m_bResponse = false;
};

class Upp_DebServiceCyc : public Upp_DebService {
  public:
    bool read(Gen_ExStream& s) override;
    void write(Gen_ExStream& s) override;

    uint32_t m_ReqQualifier = 0;
    uint32_t m_RspQualifier = 0;
};

class Upp_DebVarService : public Upp_DebServiceCyc {
  public:
    Upp_DebVarService(uint32_t variant, int32_t listTag);

    // Returns good() of the stream; a failed stream leaves m_Status 4.
    bool read(Gen_ExStream& s) override;
    void write(Gen_ExStream& s) override;
    void setRequest() override;
    void setResponse() override;
    void setServiceType(uint32_t serviceType) override;

    // The variable layout for a variant, direction and service type.
    static uint32_t layoutFor(uint32_t variant, bool response, uint32_t serviceType) noexcept;

    uint32_t m_Status = 0;
    uint32_t m_Variant;
    Upp_DebJobDescr m_JobDescr;
    Upp_DebVarList m_VarList;
    uint32_t m_Value = 0;
    uint32_t m_Flags = 0;

  private:
    void updateLayout() noexcept;
    void readVarList(Gen_ExStream& s);
};

// The four words in front of the records of a YDB data object (at position 16). The second word
// is the run-time job id.
struct YDB_DataHeader {
    uint16_t m_Words[4] = {};

    void read(Gen_ExStream& s) noexcept;
    void write(Gen_ExStream& s) const noexcept;
};

// The header of one record; m_Length counts the bytes of the message that follows.
struct YDB_RecordHeader {
    uint16_t m_Cmd = 0;
    uint16_t m_SubCmd = 0;
    uint32_t m_Length = 0;

    void read(Gen_ExStream& s) noexcept;
    void write(Gen_ExStream& s) const noexcept;
};
