// The add-and-join cycle of single jobs on the YDB service (addSymbolsYDB, then
// UpdateYDBJobEntry, re-creation and confirmation) while one collection job grows to 256
// variables, beside the same merge on plain structs and byte buffers in the same run.
#include <benchmark/benchmark.h>

#include <list>
#include <memory>
#include <vector>

#include "bench/ratio.h"
#include "bench/ydb_class.h"
#include "base/st/symcjacc/symcjacc.h"
#include "onl/ydbservice/upp_debservice.h"
#include "engsys/ydbdata_class.h"

namespace {

using platform::ComPtr;

constexpr uint32_t kVarsPerJob = 4;
constexpr int kJobs = 256 / kVarsPerJob;
constexpr LONG kCycle = 100;

// The request bytes of job j: kVarsPerJob 4-byte variables in a framed cyclic-read message.
std::vector<BYTE> RequestBytes(int j) {
    ComPtr<IYDB_Data> data = testing_support::YdbDataClass::create();
    data->InitData(1, 4, 0, 0, 0);
    Gen_ExStream s(data.get());
    YDB_RecordHeader{0xC101, 0, 0}.write(s);
    Upp_DebVarService m(1, -1);
    m.setServiceType(2);
    m.m_JobDescr.m_JobType = 1;
    m.m_JobDescr.m_Param = kCycle;
    for (uint32_t i = 0; i < kVarsPerJob; ++i) {
        Upp_DebVar v;
        v.m_AddrType = 1;
        v.m_AddrA = static_cast<uint32_t>(j) << 16 | i;
        v.m_DataType = 2;
        m.m_VarList.add(v);
    }
    m.write(s);
    return testing_support::ydb_contents(data.get());
}

struct Requests {
    std::vector<std::vector<BYTE>> bytes;
    std::vector<ComPtr<IYDB_Data>> objects;
};
Requests& AllRequests() {
    static Requests all = [] {
        Requests r;
        for (int j = 0; j < kJobs; ++j) {
            r.bytes.push_back(RequestBytes(j));
            r.objects.push_back(testing_support::YdbDataClass::create());
        }
        return r;
    }();
    return all;
}

// One client's cycle. The join hands the CJ's data to the SJ's object, so the request is laid
// down again first.
void AddAndJoin(IMC_CollectionJobSymAcc* object, int j, ULONG sj, ULONG& nextCJ) {
    Requests& r = AllRequests();
    IYDB_Data* data = r.objects[static_cast<size_t>(j)].get();
    const std::vector<BYTE>& bytes = r.bytes[static_cast<size_t>(j)];
    data->WriteContents(bytes.data(), static_cast<ULONG>(bytes.size()), 0, 0);
    ULONG status = 0, cj = 0, action = 0;
    object->addSymbolsYDB(kCycle, 1, data, sj, &status);
    CJAsyncRQRecordHolder record;
    object->UpdateYDBJobEntry(kCycle, 1, nullptr, &sj, &cj, data, record.get(), &action, &status);
    if ((action & CJ_ACTION_STOP) != 0) {
        const ULONG newID = nextCJ++;
        record.reset();  // the re-creation only zeroes it
        object->UpdateJobState(kCycle, 1, sj, newID, &action, record.get(), &status);
        object->UpdateCJ_YDBCB(0, 1, newID, nullptr, &status);
    }
}

void BM_YdbAddAndJoin(benchmark::State& state) {
    bench::ServeYdbDataClass();
    AllRequests();
    bench::LoopClock clock;
    for (auto _ : state) {
        ComPtr<IMC_CollectionJobSymAcc> object;
        ComPtr<CCollectionJobSymAcc>(new CCollectionJobSymAcc).query(object);
        ULONG nextCJ = 100;
        for (int j = 0; j < kJobs; ++j) {
            AddAndJoin(object.get(), j, 0x80000001u + static_cast<ULONG>(j), nextCJ);
        }
        // The last SJ received the CJ's whole message: 44 bytes of framing and 6 per variable.
        const size_t grown =
            testing_support::ydb_contents(AllRequests().objects.back().get()).size();
        if (grown != 44 + 6 * 256) {
            state.SkipWithError("the collection job did not grow to 256 variables");
        }
    }
    state.SetItemsProcessed(state.iterations() * kJobs);
    bench::ReportRatio(bench::Key("ydb_add_and_join", state, 0), clock, state);
}

// Baseline: the same merges on plain structs. Each addition rewrites the job's variable list from
// its SJs' runs, encodes it into a byte buffer, and the join copies that buffer to the client.
struct PlainVar {
    uint8_t addrType;
    uint32_t addrA;
    uint8_t dataType;
};
struct PlainSJ {
    ULONG id;
    uint32_t count;
};
void BM_PlainYdbAddAndJoin(benchmark::State& state) {
    bench::LoopClock clock;
    for (auto _ : state) {
        std::vector<PlainVar> vars;
        std::list<PlainSJ> sjs;
        std::vector<BYTE> cjBytes, sjBytes;
        for (int j = 0; j < kJobs; ++j) {
            std::vector<PlainVar> merged;
            auto from = vars.begin();
            for (const PlainSJ& sj : sjs) {
                merged.insert(merged.end(), from, from + sj.count);
                from += sj.count;
            }
            for (uint32_t i = 0; i < kVarsPerJob; ++i) {
                merged.push_back({1, static_cast<uint32_t>(j) << 16 | i, 2});
            }
            vars.swap(merged);
            cjBytes.assign(44, 0);
            for (const PlainVar& v : vars) {
                const BYTE* p = reinterpret_cast<const BYTE*>(&v.addrA);
                cjBytes.push_back(v.addrType);
                cjBytes.insert(cjBytes.end(), p, p + 4);
                cjBytes.push_back(v.dataType);
            }
            sjBytes = cjBytes;
            sjs.push_back({0x80000001u + static_cast<ULONG>(j), kVarsPerJob});
        }
        benchmark::DoNotOptimize(sjBytes.data());
    }
    state.SetItemsProcessed(state.iterations() * kJobs);
    bench::RecordBaseline(bench::Key("ydb_add_and_join", state, 0), clock, state);
}
BENCHMARK(BM_PlainYdbAddAndJoin)->Unit(benchmark::kMillisecond);

// After its baseline, whose figure it divides by.
BENCHMARK(BM_YdbAddAndJoin)->Unit(benchmark::kMillisecond);

}  // namespace
