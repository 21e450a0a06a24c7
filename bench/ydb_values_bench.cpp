// One cycle's values of a YDB collection job of 256 variables handed to each of its 1, 8 or 32
// single jobs through UpdateYDBValues, beside the same reading, re-framing and writing done with
// the message classes on plain byte buffers (no data object class, no registry) in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/ratio.h"
#include "base/st/symcjacc/symcjacc.h"
#include "onl/ydbservice/upp_debservice.h"
#include "platform/com_object.h"
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
    static const auto served = [] {
        (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        (void)testing_support::register_standin("mccbtable.dll");  // the callback table
        return std::make_unique<testing_support::YdbDataClass>();
    }();
    if (!served->ready()) {
        std::abort();
    }
}

// A growable byte buffer behind IYDB_Data: what the message classes need and nothing more.
class PlainBuffer final
    : public platform::ComObject<PlainBuffer, platform::DeleteAtZero, IYDB_Data> {
  public:
    HRESULT STDMETHODCALLTYPE GetByteCount(ULONG* n) override {
        *n = static_cast<ULONG>(bytes.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE WriteElements(const void* p, ULONG count, ULONG width,
                                            ULONG) override {
        const size_t n = size_t{count} * width;
        bytes.resize(std::max(bytes.size(), m_pos + n));
        std::memcpy(bytes.data() + m_pos, p, n);
        m_pos += n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReadElements(void** pp, ULONG count, ULONG width, ULONG) override {
        const size_t n = size_t{count} * width;
        *pp = nullptr;
        if (m_pos + n > bytes.size()) {
            return S_FALSE;
        }
        *pp = CoTaskMemAlloc(std::max<size_t>(n, 1));
        std::memcpy(*pp, bytes.data() + m_pos, n);
        m_pos += n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReadContents(ULONG*, BYTE**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WriteContents(const BYTE*, ULONG, ULONG, ULONG) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE InitData(ULONG, ULONG, ULONG, ULONG, ULONG) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reserved10() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved11() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Seek(ULONG position, ULONG, ULONG* at) override {
        m_pos = std::min<size_t>(position, bytes.size());
        *at = static_cast<ULONG>(m_pos);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPosition(ULONG* at) override {
        *at = static_cast<ULONG>(m_pos);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Touch() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reserved15() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsWritable(ULONG* w) override {
        *w = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reserved17() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved18() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved19() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetByteCount(ULONG n) override {
        bytes.resize(n);
        m_pos = std::min<size_t>(m_pos, n);
        return S_OK;
    }

    std::vector<BYTE> bytes;

  private:
    size_t m_pos = 0;
};

ComPtr<PlainBuffer> Plain(std::vector<BYTE> bytes) {
    auto b = ComPtr<PlainBuffer>(new PlainBuffer);  // adds the first reference
    b->bytes = std::move(bytes);
    return b;
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

// The same per SJ: the CJ's headers and message read and its position put back, the SJ's message
// read, its variables re-framed as a values response and written behind the CJ's data header.
void HandOnPlain(PlainBuffer& cj, PlainBuffer& sj, PlainBuffer& out) {
    ULONG at = 0, ignored = 0;
    YDB_DataHeader dataHeader;
    YDB_RecordHeader recordHeader, sjRecord;
    Upp_DebVarService cjMessage(1, -1), sjMessage(1, -1), response(1, -1);
    cj.GetPosition(&at);
    cj.Seek(16, 0, &ignored);
    Gen_ExStream cs(&cj);
    dataHeader.read(cs);
    recordHeader.read(cs);
    cjMessage.read(cs);
    cj.Seek(at, 0, &ignored);
    sj.Seek(16, 0, &ignored);
    Gen_ExStream ss(&sj);
    YDB_DataHeader sjHeader;
    sjHeader.read(ss);
    sjRecord.read(ss);
    sjMessage.read(ss);
    response.setServiceType(11);
    response.m_JobDescr.m_JobType = 1;
    response.m_JobDescr.m_Param = kCycle;
    for (const Gen_ExListElem* e = sjMessage.m_VarList.m_pHead; e != nullptr; e = e->m_pNext) {
        response.m_VarList.add(static_cast<const Upp_DebVar&>(*e));
    }
    response.setResponse();
    out.SetByteCount(16);
    out.Seek(16, 0, &ignored);
    Gen_ExStream os(&out);
    dataHeader.write(os);
    YDB_RecordHeader{recordHeader.m_Cmd, 1, 0}.write(os);
    ULONG end = 0;
    response.write(os);
    out.GetPosition(&end);
    out.Seek(28, 0, &ignored);
    os << static_cast<uint32_t>(end - 32);
    out.Seek(end, 0, &ignored);
    benchmark::DoNotOptimize(out.bytes.data());
}

void BM_PlainYDBValues(benchmark::State& state) {
    ServeClass();
    const auto n = static_cast<uint32_t>(state.range(0));
    const auto cj = Plain(MessageBytes(0, kVariables, false));
    std::vector<ComPtr<PlainBuffer>> sjs;
    for (uint32_t i = 0; i < n; ++i) {
        sjs.push_back(Plain(MessageBytes(i, kVariables / n, true)));
    }
    const auto out = Plain(std::vector<BYTE>(16, 0));
    bench::LoopClock clock;
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) {
            HandOnPlain(*cj.get(), *sjs[i].get(), *out.get());
        }
    }
    if (out->bytes.size() != 32 + 6 + (kVariables / n) * 11) {
        state.SkipWithError("the response has not the size of the SJ's variables");
    }
    state.SetItemsProcessed(state.iterations() * kVariables);
    bench::RecordBaseline(bench::Key("ydb_values", state), clock, state);
}
BENCHMARK(BM_PlainYDBValues)->Arg(1)->Arg(8)->Arg(32);

// After its baseline, whose figure it divides by.
BENCHMARK(BM_UpdateYDBValues)->Arg(1)->Arg(8)->Arg(32);

}  // namespace
