// Arbitrary bytes in a YDB data object, read as a framed message, as a request and a response of
// every service type, and as a response read into a message that already holds variables. A read
// must end in a status or a bad stream; a message read without failure must write an image that
// reads back to the same image.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "onl/ydbservice/upp_debservice.h"
#include "engsys/ydbdata_class.h"

namespace {

using platform::ComPtr;
using Bytes = std::vector<BYTE>;

constexpr uint8_t kServiceTypes[] = {0, 1, 2, 3, 4, 9, 11, 12, 15, 60, 66, 81, 82, 83, 0xFF};

struct Process {
    Process() {
        (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        served = std::make_unique<testing_support::YdbDataClass>();
        if (!served->ready()) {
            __builtin_trap();
        }
    }
    std::unique_ptr<testing_support::YdbDataClass> served;
};

ComPtr<IYDB_Data> holding(const Bytes& bytes) {
    ComPtr<IYDB_Data> d = testing_support::YdbDataClass::create();
    if (!d || FAILED(d->WriteContents(bytes.data(), static_cast<ULONG>(bytes.size()), 0, 0))) {
        __builtin_trap();
    }
    return d;
}

Bytes image(Upp_DebVarService& m) {
    ComPtr<IYDB_Data> d = testing_support::YdbDataClass::create();
    Gen_ExStream s(d.get());
    m.write(s);
    if (!s.good()) {
        __builtin_trap();
    }
    return testing_support::ydb_contents(d.get());
}

// A message read without failure writes itself; reading that back gives the same image.
void check_round_trip(Upp_DebVarService& m, uint32_t variant) {
    const Bytes first = image(m);
    Upp_DebVarService again(variant, -1);
    auto d = holding(first);
    Gen_ExStream s(d.get());
    if (!again.read(s) || again.m_Status != 0 || image(again) != first) {
        __builtin_trap();
    }
}

void read_as(const Bytes& bytes, uint32_t variant) {
    Upp_DebVarService m(variant, -1);
    auto d = holding(bytes);
    Gen_ExStream s(d.get());
    if (m.read(s) && m.m_Status == 0) {
        check_round_trip(m, variant);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Process process;
    if (size > 64 * 1024) {
        return 0;
    }
    const Bytes input(data, data + size);

    // As a data object a reader finds: headers at 16, then the message.
    {
        auto d = holding(input);
        Gen_ExStream s(d.get());
        ULONG ignored = 0;
        if (SUCCEEDED(d->Seek(16, 0, &ignored))) {
            YDB_DataHeader header;
            YDB_RecordHeader record;
            header.read(s);
            record.read(s);
            Upp_DebVarService m(1, -1);
            (void)m.read(s);
        }
    }

    // As a request and a response of every service type, in both variants.
    if (size >= 2) {
        for (uint32_t variant : {1u, 0u}) {
            for (BYTE response : {0, 1}) {
                for (uint8_t type : kServiceTypes) {
                    Bytes bytes = input;
                    bytes[0] = response;
                    bytes[1] = type;
                    read_as(bytes, variant);
                }
            }
        }
    }

    // A request that names variables, then a response of the same message object over the
    // rest, as a cycle's values are read (layouts without a count of their own).
    {
        auto d = holding(input);
        Gen_ExStream s(d.get());
        Upp_DebVarService m(1, -1);
        (void)m.read(s);
        const uint32_t position = s.position();
        for (uint8_t type : {9, 60, 81}) {
            ULONG ignored = 0;
            (void)d->Seek(position, 0, &ignored);
            Gen_ExStream rest(d.get());
            m.m_Status = 0;
            m.setServiceType(type);
            m.setResponse();
            (void)m.m_VarList.read(rest);
            (void)image(m);
        }
    }
    return 0;
}
