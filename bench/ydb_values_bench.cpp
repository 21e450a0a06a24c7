// One cycle's values of a YDB collection job of 256 variables handed to each of its 1, 8 or 32
// single jobs through UpdateYDBValues, beside the same reading, re-framing and writing done on
// plain byte buffers and structs (no data object, no message classes, no registry) in the same
// run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/ratio.h"
#include "bench/ydb_class.h"
#include "base/st/symcjacc/symcjacc.h"
#include "onl/ydbservice/upp_debservice.h"
#include "support/inst_details.h"
#include "support/standin_classes.h"
#include "engsys/ydbdata_class.h"

namespace {

using platform::ComPtr;

constexpr uint32_t kVariables = 256;
constexpr LONG kCycle = 100;
constexpr LONG kTyp = 1;
constexpr ULONG kFirstSJ = 0x80000001;

void ServeClass() {
    bench::ServeYdbDataClass();
    static const bool table = [] {
        (void)testing_support::register_standin("mccbtable.dll");  // the callback table
        return true;
    }();
    (void)table;
}

Upp_DebVar Variable(uint32_t sj, uint32_t k, uint32_t value) {
    Upp_DebVar v;
    v.m_Result = 0;
    v.m_AddrType = 1;
    v.m_AddrA = sj << 16 | k;
    v.m_DataType = 2;
    v.m_Value = value;
    return v;
}

// A framed message: a cyclic-read request, or (with rt) the SJ's values response.
std::vector<BYTE> MessageBytes(uint32_t sj, uint32_t count, bool values) {
    ComPtr<IYDB_Data> data = testing_support::YdbDataClass::create();
    data->InitData(1, 4, values ? 7 : 0, 0, 0);
    Gen_ExStream s(data.get());
    YDB_RecordHeader{0xC101, static_cast<uint16_t>(values ? 1 : 0), 0}.write(s);
    Upp_DebVarService m(1, -1);
    m.setServiceType(values ? 11 : 2);
    m.m_JobDescr.m_JobType = 1;
    m.m_JobDescr.m_Param = kCycle;
    if (values) {
        m.setResponse();
    }
    for (uint32_t k = 0; k < count; ++k) {
        m.m_VarList.add(Variable(sj, k, sj * 1000 + k));
    }
    m.write(s);
    return testing_support::ydb_contents(data.get());
}

ComPtr<IYDB_Data> StandIn(const std::vector<BYTE>& bytes) {
    ComPtr<IYDB_Data> data = testing_support::YdbDataClass::create();
    data->WriteContents(bytes.data(), static_cast<ULONG>(bytes.size()), 0, 0);
    return data;
}

// n clients walk into one running CJ of 256 variables, as the YDB road's clients do.
ComPtr<IMC_CollectionJobSymAcc> RunningJob(uint32_t n) {
    ComPtr<IMC_CollectionJobSymAcc> object;
    ComPtr<CCollectionJobSymAcc>(new CCollectionJobSymAcc).query(object);  // adds a reference
    testing_support::InstDetails details;
    VARIANT dev;
    VariantInit(&dev);
    object->checkProperties(dev, "bench", &details);
    ULONG nextCJ = 100;
    for (uint32_t i = 0; i < n; ++i) {
        ULONG sj = kFirstSJ + i, cj = 0, action = 0, status = 0, result = 0;
        const auto request = StandIn(MessageBytes(i, kVariables / n, false));
        object->addSymbolsYDB(kCycle, kTyp, request.get(), sj, &status);
        CJAsyncRQRecordHolder record, state;
        object->UpdateYDBJobEntry(kCycle, kTyp, nullptr, &sj, &cj, request.get(), record.get(),
                                  &action, &status);
        cj = record->m_ES_JobID;
        LONG ticks = 0;
        if ((action & CJ_ACTION_STOP) != 0) {
            cj = nextCJ++;
            object->UpdateJobState(kCycle, kTyp, sj, cj, &action, state.get(), &status);
            ticks = state->ticks;
        }
        do {
            object->UpdateCJ_YDBCB(0, kTyp, cj, nullptr, &status);
        } while (--ticks > 0);
        object->startYDBService(kCycle, kTyp, 0, kFirstSJ, cj, nullptr, &result);
    }
    return object;
}

void BM_UpdateYDBValues(benchmark::State& state) {
    ServeClass();
    const auto n = static_cast<uint32_t>(state.range(0));
    const ComPtr<IMC_CollectionJobSymAcc> object = RunningJob(n);
    std::vector<ComPtr<IYDB_Data>> sjData;
    for (uint32_t i = 0; i < n; ++i) {
        sjData.push_back(StandIn(MessageBytes(i, kVariables / n, true)));
    }
    const ComPtr<IYDB_Data> out = StandIn(std::vector<BYTE>(16, 0));
    ULONG at = 0;
    out->Seek(16, 0, &at);  // the data header goes behind the prefix
    bench::LoopClock clock;
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) {
            ULONG cj = 0, status = 0;
            out->SetByteCount(16);
            if (object->UpdateYDBValues(kFirstSJ + i, sjData[i].get(), out.get(), &cj, nullptr,
                                        &status) != S_OK ||
                status != 0) {
                state.SkipWithError("the values were not handed on");
                return;
            }
        }
    }
    if (testing_support::ydb_contents(out.get()).size() != 32 + 6 + (kVariables / n) * 11) {
        state.SkipWithError(("the response has not the size of the SJ's variables: " +
                             std::to_string(testing_support::ydb_contents(out.get()).size()))
                                .c_str());
    }
    state.SetItemsProcessed(state.iterations() * kVariables);
    bench::ReportRatio(bench::Key("ydb_values", state), clock, state);
}

// The same cut on plain byte buffers and structs: per SJ the CJ's headers and request read, the
// SJ's values response read, and its variables written behind the CJ's data header as a framed
// values response; no data object, no message classes, no registry.
struct PlainVar {
    uint8_t result, addrType;
    uint32_t addr;
    uint8_t dataType;
    uint32_t value;
};
struct PlainMessage {
    uint16_t dataHeader[4];
    uint16_t cmd, subCmd;
    uint32_t length;
    uint8_t response, service, kind, jobType;
    uint32_t param;
    std::vector<PlainVar> vars;
};

class PlainReader {
  public:
    explicit PlainReader(const std::vector<BYTE>& b) : m_b(b) {}
    template <class T>
    T take() {
        T v;
        std::memcpy(&v, m_b.data() + m_at, sizeof v);
        m_at += sizeof v;
        return v;
    }

  private:
    const std::vector<BYTE>& m_b;
    size_t m_at = 16;  // behind the prefix
};

template <class T>
void Put(std::vector<BYTE>& b, T v) {
    const size_t at = b.size();
    b.resize(at + sizeof v);
    std::memcpy(b.data() + at, &v, sizeof v);
}

// A request (address and type of each variable) or a values response (result and value too).
void ReadPlain(const std::vector<BYTE>& bytes, PlainMessage& m) {
    PlainReader r(bytes);
    for (uint16_t& w : m.dataHeader) {
        w = r.take<uint16_t>();
    }
    m.cmd = r.take<uint16_t>();
    m.subCmd = r.take<uint16_t>();
    m.length = r.take<uint32_t>();
    m.response = r.take<uint8_t>();
    m.service = r.take<uint8_t>();
    if (m.response == 0) {
        m.kind = r.take<uint8_t>();
        m.jobType = r.take<uint8_t>();
        m.param = m.jobType == 1 ? r.take<uint32_t>() : 0;
    }
    m.vars.resize(static_cast<size_t>(r.take<int32_t>()));
    for (PlainVar& v : m.vars) {
        v.result = m.response != 0 ? r.take<uint8_t>() : 0;
        v.addrType = r.take<uint8_t>();
        v.addr = r.take<uint32_t>();
        v.dataType = r.take<uint8_t>();
        v.value = m.response != 0 ? r.take<uint32_t>() : 0;
    }
}

void HandOnPlain(const std::vector<BYTE>& cj, const std::vector<BYTE>& sj, std::vector<BYTE>& out) {
    PlainMessage cjMessage, sjMessage;
    ReadPlain(cj, cjMessage);
    ReadPlain(sj, sjMessage);
    out.resize(16);
    for (uint16_t w : cjMessage.dataHeader) {
        Put(out, w);
    }
    Put(out, cjMessage.cmd);
    Put<uint16_t>(out, 1);
    Put<uint32_t>(out, 0);
    Put<uint8_t>(out, 1);
    Put<uint8_t>(out, 11);
    Put(out, static_cast<int32_t>(sjMessage.vars.size()));
    for (const PlainVar& v : sjMessage.vars) {
        Put(out, v.result);
        Put(out, v.addrType);
        Put(out, v.addr);
        Put(out, v.dataType);
        Put(out, v.value);
    }
    const auto length = static_cast<uint32_t>(out.size() - 32);
    std::memcpy(out.data() + 28, &length, sizeof length);
    benchmark::DoNotOptimize(out.data());
}

void BM_PlainYDBValues(benchmark::State& state) {
    ServeClass();
    const auto n = static_cast<uint32_t>(state.range(0));
    const std::vector<BYTE> cj = MessageBytes(0, kVariables, false);
    std::vector<std::vector<BYTE>> sjs;
    for (uint32_t i = 0; i < n; ++i) {
        sjs.push_back(MessageBytes(i, kVariables / n, true));
    }
    std::vector<BYTE> out(16, 0);
    bench::LoopClock clock;
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) {
            HandOnPlain(cj, sjs[i], out);
        }
    }
    if (out.size() != 32 + 6 + (kVariables / n) * 11) {
        state.SkipWithError("the response has not the size of the SJ's variables");
    }
    state.SetItemsProcessed(state.iterations() * kVariables);
    bench::RecordBaseline(bench::Key("ydb_values", state), clock, state);
}
BENCHMARK(BM_PlainYDBValues)->Arg(1)->Arg(8)->Arg(32);

// After its baseline, whose figure it divides by.
BENCHMARK(BM_UpdateYDBValues)->Arg(1)->Arg(8)->Arg(32);

}  // namespace
