// Arbitrary bytes in a YDB data object, read as a framed message, as a request or a response of
// any service type, and as responses read into a message that already holds variables. A read
// must end in a status or a bad stream; a message read without failure must write an image that
// reads back to the same image; and what a message holds after a read stays within a small
// multiple of the bytes it was read from.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "held_memory.h"
#include "engsys/memory_ydb_data.h"
#include "onl/ydbservice/upp_debservice.h"

namespace {

using Bytes = std::vector<BYTE>;
using engsys::MemoryYdbData;

// Per input byte a message may hold at most this much: a variable takes a few bytes of input and
// holds its object, a string its capacity (up to 257 bytes) from a one-byte descriptor. Blocks
// hold only bytes that arrived.
constexpr size_t kHeldPerByte = 256;
constexpr size_t kHeldSlack = 16 * 1024;

// Blocks named in four bytes write their whole length as a response: images of messages that
// announce far more data than their input held are not written, so that time goes to reading.
bool worth_writing(const Upp_DebVarService& m, size_t inputSize) {
    return m.m_VarList.m_DataSize <= 16 * inputSize + 4096;
}

Bytes image(Upp_DebVarService& m) {
    MemoryYdbData d;
    Gen_ExStream s(&d);
    m.write(s);
    if (!s.good()) {
        __builtin_trap();
    }
    return d.bytes();
}

// A message read without failure writes itself; reading that back gives the same image.
void check_round_trip(Upp_DebVarService& m, uint32_t variant) {
    const Bytes first = image(m);
    Upp_DebVarService again(variant, -1);
    MemoryYdbData d(first);
    Gen_ExStream s(&d);
    if (!again.read(s) || again.m_Status != 0 || image(again) != first) {
        __builtin_trap();
    }
}

void read_as(const Bytes& bytes, uint32_t variant) {
    MemoryYdbData d(bytes);
    const size_t before = fuzzing::held_bytes();
    Upp_DebVarService m(variant, -1);
    Gen_ExStream s(&d);
    const bool read = m.read(s);
    fuzzing::check_held(before, bytes.size(), kHeldPerByte, kHeldSlack);
    if (read && m.m_Status == 0 && worth_writing(m, bytes.size())) {
        check_round_trip(m, variant);
    }
}

}  // namespace

// The first byte chooses how the rest is read (bit 0: the message variant, bits 1-2: the road);
// the fuzzer reaches every direction and service type through the message's own first bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 64 * 1024) {
        return 0;
    }
    const uint32_t variant = (data[0] & 1u) != 0 ? 0u : 1u;
    const unsigned road = (data[0] >> 1) & 3u;
    const Bytes input(data + 1, data + size);

    switch (road) {
        case 0:  // a message of either direction and any service type
        case 3:
            read_as(input, variant);
            break;
        case 1: {  // as a data object a reader finds: headers at 16, then the message
            MemoryYdbData d(input);
            const size_t before = fuzzing::held_bytes();
            Gen_ExStream s(&d);
            ULONG ignored = 0;
            if (SUCCEEDED(d.Seek(16, 0, &ignored))) {
                YDB_DataHeader header;
                YDB_RecordHeader record;
                header.read(s);
                record.read(s);
                Upp_DebVarService m(variant, -1);
                (void)m.read(s);
                fuzzing::check_held(before, input.size(), kHeldPerByte, kHeldSlack);
            }
            break;
        }
        default: {
            // A request that names variables, then responses of the same message object over the
            // rest, as a cycle's values are read (layouts without a count of their own).
            MemoryYdbData d(input);
            const size_t before = fuzzing::held_bytes();
            Gen_ExStream s(&d);
            Upp_DebVarService m(variant, -1);
            (void)m.read(s);
            const uint32_t position = s.position();
            for (uint8_t type : {9, 60, 81}) {
                ULONG ignored = 0;
                (void)d.Seek(position, 0, &ignored);
                Gen_ExStream rest(&d);
                m.m_Status = 0;
                m.setServiceType(type);
                m.setResponse();
                m.m_VarList.read(rest);
                fuzzing::check_held(before, input.size(), kHeldPerByte, kHeldSlack);
                if (worth_writing(m, input.size())) {
                    (void)image(m);
                }
            }
            break;
        }
    }
    return 0;
}
