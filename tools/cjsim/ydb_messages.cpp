// The YDB clients' messages, written and read with the simulator's own codec.
#include "ydb_messages.h"

#include "ydb_codec.h"

namespace cjsim {

namespace {

constexpr ULONG kPrefix = 16;

YdbVariable Variable(const NameRange& e, uint32_t value) {
    YdbVariable v;
    v.addrA = static_cast<uint32_t>(e.unit) << 16 | static_cast<uint32_t>(e.area);
    v.addrB = static_cast<uint32_t>(e.typ) << 16 | static_cast<uint32_t>(e.start);
    v.value = value;
    return v;
}

bool WriteMessage(IYDB_Data* data, ULONG rt, uint16_t subCmd, const YdbMessage& m) {
    if (data == nullptr || data->InitData(1, 4, rt, 0, 0) != S_OK) {
        return false;
    }
    return EncodeYdbRecord(data, kYdbCmdVarService, subCmd, m);
}

}  // namespace

std::vector<NameRange> Elements(const std::vector<NameRange>& ranges) {
    std::vector<NameRange> out;
    for (const NameRange& r : ranges) {
        for (int k = 0; k < r.cnt; ++k) {
            out.push_back({r.unit, r.area, r.typ, r.start + k, 1});
        }
    }
    return out;
}

platform::ComPtr<IYDB_Data> CreateYDBData() {
    platform::ComPtr<IYDB_Data> data;
    if (FAILED(CoCreateInstance(CLSID_YDB_Data, nullptr, CLSCTX_INPROC_SERVER, IID_IYDB_Data,
                                data.put_void()))) {
        data.reset();
    }
    return data;
}

bool WriteRequest(IYDB_Data* data, long cycle, const std::vector<NameRange>& elements) {
    YdbMessage m;
    m.cycle = static_cast<uint32_t>(cycle);
    for (const NameRange& e : elements) {
        m.variables.push_back(Variable(e, 0));
    }
    return WriteMessage(data, 0, 0, m);
}

bool WriteValues(IYDB_Data* data, unsigned long rt, const std::vector<NameRange>& elements,
                 const std::vector<uint32_t>& values) {
    YdbMessage m;
    m.response = true;
    for (size_t i = 0; i < elements.size() && i < values.size(); ++i) {
        m.variables.push_back(Variable(elements[i], values[i]));
    }
    return WriteMessage(data, static_cast<ULONG>(rt), 1, m);
}

bool ResetOutput(IYDB_Data* data) {
    return data->InitData(1, 0, 0, 0, 0) == S_OK && data->SetByteCount(kPrefix) == S_OK;
}

bool ReadVariables(IYDB_Data* data, std::vector<NameRange>& elements,
                   std::vector<uint32_t>& values) {
    elements.clear();
    values.clear();
    ULONG ignored = 0;
    if (FAILED(data->Seek(kPrefix, 0, &ignored))) {
        return false;
    }
    YdbRecordFrame frame;
    YdbMessage m;
    if (!DecodeYdbRecord(data, frame, m)) {
        return false;
    }
    for (const YdbVariable& v : m.variables) {
        elements.push_back({static_cast<int>(v.addrA >> 16), static_cast<int>(v.addrA & 0xFFFF),
                            static_cast<int>(v.addrB >> 16), static_cast<int>(v.addrB & 0xFFFF),
                            1});
        values.push_back(v.value);
    }
    return true;
}

}  // namespace cjsim
