// Gen_ExStream: typed reads and writes of debug-service messages as element calls on a YDB data
// object. Sticky on failure, so that a message is written or read in one go and tested once.
#pragma once

#include <cstdint>

#include "platform/com_ptr.h"
#include "platform/winapi.h"
#include "ydb_data.h"

// Two 16-bit words and 16 bytes (an identification with its version).
struct Gen_ExIdent {
    uint16_t m_Major = 0;
    uint16_t m_Minor = 0;
    uint8_t m_Bytes[16] = {};
};

// Two 16-bit words (a version).
struct Gen_ExVersion {
    uint16_t m_Major = 0;
    uint16_t m_Minor = 0;
};

// The 32-bit boolean of the reading side; only its low byte travels.
struct Gen_ExBool32 {
    int32_t m_Value = 0;
};

class Gen_ExStream {
  public:
    // Adds a reference to pData; a null pointer gives a bad stream.
    explicit Gen_ExStream(IYDB_Data* pData) noexcept;
    virtual ~Gen_ExStream();
    Gen_ExStream(const Gen_ExStream&) = delete;
    Gen_ExStream& operator=(const Gen_ExStream&) = delete;

    virtual Gen_ExStream& attach(IYDB_Data* pData) noexcept;

    virtual Gen_ExStream& operator<<(IStream* pStream) noexcept;
    virtual Gen_ExStream& operator<<(const Gen_ExIdent& v) noexcept;
    virtual Gen_ExStream& operator<<(const int64_t& v) noexcept;
    virtual Gen_ExStream& operator<<(const uint64_t& v) noexcept;
    virtual Gen_ExStream& operator<<(const Gen_ExVersion& v) noexcept;
    virtual Gen_ExStream& operator<<(double v) noexcept;
    virtual Gen_ExStream& operator<<(float v) noexcept;
    virtual Gen_ExStream& operator<<(int32_t v) noexcept;
    virtual Gen_ExStream& operator<<(uint32_t v) noexcept;
    virtual Gen_ExStream& operator<<(bool v) noexcept;
    virtual Gen_ExStream& operator<<(int16_t v) noexcept;
    virtual Gen_ExStream& operator<<(uint16_t v) noexcept;
    virtual Gen_ExStream& operator<<(uint8_t v) noexcept;
    virtual Gen_ExStream& operator<<(char v) noexcept;
    virtual Gen_ExStream& operator<<(signed char v) noexcept;

    virtual Gen_ExStream& operator>>(IStream* pStream) noexcept;
    virtual Gen_ExStream& operator>>(Gen_ExIdent& v) noexcept;
    virtual Gen_ExStream& operator>>(int64_t& v) noexcept;
    virtual Gen_ExStream& operator>>(uint64_t& v) noexcept;
    virtual Gen_ExStream& operator>>(Gen_ExVersion& v) noexcept;
    virtual Gen_ExStream& operator>>(double& v) noexcept;
    virtual Gen_ExStream& operator>>(float& v) noexcept;
    virtual Gen_ExStream& operator>>(int32_t& v) noexcept;
    virtual Gen_ExStream& operator>>(uint32_t& v) noexcept;
    virtual Gen_ExStream& operator>>(Gen_ExBool32& v) noexcept;
    virtual Gen_ExStream& operator>>(int16_t& v) noexcept;
    virtual Gen_ExStream& operator>>(uint16_t& v) noexcept;
    virtual Gen_ExStream& operator>>(uint8_t& v) noexcept;
    virtual Gen_ExStream& operator>>(char& v) noexcept;
    virtual Gen_ExStream& operator>>(signed char& v) noexcept;

    bool writeArray(const void* pData, uint32_t count, uint32_t typeCode) noexcept;
    bool readArray(void* pTarget, uint32_t count, uint32_t typeCode) noexcept;
    bool writeBytes(const void* pData, uint32_t count) noexcept;
    bool readBytes(void* pTarget, uint32_t count) noexcept;
    uint32_t byteCount() noexcept;
    uint32_t position() noexcept;
    bool commit() noexcept;
    // Touches the data object (also on a bad stream), then tells whether all calls succeeded.
    bool good() noexcept;

    // The state without touching the data object, for the message classes' own decisions.
    bool ok() const noexcept { return m_bGood != FALSE; }
    void setBad() noexcept { m_bGood = FALSE; }

    // One message's element calls under one lock of the data object, where the object offers
    // it (IYDB_DataDirect); nests. Only through Gen_ExSequence.
    void lockSequence() noexcept;
    void unlockSequence() noexcept;

  private:
    void findDirect() noexcept;
    template <class T>
    Gen_ExStream& writeScalar(const T& v, uint32_t typeCode) noexcept;
    template <class T>
    Gen_ExStream& readScalar(T& v, uint32_t typeCode) noexcept;
    // Every element call passes here: inline.
    bool check(HRESULT hr) noexcept {
        if (FAILED(hr)) {
            m_bGood = FALSE;
        }
        return ok();
    }

    platform::ComPtr<IYDB_Data> m_pData;
    BOOL m_bGood;
    // The same object's direct face, or null; kept alive by m_pData, so no reference of its own.
    IYDB_DataDirect* m_pDirect = nullptr;
    unsigned m_sequenceDepth = 0;
};

// Holds the data object's lock across the element calls of one message read or written.
class Gen_ExSequence {
  public:
    explicit Gen_ExSequence(Gen_ExStream& s) noexcept : m_s(s) { m_s.lockSequence(); }
    ~Gen_ExSequence() { m_s.unlockSequence(); }
    Gen_ExSequence(const Gen_ExSequence&) = delete;
    Gen_ExSequence& operator=(const Gen_ExSequence&) = delete;

  private:
    Gen_ExStream& m_s;
};
