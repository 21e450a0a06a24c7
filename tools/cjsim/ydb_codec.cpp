// Element calls of the simulator's two debug-service messages, one call per field in wire order.
#include "ydb_codec.h"

#include <cstring>

#include "platform/raii.h"

namespace cjsim {

namespace {

constexpr uint32_t kAddrPair = 3;  // two 32-bit words
constexpr uint32_t kDataU32 = 2;
constexpr uint32_t kJobTypeCycle = 1;

// Sticky on failure, so that a message is written in one go and tested once.
class ElementWriter {
  public:
    explicit ElementWriter(IYDB_Data* data) : m_data(data), m_good(data != nullptr) {}

    void ch(uint32_t v) { put(static_cast<signed char>(v & 0xFFu), YDB_ELEM_CHAR); }
    void u8(uint32_t v) { put(static_cast<uint8_t>(v & 0xFFu), YDB_ELEM_U8); }
    void u16(uint16_t v) { put(v, YDB_ELEM_U16); }
    void u32(uint32_t v) { put(v, YDB_ELEM_U32); }
    bool good() const { return m_good; }

  private:
    template <class T>
    void put(const T& v, ULONG typeCode) {
        if (m_good) {
            m_good = SUCCEEDED(m_data->WriteElements(&v, 1, YDB_ElementWidth(typeCode), typeCode));
        }
    }

    IYDB_Data* m_data;
    bool m_good;
};

class ElementReader {
  public:
    explicit ElementReader(IYDB_Data* data) : m_data(data), m_good(data != nullptr) {}

    // A character field, sign-extended as the protocol's one-byte numbers are.
    uint32_t ch() {
        return static_cast<uint32_t>(static_cast<int32_t>(get<signed char>(YDB_ELEM_CHAR)));
    }
    uint32_t u8() { return get<uint8_t>(YDB_ELEM_U8); }
    uint16_t u16() { return get<uint16_t>(YDB_ELEM_U16); }
    uint32_t u32() { return get<uint32_t>(YDB_ELEM_U32); }
    int32_t i32() { return get<int32_t>(YDB_ELEM_I32); }
    bool good() const { return m_good; }

  private:
    template <class T>
    T get(ULONG typeCode) {
        T v{};
        if (!m_good) {
            return v;
        }
        platform::UniqueTaskMem<BYTE> buffer;
        m_good = SUCCEEDED(m_data->ReadElements(reinterpret_cast<void**>(buffer.put()), 1,
                                                YDB_ElementWidth(typeCode), typeCode)) &&
                 buffer;
        if (m_good) {
            std::memcpy(&v, buffer.get(), sizeof(T));
        }
        return v;
    }

    IYDB_Data* m_data;
    bool m_good;
};

// Result and value travel in a response only.
bool ReadVariable(ElementReader& r, bool response, YdbVariable& v) {
    if (response) {
        v.result = r.u8();
    }
    if (r.ch() != kAddrPair) {
        return false;
    }
    v.addrA = r.u32();
    v.addrB = r.u32();
    if (r.ch() != kDataU32) {
        return false;
    }
    if (response) {
        v.value = r.u32();
    }
    return r.good();
}

}  // namespace

bool EncodeYdbRecord(IYDB_Data* data, uint16_t cmd, uint16_t subCmd, const YdbMessage& message) {
    ElementWriter w(data);
    w.u16(cmd);
    w.u16(subCmd);
    w.u32(0);
    w.ch(message.response ? 1 : 0);
    w.ch(message.response ? kYdbServiceValues : kYdbServiceCyclicRead);
    if (!message.response) {
        w.ch(0);  // job kind
        w.ch(kJobTypeCycle);
        w.u32(message.cycle);
    }
    w.u32(static_cast<uint32_t>(message.variables.size()));
    for (const YdbVariable& v : message.variables) {
        if (message.response) {
            w.u8(v.result);
        }
        w.ch(kAddrPair);
        w.u32(v.addrA);
        w.u32(v.addrB);
        w.ch(kDataU32);
        if (message.response) {
            w.u32(v.value);
        }
    }
    return w.good();
}

bool DecodeYdbRecord(IYDB_Data* data, YdbRecordFrame& frame, YdbMessage& message) {
    ElementReader r(data);
    for (uint16_t& word : frame.dataHeader) {
        word = r.u16();
    }
    frame.cmd = r.u16();
    frame.subCmd = r.u16();
    frame.length = r.u32();
    message = YdbMessage{};
    message.response = r.ch() != 0;
    const uint32_t service = r.ch();
    if (service != (message.response ? kYdbServiceValues : kYdbServiceCyclicRead)) {
        return false;
    }
    if (!message.response) {
        (void)r.ch();  // job kind
        if (r.ch() != kJobTypeCycle) {
            return false;
        }
        message.cycle = r.u32();
    }
    const int32_t count = r.i32();
    if (!r.good() || count < 0) {
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        YdbVariable v;
        if (!ReadVariable(r, message.response, v)) {
            return false;
        }
        message.variables.push_back(v);
    }
    return r.good();
}

}  // namespace cjsim
