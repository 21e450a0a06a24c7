// A response of 256 variables of mixed data types written and read through the YDB data object
// stand-in, beside the same fields encoded to and decoded from a plain byte buffer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "bench/ratio.h"
#include "bench/ydb_class.h"
#include "onl/ydbservice/upp_debservice.h"
#include "engsys/ydbdata_class.h"

namespace {

constexpr int kVariables = 256;
constexpr uint32_t kDataTypes[] = {0, 1, 2, 3, 8, 10, 11, 12};

Upp_DebVar variable(int i) {
    Upp_DebVar v;
    v.m_Result = 0;
    v.m_AddrType = static_cast<uint32_t>(i % 2 == 0 ? 1 : 5);
    v.m_AddrA = 0x10000u + static_cast<uint32_t>(i);
    v.m_AddrB = static_cast<uint32_t>(i) * 4;
    const uint32_t type = kDataTypes[i % 8];
    if (type == Upp_DataVariant::kBlock) {
        v.setBlock(8);
    } else if (type == Upp_DataVariant::kString) {
        v.setString(16);
        v.setStringValue("value text", 10);
    } else {
        v.m_DataType = type;
        v.m_Value = 0x0102030405060708ull * static_cast<uint64_t>(i);
    }
    return v;
}

void BM_UppResponseThroughDataObject(benchmark::State& state) {
    bench::ServeYdbDataClass();
    Upp_DebVarService out(1, -1);
    out.setServiceType(11);
    out.setResponse();
    for (int i = 0; i < kVariables; ++i) {
        out.m_VarList.add(variable(i));
    }
    auto data = testing_support::YdbDataClass::create();
    bench::LoopClock clock;
    for (auto _ : state) {
        ULONG ignored = 0;
        data->SetByteCount(0);
        Gen_ExStream s(data.get());
        out.write(s);
        data->Seek(0, 0, &ignored);
        Upp_DebVarService back(1, -1);
        back.read(s);
        if (back.m_VarList.m_Count != kVariables) {
            state.SkipWithError("read back fewer variables");
        }
        benchmark::DoNotOptimize(back.m_VarList.m_DataSize);
    }
    bench::ReportRatio(bench::Key("upp_response", state, 0), clock, state);
}

// The same fields in the same order, little-endian, on plain structs and a byte vector.
struct PlainVar {
    uint8_t result;
    uint8_t addrType;
    uint32_t addrA, addrB;
    uint8_t dataType;
    uint64_t value;
    std::vector<uint8_t> buffer;
};

template <class T>
void put(std::vector<uint8_t>& b, T v) {
    const size_t at = b.size();
    b.resize(at + sizeof v);
    std::memcpy(b.data() + at, &v, sizeof v);
}

template <class T>
T take(const std::vector<uint8_t>& b, size_t& at) {
    T v;
    std::memcpy(&v, b.data() + at, sizeof v);
    at += sizeof v;
    return v;
}

void BM_UppResponsePlainBuffer(benchmark::State& state) {
    std::vector<PlainVar> vars;
    for (int i = 0; i < kVariables; ++i) {
        const Upp_DebVar v = variable(i);
        PlainVar p{0,         static_cast<uint8_t>(v.m_AddrType), v.m_AddrA,
                   v.m_AddrB, static_cast<uint8_t>(v.m_DataType), v.m_Value,
                   {}};
        if (v.buffer() != nullptr) {
            p.buffer.assign(v.buffer(), v.buffer() + v.bufferLength());
        }
        vars.push_back(std::move(p));
    }
    std::vector<uint8_t> bytes;
    bench::LoopClock clock;
    for (auto _ : state) {
        bytes.clear();
        put<uint8_t>(bytes, 1);
        put<uint8_t>(bytes, 11);
        put<uint32_t>(bytes, kVariables);
        for (const PlainVar& v : vars) {
            put(bytes, v.result);
            put(bytes, v.addrType);
            if (v.addrType == 1) {
                put(bytes, v.addrA);
            } else {
                put(bytes, v.addrB);
                put<uint16_t>(bytes, static_cast<uint16_t>(v.addrA >> 16));
                put<uint16_t>(bytes, static_cast<uint16_t>(v.addrA));
            }
            put(bytes, v.dataType);
            switch (v.dataType) {
                case 0:
                    put<uint8_t>(bytes, static_cast<uint8_t>(v.value));
                    break;
                case 1:
                    put<uint16_t>(bytes, static_cast<uint16_t>(v.value));
                    break;
                case 2:
                case 8:
                    put<uint32_t>(bytes, static_cast<uint32_t>(v.value));
                    break;
                case 3:
                case 12:
                    put<uint64_t>(bytes, v.value);
                    break;
                case 10:
                    put<uint16_t>(bytes, static_cast<uint16_t>(v.buffer.size()));
                    bytes.insert(bytes.end(), v.buffer.begin(), v.buffer.end());
                    break;
                case 11:
                    put(bytes, v.buffer[0]);
                    put(bytes, v.buffer[1]);
                    bytes.insert(bytes.end(), v.buffer.begin() + 2,
                                 v.buffer.begin() + 2 + v.buffer[1]);
                    break;
                default:
                    break;
            }
        }
        size_t at = 6;
        std::vector<PlainVar> back(kVariables);
        for (PlainVar& v : back) {
            v.result = take<uint8_t>(bytes, at);
            v.addrType = take<uint8_t>(bytes, at);
            if (v.addrType == 1) {
                v.addrA = take<uint32_t>(bytes, at);
            } else {
                v.addrB = take<uint32_t>(bytes, at);
                v.addrA = uint32_t(take<uint16_t>(bytes, at)) << 16;
                v.addrA |= take<uint16_t>(bytes, at);
            }
            v.dataType = take<uint8_t>(bytes, at);
            switch (v.dataType) {
                case 0:
                    v.value = take<uint8_t>(bytes, at);
                    break;
                case 1:
                    v.value = take<uint16_t>(bytes, at);
                    break;
                case 2:
                case 8:
                    v.value = take<uint32_t>(bytes, at);
                    break;
                case 3:
                case 12:
                    v.value = take<uint64_t>(bytes, at);
                    break;
                case 10: {
                    const uint16_t n = take<uint16_t>(bytes, at);
                    v.buffer.assign(bytes.begin() + at, bytes.begin() + at + n);
                    at += n;
                    break;
                }
                case 11: {
                    const uint8_t capacity = take<uint8_t>(bytes, at);
                    const uint8_t n = take<uint8_t>(bytes, at);
                    v.buffer.assign(capacity + 2u, 0);
                    v.buffer[0] = capacity;
                    v.buffer[1] = n;
                    std::memcpy(v.buffer.data() + 2, bytes.data() + at, n);
                    at += n;
                    break;
                }
                default:
                    break;
            }
        }
        benchmark::DoNotOptimize(back.data());
    }
    bench::RecordBaseline(bench::Key("upp_response", state, 0), clock, state);
}
BENCHMARK(BM_UppResponsePlainBuffer);

// After its baseline, whose figure it divides by.
BENCHMARK(BM_UppResponseThroughDataObject);

}  // namespace
