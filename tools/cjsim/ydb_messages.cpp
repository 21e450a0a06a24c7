// The YDB clients' messages, written and read with the debug-service message classes.
#include "ydb_messages.h"

#include "onl/ydbservice/upp_debservice.h"

namespace cjsim {

namespace {

constexpr uint16_t kCmdVarService = 0xC101;
constexpr uint32_t kServiceCyclicRead = 2;
constexpr uint32_t kServiceValues = 11;
constexpr uint32_t kAddrPair = 3;  // two 32-bit words: unit and area, type and element
constexpr uint32_t kDataU32 = 2;
constexpr ULONG kPrefix = 16;

Upp_DebVar Variable(const NameRange& e, uint32_t value) {
    Upp_DebVar v;
    v.m_Result = 0;
    v.m_AddrType = kAddrPair;
    v.m_AddrA = static_cast<uint32_t>(e.unit) << 16 | static_cast<uint32_t>(e.area);
    v.m_AddrB = static_cast<uint32_t>(e.typ) << 16 | static_cast<uint32_t>(e.start);
    v.m_DataType = kDataU32;
    v.m_Value = value;
    return v;
}

bool WriteMessage(IYDB_Data* data, ULONG rt, uint16_t subCmd, Upp_DebVarService& m) {
    if (data == nullptr || data->InitData(1, 4, rt, 0, 0) != S_OK) {
        return false;
    }
    Gen_ExStream s(data);
    YDB_RecordHeader{kCmdVarService, subCmd, 0}.write(s);
    m.write(s);
    return s.good();
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
    Upp_DebVarService m(1, -1);
    m.setServiceType(kServiceCyclicRead);
    m.m_JobDescr.m_JobType = 1;
    m.m_JobDescr.m_Param = static_cast<uint32_t>(cycle);
    for (const NameRange& e : elements) {
        m.m_VarList.add(Variable(e, 0));
    }
    return WriteMessage(data, 0, 0, m);
}

bool WriteValues(IYDB_Data* data, unsigned long rt, const std::vector<NameRange>& elements,
                 const std::vector<uint32_t>& values) {
    Upp_DebVarService m(1, -1);
    m.setServiceType(kServiceValues);
    m.setResponse();
    for (size_t i = 0; i < elements.size() && i < values.size(); ++i) {
        m.m_VarList.add(Variable(elements[i], values[i]));
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
    Gen_ExStream s(data);
    YDB_DataHeader dataHeader;
    YDB_RecordHeader recordHeader;
    dataHeader.read(s);
    recordHeader.read(s);
    Upp_DebVarService m(1, -1);
    if (!m.read(s) || m.m_Status != 0) {
        return false;
    }
    for (const Gen_ExListElem* e = m.m_VarList.m_pHead; e != nullptr; e = e->m_pNext) {
        const auto& v = static_cast<const Upp_DebVar&>(*e);
        elements.push_back({static_cast<int>(v.m_AddrA >> 16), static_cast<int>(v.m_AddrA & 0xFFFF),
                            static_cast<int>(v.m_AddrB >> 16), static_cast<int>(v.m_AddrB & 0xFFFF),
                            1});
        values.push_back(static_cast<uint32_t>(v.m_Value));
    }
    return true;
}

}  // namespace cjsim
