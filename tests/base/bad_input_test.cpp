// Every interface method given what a careless or hostile client may pass: null pointers,
// unzeroed records where they are accepted, wrong names, data objects that are missing, foreign
// or failing, unknown ids, calls out of order, failing callbacks and a missing callback table.
// Each row starts from the same running collection job and ends by releasing the component:
// every callback object must be back at its starting reference count. docs/robustness.md lists
// these rows.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "anyptr_names.h"
#include "support/record_array.h"
#include "ydb_road_fixture.h"

namespace {

using anyptr_test::R;
using platform::UniqueVariant;
using ydb_road::ComPtr;
using ydb_road::CountingUnknown;
using ydb_road::RecordingDecode;
using ydb_road::YdbDataClass;

constexpr ULONG kSJ1 = 0x80000001;  // the running job's single jobs
constexpr ULONG kSJ2 = 0x80000002;
constexpr ULONG kSJ3 = 0x80000003;
constexpr ULONG kCJ = 50;  // the running job's id (re-created from 2)
constexpr ULONG kUnknown = 0x80000099;
constexpr LONG kTyp = 9;
constexpr LONG kCycle = 100;
const char* const kNull = "error: NULL pointer argument";

// A decode callback that cannot be handed to other threads: no free-threaded marshaler.
struct UnmarshalableDecode : RecordingDecode {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IMarshal)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return RecordingDecode::QueryInterface(riid, ppv);
    }
};

// What a row observed: the HRESULT and the one out-word the row reads.
struct Answer {
    HRESULT hr;
    ULONG word;
};

class BadInputTest : public ydb_road::YdbDataFixture {
  public:  // the rows reach the component through the fixture
    void SetUp() override {
        RegistryFixture::SetUp();
        ComPtr<CCollectionJobSymAcc> made(new CCollectionJobSymAcc);  // adds the first reference
        ASSERT_EQ(made.query(IID_IMC_CollectionJobSymAcc, c), S_OK);
        // One running IVar job of two single jobs, re-created as kCJ, with its decode callback.
        AddAndJoinIVar(kSJ1, &icb1);
        AddAndJoinIVar(kSJ2, &icb2);
        ULONG status = 0, action = CJ_ACTION_STOP | CJ_ACTION_RECORD;
        CJAsyncRQRecordHolder record;
        ASSERT_EQ(c->UpdateJobState(kCycle, kTyp, kSJ2, kCJ, &action, record.get(), &status), S_OK);
        ASSERT_EQ(c->UpdateCJ_IVarCB(0, kTyp, kCJ, &decode, &status), S_OK);
        capture.clear();
    }
    // Adds sj's one name to the running job and joins it; the action word (a third SJ stops it).
    ULONG AddAndJoinIVar(ULONG sj, IUnknown* icb = nullptr) {
        ULONG status = 0, cj = 0, action = 0;
        UniqueVariant names = anyptr_test::names_of({R(static_cast<int>(sj & 0xF), 1)}), handed;
        EXPECT_EQ(c->addSymbolsIVar(kCycle, kTyp, *names.get(), sj, &status), S_OK);
        CJAsyncRQRecordHolder record;
        EXPECT_EQ(c->UpdateIVarJobEntry(kCycle, kTyp, icb, &sj, &cj, handed.get(), record.get(),
                                        &action, &status),
                  S_OK);
        return action;
    }
    // A YDB request of one variable added by sj on cycle 200; the status it got.
    ULONG AddYDB(ULONG sj, const ComPtr<IYDB_Data>& data) {
        ULONG status = 0xDEAD;
        EXPECT_EQ(c->addSymbolsYDB(200, kTyp, data.get(), sj, &status), S_OK);
        return status;
    }
    // kSJ3 joining cycle 200 with that data object: the HRESULT and the status.
    Answer JoinYDB(IUnknown* data, ULONG* action = nullptr) {
        CJAsyncRQRecordHolder r;
        ULONG sj = kSJ3, cj = 0, status = 0, a = 0;
        const HRESULT hr =
            c->UpdateYDBJobEntry(200, kTyp, nullptr, &sj, &cj, data, r.get(), &a, &status);
        if (action != nullptr) {
            *action = a;
        }
        return Answer{hr, status};
    }
    // What a client that skipped zeroing may hand over: any bytes, an interface among them that
    // the record does not own (icb1: the release checks its count). Only for the calls that zero
    // a record without reading it.
    void Unzero(CJAsyncRQRecordHolder& record) {
        std::memset(static_cast<void*>(record.get()), 0xCD, sizeof *record.get());
        record->m_LookupTbl.vt = VT_UNKNOWN;
        record->m_LookupTbl.punkVal = &icb1;
    }

    ComPtr<IMC_CollectionJobSymAcc> c;
    CountingUnknown icb1, icb2;
    RecordingDecode decode;
};

// Calls `call` once per pointer argument, that one null; E_POINTER when every call gave it.
HRESULT EachNull(int pointers, const std::function<HRESULT(int)>& call) {
    for (int i = 0; i < pointers; ++i) {
        const HRESULT hr = call(i);
        if (hr != E_POINTER) {
            return hr;
        }
    }
    return E_POINTER;
}
template <class P>
P* Or(int nulled, int index, P* p) {
    return nulled == index ? nullptr : p;
}

struct Row {
    const char* method;
    const char* input;
    HRESULT hr;
    ULONG word;         // the out-word named in docs/robustness.md
    int level;          // of the trace below; besides it no error (level 4) is traced
    const char* trace;  // a trace of that level starts with this ("": none)
    std::function<Answer()> call;
};

// A VARIANT of that type with zeroed contents (a null array, a zero value).
UniqueVariant Kind(VARTYPE vt) {
    UniqueVariant v;
    v->llVal = 0;
    v->vt = vt;
    return v;
}

TEST_F(BadInputTest, EveryRowIsAnsweredWithoutHarm) {
    ULONG s = 0, w = 0, w2 = 0;
    LONG l = 0, l2 = 0;
    CJAsyncRQRecordHolder r;
    UniqueVariant n, tbl;
    const auto names = [&](UniqueVariant v) {
        n = std::move(v);
        return *n.get();
    };
    const auto one = [&] { return names(anyptr_test::names_of({R(0, 1)})); };
    const auto request = [] { return ydb_road::Request(200, 3, 1); };
    // clang-format off
    const std::vector<Row> rows = {
    // method, bad input, HRESULT, out-word, trace level and text; the call
    {"addSymbolsIVar", "pStatus null", E_POINTER, 0, 4, kNull,
     [&] { return Answer{c->addSymbolsIVar(kCycle, kTyp, one(), 7, nullptr), 0}; }},
    {"addSymbolsIVar", "names hold no array (VT_I4)",
        S_OK, CJ_STATUS_ADD_FAILED, 4, "error SafeArrayGetBounds",
     [&] { return Answer{c->addSymbolsIVar(kCycle, kTyp, names(Kind(VT_I4)), 7, &s), s}; }},
    {"addSymbolsIVar", "names VT_ARRAY with a null array",
        S_OK, CJ_STATUS_ADD_FAILED, 4, "error unsupported names array", [&] {
        const Answer a{c->addSymbolsIVar(kCycle, kTyp, names(Kind(VT_ARRAY | VT_VARIANT)), 7, &s),
                       s};
        (void)n.release();  // its array is null
        return a; }},
    {"addSymbolsIVar", "names held by reference",
        S_OK, CJ_STATUS_ADD_FAILED, 4, "error unsupported names array", [&] {
        one();
        VARIANT byRef{};
        byRef.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
        byRef.pparray = &n->parray;
        return Answer{c->addSymbolsIVar(kCycle, kTyp, byRef, 7, &s), s}; }},
    {"addSymbolsIVar", "names array of two dimensions",
        S_OK, CJ_STATUS_ADD_FAILED, 4, "error unsupported names array, vt 0x200C", [&] {
        const VARIANT square = names(anyptr_test::square_names());
        return Answer{c->addSymbolsIVar(kCycle, kTyp, square, 7, &s), s}; }},
    {"addSymbolsIVar", "names array of records",
        S_OK, CJ_STATUS_ADD_FAILED, 4, "error unsupported names array, vt 0x2024", [&] {
        testing_support::RecordArray records(2);
        EXPECT_TRUE(records.ready());
        return Answer{c->addSymbolsIVar(kCycle, kTyp, *records.variant(), 7, &s), s}; }},
    {"addSymbolsIVar", "names that are not ANY pointers (strings)", S_OK, 0, 0, "", [&] {
        std::vector<UniqueVariant> e(2);
        for (UniqueVariant& v : e) {
            v->vt = VT_BSTR;
            v->bstrVal = SysAllocString(OLESTR("x"));
        }
        return Answer{c->addSymbolsIVar(kCycle, kTyp, names(anyptr_test::names_of(e)), 7, &s),
                      s}; }},
    {"UpdateIVarJobEntry", "each of its six pointers null", E_POINTER, 0, 4, kNull, [&] {
        return Answer{EachNull(6, [&](int i) {
            ULONG sj = kSJ1;
            return c->UpdateIVarJobEntry(kCycle, kTyp, nullptr, Or(i, 0, &sj), Or(i, 1, &w),
                                         Or(i, 2, n.get()), Or(i, 3, r.get()), Or(i, 4, &w2),
                                           Or(i, 5, &s)); }), 0}; }},
    {"UpdateIVarJobEntry", "no job of that cycle and type (no add before)",
        S_OK, CJ_ACTION_ALONE, 0, "", [&] {
        ULONG sj = kUnknown, action = 0;
        const HRESULT hr = c->UpdateIVarJobEntry(300, kTyp, nullptr, &sj, &w, n.get(), r.get(),
                                                 &action, &s);
        return Answer{hr, action}; }},
    {"UpdateJobState", "pRecord or pStatus null", E_POINTER, 0, 4, kNull, [&] {
        return Answer{EachNull(2, [&](int i) {
            return c->UpdateJobState(kCycle, kTyp, kSJ1, 60, &w, Or(i, 0, r.get()),
                                     Or(i, 1, &s)); }), 0}; }},
    {"UpdateJobState", "pAction null", S_OK, 60, 0, "", [&] {
        return Answer{c->UpdateJobState(kCycle, kTyp, kSJ1, 60, nullptr, r.get(), &s),
                      r->m_ES_JobID}; }},
    {"UpdateJobState", "unknown single job (no join before)",
        S_OK, 0, 4, "Job 2147483801 collection job 60  not found, dwaction 0", [&] {
        Unzero(r);
        return Answer{c->UpdateJobState(kCycle, kTyp, kUnknown, 60, &w, r.get(), &s),
                      r->m_ES_JobID}; }},
    {"UpdateJobState", "unzeroed record", S_OK, 60, 0, "", [&] {
        Unzero(r);
        return Answer{c->UpdateJobState(kCycle, kTyp, kSJ1, 60, &w, r.get(), &s),
                      r->m_ES_JobID}; }},
    {"cancelASynch", "each of its four pointers null", E_POINTER, 0, 4, kNull, [&] {
        return Answer{EachNull(4, [&](int i) {
            return c->cancelASynch(kSJ1, Or(i, 0, &w), Or(i, 1, r.get()), Or(i, 2, &w2),
                                   Or(i, 3, &s)); }), 0}; }},
    {"cancelASynch", "unknown job", S_OK, 0, 4, "job 2147483801 to cancel not in list", [&] {
        Unzero(r);
        w2 = 1;
        return Answer{c->cancelASynch(kUnknown, &w, r.get(), &w2, &s), w2}; }},
    {"cancelASynch", "unzeroed record", S_OK, CJ_CANCEL_SJ_REMOVED, 0, "", [&] {
        Unzero(r);
        return Answer{c->cancelASynch(kSJ1, &w, r.get(), &w2, &s), w2}; }},
    {"cancelASynch", "the same single job twice", S_OK, CJ_CANCEL_SJ_REMOVED, 0, "", [&] {
        (void)c->cancelASynch(kSJ1, &w, r.get(), &w2, &s);
        CJAsyncRQRecordHolder again;
        return Answer{c->cancelASynch(kSJ1, &w, again.get(), &w2, &s), w2}; }},
    {"cancelASynch", "single job added but never joined",
        S_OK, 0, 4, "job 2147483801 to cancel not in list", [&] {
        (void)c->addSymbolsIVar(300, kTyp, one(), kUnknown, &s);
        w2 = 1;
        return Answer{c->cancelASynch(kUnknown, &w, r.get(), &w2, &s), w2}; }},
    {"GetIVarLookupTbl", "either pointer null", E_POINTER, 0, 4, kNull, [&] {
        return Answer{EachNull(2, [&](int i) {
            return c->GetIVarLookupTbl(kCJ, kTyp, Or(i, 0, tbl.get()), Or(i, 1, &w)); }), 0}; }},
    {"GetIVarLookupTbl", "unknown job (no add before)", E_FAIL, VT_EMPTY, 0, "",
     [&] { return Answer{c->GetIVarLookupTbl(77, kTyp, tbl.get(), &w), tbl.vt()}; }},
    {"checkProperties", "no instance details", 0x0000FFFF, 0, 0, "",
     [&] { return Answer{c->checkProperties(*n.get(), nullptr, nullptr), 0}; }},
    {"checkProperties", "details without their interface", 0x0000FFFF, 1, 0, "", [&] {
        CountingUnknown details;
        return Answer{c->checkProperties(*n.get(), "x", &details), details.refs()}; }},
    {"getProperties", "either pointer null", E_POINTER, 0, 4, kNull, [&] {
        char* id = nullptr;
        return Answer{EachNull(2, [&](int i) {
            return c->getProperties(Or(i, 0, &id), Or(i, 1, &w)); }), 0}; }},
    {"setMaxJobs", "no jobs allowed, then a new cycle added", S_OK, 0, 0, "", [&] {
        (void)c->setMaxJobs(0, 0, 0);
        (void)c->addSymbolsIVar(300, kTyp, one(), kUnknown, &s);
        w = 1;
        return Answer{c->existCycle(300, kTyp, kUnknown, &w, &w2), w}; }},
    {"getMaxJobs", "each of its three pointers null", E_POINTER, 0, 4, kNull, [&] {
        return Answer{EachNull(3, [&](int i) {
            return c->getMaxJobs(Or(i, 0, &w), Or(i, 1, &w2), Or(i, 2, &s)); }), 0}; }},
    {"setLimits", "extreme values", S_OK, 0, 0, "", [&] {
        (void)c->setLimits(0xFFFFFFFF, 0);
        return Answer{c->getLimits(&w, &w2), w2}; }},
    {"getLimits", "either pointer null", E_POINTER, 0, 4, kNull, [&] {
        return Answer{EachNull(2, [&](int i) {
            return c->getLimits(Or(i, 0, &w), Or(i, 1, &w2)); }), 0}; }},
    {"setMode", "any value", S_OK, 0xFFFFFFFF, 0, "", [&] {
        (void)c->setMode(0xFFFFFFFF);
        return Answer{c->getMode(&w), w}; }},
    {"getMode", "pointer null", E_POINTER, 0, 4, kNull,
     [&] { return Answer{c->getMode(nullptr), 0}; }},
    {"getJobProperties", "each of its three pointers null", E_POINTER, 0, 4, kNull, [&] {
        return Answer{EachNull(3, [&](int i) {
            return c->getJobProperties(kSJ1, Or(i, 0, &l), Or(i, 1, &l2), Or(i, 2, &s)); }),
            0}; }},
    {"getJobProperties", "unknown job", S_OK, CJ_STATUS_JOB_NOT_FOUND, 0, "",
     [&] { return Answer{c->getJobProperties(kUnknown, &l, &l2, &s), s}; }},
    {"UpdateCJ_YDBCB", "pStatus null", E_POINTER, 0, 4, kNull,
     [&] { return Answer{c->UpdateCJ_YDBCB(0, kTyp, kCJ, nullptr, nullptr), 0}; }},
    {"UpdateCJ_YDBCB", "unknown job (before its creation)",
        S_OK, 0, 3, "collection job 77  not found / not yet created",
     [&] { return Answer{c->UpdateCJ_YDBCB(0, kTyp, 77, nullptr, &s), s}; }},
    {"UpdateCJ_YDBCB", "callback without IMC_YDBDecode",
        S_OK, 1, 3, "IYDBDecodeInterface interface is NULL", [&] {
        CountingUnknown plain;
        const HRESULT hr = c->UpdateCJ_YDBCB(0, kTyp, kCJ, &plain, &s);
        c.reset();
        return Answer{hr, plain.refs()}; }},
    {"UpdateCJ_YDBCB", "callback without the free-threaded marshaler",
        S_OK, 1, 4, "error calling spIGIT->RegisterInterfaceInGlobal(IYDBDecodeInterface", [&] {
        UnmarshalableDecode d;
        const HRESULT hr = c->UpdateCJ_YDBCB(0, kTyp, kCJ, &d, &s);
        c.reset();
        return Answer{hr, d.refs()}; }},
    {"UpdateCJ_IVarCB", "pStatus null", E_POINTER, 0, 4, kNull,
     [&] { return Answer{c->UpdateCJ_IVarCB(0, kTyp, kCJ, nullptr, nullptr), 0}; }},
    {"UpdateCJ_IVarCB", "unknown job (before its creation)",
        S_OK, 0, 3, "collection job 77  not found / not yet created",
     [&] { return Answer{c->UpdateCJ_IVarCB(0, kTyp, 77, nullptr, &s), s}; }},
    {"UpdateCJ_IVarCB", "callback table not registered",
        S_OK, 1, 4, "error accessing global interface table 0x", [&] {
        RecordingDecode d;
        EXPECT_EQ(testing_support::unregister_standin("mccbtable.dll"), S_OK);
        const HRESULT hr = c->UpdateCJ_IVarCB(0, kTyp, kCJ, &d, &s);
        EXPECT_EQ(testing_support::register_standin("mccbtable.dll"), S_OK);
        return Answer{hr, d.refs()}; }},
    {"deleteYDBCJob", "pStatus null", E_POINTER, 0, 4, kNull,
     [&] { return Answer{c->deleteYDBCJob(kCJ, kTyp, 1, nullptr), 0}; }},
    {"deleteYDBCJob", "unknown job", S_OK, 0, 3, "CJ ES_JobID 77 not found",
     [&] { return Answer{c->deleteYDBCJob(77, kTyp, 1, &s), s}; }},
    {"deleteYDBCJob", "job without its YDB callback",
        S_OK, 0, 3, "CB of collection job 50  revoked",
     [&] { return Answer{c->deleteYDBCJob(kCJ, kTyp, 1, &s), s}; }},
    {"updateYDBCJob", "pStatus null", E_POINTER, 0, 4, kNull,
     [&] { return Answer{c->updateYDBCJob(kCJ, kTyp, nullptr), 0}; }},
    {"updateYDBCJob", "unknown job",
        S_OK, CJ_STATUS_UPDATE_NOT_FOUND, 4, "collection job 77  not found",
     [&] { return Answer{c->updateYDBCJob(77, kTyp, &s), s}; }},
    {"deleteIVarCJob", "pStatus null", E_POINTER, 0, 4, kNull,
     [&] { return Answer{c->deleteIVarCJob(kCJ, kTyp, 1, nullptr), 0}; }},
    {"deleteIVarCJob", "unknown job", S_OK, 0, 0, "",
     [&] { return Answer{c->deleteIVarCJob(77, kTyp, 1, &s), s}; }},
    {"deleteIVarCJob", "callback answers a failure status", S_OK, 0xDEAD, 0, "", [&] {
        decode.deleteStatus = 0xDEAD;
        return Answer{c->deleteIVarCJob(kCJ, kTyp, 1, &s), s}; }},
    {"deleteIVarCJob", "twice (the callback is gone)", S_OK, 0, 0, "", [&] {
        (void)c->deleteIVarCJob(kCJ, kTyp, 1, &s);
        decode.deleteStatus = 0xDEAD;
        return Answer{c->deleteIVarCJob(kCJ, kTyp, 1, &s), s}; }},
    {"deleteIVarCJob", "callback without IMC_YDBDecode", S_OK, 1, 0, "", [&] {
        CountingUnknown plain;
        (void)c->deleteIVarCJob(kCJ, kTyp, 1, &s);  // the registered callback goes first
        (void)c->UpdateCJ_IVarCB(0, kTyp, kCJ, &plain, &s);
        const HRESULT hr = c->deleteIVarCJob(kCJ, kTyp, 1, &s);
        c.reset();
        return Answer{hr, plain.refs()}; }},
    {"updateIVarCJob", "pStatus null", E_POINTER, 0, 4, kNull,
     [&] { return Answer{c->updateIVarCJob(kCJ, kTyp, nullptr), 0}; }},
    {"updateIVarCJob", "unknown job", S_OK, 0, 0, "",
     [&] { return Answer{c->updateIVarCJob(77, kTyp, &s), s}; }},
    {"setRt_JobID", "pStatus null", E_POINTER, 0, 4, kNull,
     [&] { return Answer{c->setRt_JobID(kCycle, kTyp, kSJ1, kCJ, 7, nullptr), 0}; }},
    {"setRt_JobID", "unknown single and collection job",
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 4, "SJ ES_JobID 2147483801, CJ RT_JobID 7 not found",
     [&] { return Answer{c->setRt_JobID(kCycle, kTyp, kUnknown, 77, 7, &s), s}; }},
    {"getRt_JobID", "either pointer null", E_POINTER, 0, 4, kNull, [&] {
        return Answer{EachNull(2, [&](int i) {
            w = kSJ1;
            return c->getRt_JobID(kCycle, 0, Or(i, 0, &w), Or(i, 1, &s)); }), 0}; }},
    {"getRt_JobID", "unknown job", S_OK, 0, 0, "", [&] {
        w = kUnknown;
        return Answer{c->getRt_JobID(kCycle, 0, &w, &s), w}; }},
    {"existCycle", "either pointer null", E_POINTER, 0, 4, kNull, [&] {
        return Answer{EachNull(2, [&](int i) {
            return c->existCycle(kCycle, kTyp, kSJ1, Or(i, 0, &w), Or(i, 1, &w2)); }), 0}; }},
    {"existCycle", "unknown cycle", S_OK, 4, 0, "",
     [&] { return Answer{c->existCycle(300, kTyp, kSJ1, &w, &w2), w2}; }},
    {"addSymbolsYDB", "pStatus null", E_POINTER, 0, 4, kNull,
     [&] { return Answer{c->addSymbolsYDB(200, kTyp, nullptr, kSJ3, nullptr), 0}; }},
    {"addSymbolsYDB", "no data object", S_OK, 0, 4, "error accessing YDB",
     [&] { return Answer{c->addSymbolsYDB(200, kTyp, nullptr, kSJ3, &s), s}; }},
    {"addSymbolsYDB", "data object without IYDB_Data", S_OK, 0, 4, "error accessing YDB", [&] {
        CountingUnknown plain;
        return Answer{c->addSymbolsYDB(200, kTyp, &plain, kSJ3, &s), s}; }},
    {"addSymbolsYDB", "data object whose read fails",
        S_OK, 91, 4, "response from UPP: 'unknown syntax for service'", [&] {
        const ComPtr<IYDB_Data> d = request();
        YdbDataClass::control(d)->FailCall(3, 0, E_FAIL);
        return Answer{S_OK, AddYDB(kSJ3, d)}; }},
    {"UpdateYDBJobEntry", "each of its five pointers null", E_POINTER, 0, 4, kNull, [&] {
        return Answer{EachNull(5, [&](int i) {
            ULONG sj = kSJ3;
            return c->UpdateYDBJobEntry(200, kTyp, nullptr, Or(i, 0, &sj), Or(i, 1, &w),
                                        nullptr, Or(i, 2, r.get()), Or(i, 3, &w2),
                                          Or(i, 4, &s)); }), 0}; }},
    {"UpdateYDBJobEntry", "no job of that cycle and type (no add before)",
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 4, "single job: 2147483651 collection job: 0 not found",
    [&] {
        const Answer a = JoinYDB(request().get(), &w);
        EXPECT_EQ(w, CJ_ACTION_ALONE);
        return a; }},
    {"UpdateYDBJobEntry", "data object without IYDB_Data",
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 4, "error accessing YDB", [&] {
        EXPECT_EQ(AddYDB(kSJ3, request()), 0u);
        CountingUnknown foreign;
        const Answer a = JoinYDB(&foreign);
        EXPECT_EQ(foreign.refs(), 1u);
        return a; }},
    {"UpdateYDBJobEntry", "data object refusing writes (left as it was)", S_OK, 0, 0, "", [&] {
        const ComPtr<IYDB_Data> d = request();
        EXPECT_EQ(AddYDB(kSJ3, d), 0u);
        YdbDataClass::control(d)->SetWritable(FALSE);
        const Answer a = JoinYDB(d.get());
        EXPECT_EQ(ydb_road::Calls(d, 5), 0u);  // no contents written
        return a; }},
    {"UpdateYDBJobEntry", "data object whose write fails",
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 4, "error accessing YDB", [&] {
        const ComPtr<IYDB_Data> d = request();
        EXPECT_EQ(AddYDB(kSJ3, d), 0u);
        YdbDataClass::control(d)->FailCall(5, 0, E_FAIL);
        return JoinYDB(d.get()); }},
    {"UpdateYDBValues", "pStatus null", E_POINTER, 0, 4, kNull, [&] {
        return Answer{c->UpdateYDBValues(kSJ1, nullptr, nullptr, nullptr, nullptr, nullptr),
                      0}; }},
    {"UpdateYDBValues", "value comparison off",
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 3, "collection job 2147483649 not found",
     [&] { return Answer{c->UpdateYDBValues(kSJ1, nullptr, nullptr, &w, nullptr, &s), s}; }},
    {"UpdateYDBValues", "unknown id",
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 3, "collection job 2147483801 not found", [&] {
        ydb_road::CompareValues(c.get());
        return Answer{c->UpdateYDBValues(kUnknown, nullptr, nullptr, &w, nullptr, &s), s}; }},
    {"UpdateYDBValues", "data object without IYDB_Data",
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 4, "error accessing YDB", [&] {
        ydb_road::CompareValues(c.get());
        const ComPtr<IYDB_Data> d = request();
        EXPECT_EQ(AddYDB(kSJ3, d), 0u);
        EXPECT_EQ(JoinYDB(d.get()).word, 0u);
        CountingUnknown foreign;
        const HRESULT hr = c->UpdateYDBValues(kSJ3, &foreign, nullptr, &w, nullptr, &s);
        EXPECT_EQ(foreign.refs(), 1u);
        return Answer{hr, s}; }},
    {"UpdateYDBValues", "job of the IVar road (no data object)",
        E_FAIL, CJ_STATUS_JOB_NOT_FOUND, 4, "QI for IYDB_Data failed", [&] {
        ydb_road::CompareValues(c.get());
        return Answer{c->UpdateYDBValues(kSJ1, nullptr, nullptr, nullptr, r.get(), &s), s}; }},
    {"UpdateYDBValues", "a stopped job", S_OK, CJ_STATUS_RECREATING, 0, "", [&] {
        ydb_road::CompareValues(c.get());
        EXPECT_NE(AddAndJoinIVar(kSJ3) & CJ_ACTION_STOP, 0u);
        return Answer{c->UpdateYDBValues(kSJ1, nullptr, nullptr, &w, nullptr, &s), s}; }},
    {"startYDBService", "pResult null", E_POINTER, 0, 4, kNull,
     [&] { return Answer{c->startYDBService(kCycle, kTyp, 1, kSJ1, kCJ, nullptr, nullptr), 0}; }},
    {"startYDBService", "unknown id", S_OK, 0, 0, "", [&] {
        w = 1;
        return Answer{c->startYDBService(kCycle, kTyp, 1, kSJ1, 77, nullptr, &w), w}; }},
    {"startYDBService", "job without a YDB decode callback", S_OK, 0, 0, "", [&] {
        w = 1;
        return Answer{c->startYDBService(kCycle, kTyp, 1, kSJ1, kCJ, &icb1, &w), w}; }},
    {"newJobID", "pointer null", E_POINTER, 0, 4, kNull,
     [&] { return Answer{c->newJobID(nullptr), 0}; }},
    };
    // clang-format on
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(std::string(row.method) + ": " + row.input);
        if (i > 0) {
            SetUp();  // a fresh component with the same running job
        }
        r.reset();
        n.reset();
        tbl.reset();
        w = w2 = 0;
        const Answer got = row.call();
        EXPECT_EQ(got.hr, row.hr);
        EXPECT_EQ(got.word, row.word);
        EXPECT_TRUE(row.trace[0] == 0 || traced_start(row.level, row.trace));
        if (row.level != 4) {
            EXPECT_EQ(traced(4), std::vector<std::string>{});
        }
        r.reset();
        c.reset();
        EXPECT_EQ(testing_support::refs_of(icb1, icb2, decode), testing_support::released(3));
        decode.deleteStatus = 0;
    }
}

}  // namespace
