// Every interface method given what a careless or hostile client may pass: null pointers,
// unzeroed records where they are accepted, wrong names, data objects that are missing, foreign
// or failing, unknown ids, calls out of order, failing callbacks and a missing callback table.
// Each row starts from the same running collection job and ends by releasing the component:
// every callback object must be back at its starting reference count. docs/robustness.md lists
// these rows.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "anyptr_names.h"
#include "base/st/symcjacc/symcjacc.h"
#include "registry_fixture.h"
#include "support/counting_unknown.h"
#include "support/decode_callback.h"
#include "support/inst_details.h"
#include "support/record_array.h"
#include "support/standin_classes.h"
#include "ydb_road_fixture.h"

namespace {

using anyptr_test::R;
using platform::ComPtr;
using platform::UniqueVariant;
using testing_support::CountingUnknown;
using testing_support::RecordingDecode;
using testing_support::YdbDataClass;

constexpr ULONG kSJ1 = 0x80000001;  // the running job's single jobs
constexpr ULONG kSJ2 = 0x80000002;
constexpr ULONG kSJ3 = 0x80000003;
constexpr ULONG kCJ = 50;  // the running job's id (re-created from 2)
constexpr ULONG kUnknown = 0x80000099;
constexpr LONG kTyp = 9;
constexpr LONG kCycle = 100;

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

// What a client that skipped zeroing may hand over: any bytes, pointers included. Only for the
// calls that zero a record without reading it.
void Unzero(CJAsyncRQRecordHolder& record) {
    std::memset(static_cast<void*>(record.get()), 0xCD, sizeof *record.get());
}

// What a row observed: the HRESULT and the one out-word the row reads.
struct Answer {
    HRESULT hr;
    ULONG word;
};

class BadInputTest : public testing_support::RegistryFixture {
  public:  // the rows reach the component through the fixture
    static void SetUpTestSuite() {
        RegistryFixture::SetUpTestSuite();
        dataClass = std::make_unique<YdbDataClass>();
        ASSERT_TRUE(dataClass->ready());
    }
    static void TearDownTestSuite() {
        dataClass.reset();
        RegistryFixture::TearDownTestSuite();
    }
    void SetUp() override {
        RegistryFixture::SetUp();
        ComPtr<CCollectionJobSymAcc> made(new CCollectionJobSymAcc);  // adds the first reference
        ASSERT_EQ(made.query(IID_IMC_CollectionJobSymAcc, c), S_OK);
        // One running IVar job of two single jobs, re-created as kCJ, with its decode callback.
        for (const ULONG sj : {kSJ1, kSJ2}) {
            ULONG status = 0, cj = 0, action = 0;
            UniqueVariant names = anyptr_test::names_of({R(static_cast<int>(sj & 0xF), 1)});
            ASSERT_EQ(c->addSymbolsIVar(kCycle, kTyp, *names.get(), sj, &status), S_OK);
            ULONG id = sj;
            UniqueVariant handed;
            CJAsyncRQRecordHolder record;
            ASSERT_EQ(c->UpdateIVarJobEntry(kCycle, kTyp, sj == kSJ1 ? &icb1 : &icb2, &id, &cj,
                                            handed.get(), record.get(), &action, &status),
                      S_OK);
        }
        ULONG status = 0, action = CJ_ACTION_STOP | CJ_ACTION_RECORD;
        CJAsyncRQRecordHolder record;
        ASSERT_EQ(c->UpdateJobState(kCycle, kTyp, kSJ2, kCJ, &action, record.get(), &status), S_OK);
        ASSERT_EQ(c->UpdateCJ_IVarCB(0, kTyp, kCJ, &decode, &status), S_OK);
        capture.clear();
    }

    // Whether a trace of that level starts with `text`.
    bool Traced(int level, const std::string& text) const {
        for (const std::string& t : traced(level)) {
            if (t.compare(0, text.size(), text) == 0) {
                return true;
            }
        }
        return false;
    }

    // Values are handed on only once the device asks for value comparison.
    void CompareValues() {
        testing_support::InstDetails details;
        UniqueVariant dev;
        EXPECT_EQ(c->checkProperties(*dev.get(), "D", &details), S_OK);
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
    // A third single job joined into the running job, which stops it for re-creation.
    void StopByThirdJob() {
        ULONG status = 0, cj = 0, action = 0, id = kSJ3;
        UniqueVariant names = anyptr_test::names_of({R(3, 1)});
        EXPECT_EQ(c->addSymbolsIVar(kCycle, kTyp, *names.get(), kSJ3, &status), S_OK);
        UniqueVariant handed;
        CJAsyncRQRecordHolder record;
        EXPECT_EQ(c->UpdateIVarJobEntry(kCycle, kTyp, nullptr, &id, &cj, handed.get(), record.get(),
                                        &action, &status),
                  S_OK);
        EXPECT_NE(action & CJ_ACTION_STOP, 0u);
    }

    static inline std::unique_ptr<YdbDataClass> dataClass;
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
template <class T>
T* Or(int nulled, int index, T* p) {
    return nulled == index ? nullptr : p;
}

struct Row {
    const char* method;
    const char* input;
    std::function<Answer(BadInputTest&)> call;
    HRESULT hr;
    ULONG word;         // the out-word named in docs/robustness.md
    int level;          // of the trace below; besides it no error (level 4) is traced
    const char* trace;  // a trace of that level starts with this ("": none)
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
    // clang-format off
    const std::vector<Row> rows = {
    // method, bad input, the call, HRESULT, out-word, trace level and text
    {"addSymbolsIVar", "pStatus null", [](BadInputTest& t) {
        UniqueVariant n = anyptr_test::names_of({R(0, 1)});
        return Answer{t.c->addSymbolsIVar(kCycle, kTyp, *n.get(), 7, nullptr), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"addSymbolsIVar", "names hold no array (VT_I4)", [&](BadInputTest& t) {
        UniqueVariant n = Kind(VT_I4);
        return Answer{t.c->addSymbolsIVar(kCycle, kTyp, *n.get(), 7, &s), s}; },
        S_OK, CJ_STATUS_ADD_FAILED, 4, "error SafeArrayGetBounds"},
    {"addSymbolsIVar", "names VT_ARRAY with a null array", [&](BadInputTest& t) {
        UniqueVariant n = Kind(VT_ARRAY | VT_VARIANT);
        const Answer a{t.c->addSymbolsIVar(kCycle, kTyp, *n.get(), 7, &s), s};
        (void)n.release();
        return a; },
        S_OK, CJ_STATUS_ADD_FAILED, 4, "error unsupported names array"},
    {"addSymbolsIVar", "names held by reference", [&](BadInputTest& t) {
        UniqueVariant held = anyptr_test::names_of({R(0, 1)});
        VARIANT n;
        n.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
        n.pparray = &held->parray;
        return Answer{t.c->addSymbolsIVar(kCycle, kTyp, n, 7, &s), s}; },
        S_OK, CJ_STATUS_ADD_FAILED, 4, "error unsupported names array"},
    {"addSymbolsIVar", "names array of two dimensions", [&](BadInputTest& t) {
        SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
        UniqueVariant n = Kind(VT_ARRAY | VT_VARIANT);
        n->parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
        return Answer{t.c->addSymbolsIVar(kCycle, kTyp, *n.get(), 7, &s), s}; },
        S_OK, CJ_STATUS_ADD_FAILED, 4, "error unsupported names array, vt 0x200C"},
    {"addSymbolsIVar", "names array of records", [&](BadInputTest& t) {
        testing_support::RecordArray n(2);
        EXPECT_TRUE(n.ready());
        return Answer{t.c->addSymbolsIVar(kCycle, kTyp, *n.variant(), 7, &s), s}; },
        S_OK, CJ_STATUS_ADD_FAILED, 4, "error unsupported names array, vt 0x2024"},
    {"addSymbolsIVar", "names that are not ANY pointers (strings)", [&](BadInputTest& t) {
        std::vector<UniqueVariant> e(2);
        for (UniqueVariant& v : e) {
            v->vt = VT_BSTR;
            v->bstrVal = SysAllocString(OLESTR("x"));
        }
        UniqueVariant n = anyptr_test::names_of(e);
        return Answer{t.c->addSymbolsIVar(kCycle, kTyp, *n.get(), 7, &s), s}; },
        S_OK, 0, 0, ""},
    {"UpdateIVarJobEntry", "each of its six pointers null", [&](BadInputTest& t) {
        return Answer{EachNull(6, [&](int i) {
            UniqueVariant n;
            CJAsyncRQRecordHolder r;
            ULONG sj = kSJ1;
            return t.c->UpdateIVarJobEntry(kCycle, kTyp, nullptr, Or(i, 0, &sj), Or(i, 1, &w),
                                           Or(i, 2, n.get()), Or(i, 3, r.get()), Or(i, 4, &w2),
                                           Or(i, 5, &s)); }), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"UpdateIVarJobEntry", "no job of that cycle and type (no add before)", [&](BadInputTest& t) {
        UniqueVariant n;
        CJAsyncRQRecordHolder r;
        ULONG sj = kUnknown, action = 0;
        const HRESULT hr = t.c->UpdateIVarJobEntry(300, kTyp, nullptr, &sj, &w, n.get(), r.get(),
                                                   &action, &s);
        return Answer{hr, action}; },
        S_OK, CJ_ACTION_ALONE, 0, ""},
    {"UpdateJobState", "pRecord or pStatus null", [&](BadInputTest& t) {
        return Answer{EachNull(2, [&](int i) {
            CJAsyncRQRecordHolder r;
            return t.c->UpdateJobState(kCycle, kTyp, kSJ1, 60, &w, Or(i, 0, r.get()),
                                       Or(i, 1, &s)); }), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"UpdateJobState", "pAction null", [&](BadInputTest& t) {
        CJAsyncRQRecordHolder r;
        return Answer{t.c->UpdateJobState(kCycle, kTyp, kSJ1, 60, nullptr, r.get(), &s),
                      r->m_ES_JobID}; },
        S_OK, 60, 0, ""},
    {"UpdateJobState", "unknown single job (no join before)", [&](BadInputTest& t) {
        CJAsyncRQRecordHolder r;
        ULONG action = 0;
        return Answer{t.c->UpdateJobState(kCycle, kTyp, kUnknown, 60, &action, r.get(), &s),
                      r->m_ES_JobID}; },
        S_OK, 0, 4, "Job 2147483801 collection job 60  not found, dwaction 0"},
    {"UpdateJobState", "unzeroed record", [&](BadInputTest& t) {
        CJAsyncRQRecordHolder r;
        Unzero(r);
        ULONG action = 0;
        return Answer{t.c->UpdateJobState(kCycle, kTyp, kSJ1, 60, &action, r.get(), &s),
                      r->m_ES_JobID}; },
        S_OK, 60, 0, ""},
    {"cancelASynch", "each of its four pointers null", [&](BadInputTest& t) {
        return Answer{EachNull(4, [&](int i) {
            CJAsyncRQRecordHolder r;
            return t.c->cancelASynch(kSJ1, Or(i, 0, &w), Or(i, 1, r.get()), Or(i, 2, &w2),
                                     Or(i, 3, &s)); }), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"cancelASynch", "unknown job", [&](BadInputTest& t) {
        CJAsyncRQRecordHolder r;
        ULONG actions = 1;
        return Answer{t.c->cancelASynch(kUnknown, &w, r.get(), &actions, &s), actions}; },
        S_OK, 0, 4, "job 2147483801 to cancel not in list"},
    {"cancelASynch", "unzeroed record", [&](BadInputTest& t) {
        CJAsyncRQRecordHolder r;
        Unzero(r);
        ULONG actions = 0;
        return Answer{t.c->cancelASynch(kSJ1, &w, r.get(), &actions, &s), actions}; },
        S_OK, CJ_CANCEL_SJ_REMOVED, 0, ""},
    {"cancelASynch", "the same single job twice", [&](BadInputTest& t) {
        CJAsyncRQRecordHolder r;
        ULONG actions = 0;
        (void)t.c->cancelASynch(kSJ1, &w, r.get(), &actions, &s);
        CJAsyncRQRecordHolder again;
        return Answer{t.c->cancelASynch(kSJ1, &w, again.get(), &actions, &s), actions}; },
        S_OK, CJ_CANCEL_SJ_REMOVED, 0, ""},
    {"cancelASynch", "single job added but never joined", [&](BadInputTest& t) {
        UniqueVariant n = anyptr_test::names_of({R(9, 1)});
        (void)t.c->addSymbolsIVar(300, kTyp, *n.get(), kUnknown, &s);
        CJAsyncRQRecordHolder r;
        ULONG actions = 1;
        return Answer{t.c->cancelASynch(kUnknown, &w, r.get(), &actions, &s), actions}; },
        S_OK, 0, 4, "job 2147483801 to cancel not in list"},
    {"GetIVarLookupTbl", "either pointer null", [&](BadInputTest& t) {
        return Answer{EachNull(2, [&](int i) {
            UniqueVariant tbl;
            return t.c->GetIVarLookupTbl(kCJ, kTyp, Or(i, 0, tbl.get()), Or(i, 1, &w)); }),
            0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"GetIVarLookupTbl", "unknown job (no add before)", [&](BadInputTest& t) {
        UniqueVariant tbl;
        return Answer{t.c->GetIVarLookupTbl(77, kTyp, tbl.get(), &w),
                      static_cast<ULONG>(tbl.vt())}; },
        E_FAIL, VT_EMPTY, 0, ""},
    {"checkProperties", "no instance details", [](BadInputTest& t) {
        UniqueVariant dev;
        return Answer{t.c->checkProperties(*dev.get(), nullptr, nullptr), 0}; },
        0x0000FFFF, 0, 0, ""},
    {"checkProperties", "details without their interface", [](BadInputTest& t) {
        UniqueVariant dev;
        CountingUnknown details;
        return Answer{t.c->checkProperties(*dev.get(), "x", &details), details.refs()}; },
        0x0000FFFF, 1, 0, ""},
    {"getProperties", "either pointer null", [&](BadInputTest& t) {
        char* id = nullptr;
        return Answer{EachNull(2, [&](int i) {
            return t.c->getProperties(Or(i, 0, &id), Or(i, 1, &w)); }), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"setMaxJobs", "no jobs allowed, then a new cycle added", [&](BadInputTest& t) {
        (void)t.c->setMaxJobs(0, 0, 0);
        UniqueVariant n = anyptr_test::names_of({R(0, 1)});
        (void)t.c->addSymbolsIVar(300, kTyp, *n.get(), kUnknown, &s);
        ULONG cj = 1, state = 0;
        return Answer{t.c->existCycle(300, kTyp, kUnknown, &cj, &state), cj}; },
        S_OK, 0, 0, ""},
    {"getMaxJobs", "each of its three pointers null", [&](BadInputTest& t) {
        return Answer{EachNull(3, [&](int i) {
            return t.c->getMaxJobs(Or(i, 0, &w), Or(i, 1, &w2), Or(i, 2, &s)); }), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"setLimits", "extreme values", [&](BadInputTest& t) {
        (void)t.c->setLimits(0xFFFFFFFF, 0);
        return Answer{t.c->getLimits(&w, &w2), w2}; },
        S_OK, 0, 0, ""},
    {"getLimits", "either pointer null", [&](BadInputTest& t) {
        return Answer{EachNull(2, [&](int i) {
            return t.c->getLimits(Or(i, 0, &w), Or(i, 1, &w2)); }), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"setMode", "any value", [&](BadInputTest& t) {
        (void)t.c->setMode(0xFFFFFFFF);
        return Answer{t.c->getMode(&w), w}; },
        S_OK, 0xFFFFFFFF, 0, ""},
    {"getMode", "pointer null", [](BadInputTest& t) {
        return Answer{t.c->getMode(nullptr), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"getJobProperties", "each of its three pointers null", [&](BadInputTest& t) {
        return Answer{EachNull(3, [&](int i) {
            return t.c->getJobProperties(kSJ1, Or(i, 0, &l), Or(i, 1, &l2), Or(i, 2, &s)); }),
            0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"getJobProperties", "unknown job", [&](BadInputTest& t) {
        return Answer{t.c->getJobProperties(kUnknown, &l, &l2, &s), s}; },
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 0, ""},
    {"UpdateCJ_YDBCB", "pStatus null", [](BadInputTest& t) {
        return Answer{t.c->UpdateCJ_YDBCB(0, kTyp, kCJ, nullptr, nullptr), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"UpdateCJ_YDBCB", "unknown job (before its creation)", [&](BadInputTest& t) {
        return Answer{t.c->UpdateCJ_YDBCB(0, kTyp, 77, nullptr, &s), s}; },
        S_OK, 0, 3, "collection job 77  not found / not yet created"},
    {"UpdateCJ_YDBCB", "callback without IMC_YDBDecode", [&](BadInputTest& t) {
        CountingUnknown plain;
        const HRESULT hr = t.c->UpdateCJ_YDBCB(0, kTyp, kCJ, &plain, &s);
        t.c.reset();
        return Answer{hr, plain.refs()}; },
        S_OK, 1, 3, "IYDBDecodeInterface interface is NULL"},
    {"UpdateCJ_YDBCB", "callback without the free-threaded marshaler", [&](BadInputTest& t) {
        UnmarshalableDecode d;
        const HRESULT hr = t.c->UpdateCJ_YDBCB(0, kTyp, kCJ, &d, &s);
        t.c.reset();
        return Answer{hr, d.refs()}; },
        S_OK, 1, 4, "error calling spIGIT->RegisterInterfaceInGlobal(IYDBDecodeInterface"},
    {"UpdateCJ_IVarCB", "pStatus null", [](BadInputTest& t) {
        return Answer{t.c->UpdateCJ_IVarCB(0, kTyp, kCJ, nullptr, nullptr), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"UpdateCJ_IVarCB", "unknown job (before its creation)", [&](BadInputTest& t) {
        return Answer{t.c->UpdateCJ_IVarCB(0, kTyp, 77, nullptr, &s), s}; },
        S_OK, 0, 3, "collection job 77  not found / not yet created"},
    {"UpdateCJ_IVarCB", "callback table not registered", [&](BadInputTest& t) {
        RecordingDecode d;
        EXPECT_EQ(testing_support::unregister_standin("mccbtable.dll"), S_OK);
        const HRESULT hr = t.c->UpdateCJ_IVarCB(0, kTyp, kCJ, &d, &s);
        EXPECT_EQ(testing_support::register_standin("mccbtable.dll"), S_OK);
        return Answer{hr, d.refs()}; },
        S_OK, 1, 4, "error accessing global interface table 0x"},
    {"deleteYDBCJob", "pStatus null", [](BadInputTest& t) {
        return Answer{t.c->deleteYDBCJob(kCJ, kTyp, 1, nullptr), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"deleteYDBCJob", "unknown job", [&](BadInputTest& t) {
        return Answer{t.c->deleteYDBCJob(77, kTyp, 1, &s), s}; },
        S_OK, 0, 3, "CJ ES_JobID 77 not found"},
    {"deleteYDBCJob", "job without its YDB callback", [&](BadInputTest& t) {
        return Answer{t.c->deleteYDBCJob(kCJ, kTyp, 1, &s), s}; },
        S_OK, 0, 3, "CB of collection job 50  revoked"},
    {"updateYDBCJob", "pStatus null", [](BadInputTest& t) {
        return Answer{t.c->updateYDBCJob(kCJ, kTyp, nullptr), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"updateYDBCJob", "unknown job", [&](BadInputTest& t) {
        return Answer{t.c->updateYDBCJob(77, kTyp, &s), s}; },
        S_OK, CJ_STATUS_UPDATE_NOT_FOUND, 4, "collection job 77  not found"},
    {"deleteIVarCJob", "pStatus null", [](BadInputTest& t) {
        return Answer{t.c->deleteIVarCJob(kCJ, kTyp, 1, nullptr), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"deleteIVarCJob", "unknown job", [&](BadInputTest& t) {
        return Answer{t.c->deleteIVarCJob(77, kTyp, 1, &s), s}; },
        S_OK, 0, 0, ""},
    {"deleteIVarCJob", "callback answers a failure status", [&](BadInputTest& t) {
        t.decode.deleteStatus = 0xDEAD;
        return Answer{t.c->deleteIVarCJob(kCJ, kTyp, 1, &s), s}; },
        S_OK, 0xDEAD, 0, ""},
    {"deleteIVarCJob", "twice (the callback is gone)", [&](BadInputTest& t) {
        (void)t.c->deleteIVarCJob(kCJ, kTyp, 1, &s);
        t.decode.deleteStatus = 0xDEAD;
        return Answer{t.c->deleteIVarCJob(kCJ, kTyp, 1, &s), s}; },
        S_OK, 0, 0, ""},
    {"deleteIVarCJob", "callback without IMC_YDBDecode", [&](BadInputTest& t) {
        CountingUnknown plain;
        (void)t.c->deleteIVarCJob(kCJ, kTyp, 1, &s);  // the registered callback goes first
        (void)t.c->UpdateCJ_IVarCB(0, kTyp, kCJ, &plain, &s);
        const HRESULT hr = t.c->deleteIVarCJob(kCJ, kTyp, 1, &s);
        t.c.reset();
        return Answer{hr, plain.refs()}; },
        S_OK, 1, 0, ""},
    {"updateIVarCJob", "pStatus null", [](BadInputTest& t) {
        return Answer{t.c->updateIVarCJob(kCJ, kTyp, nullptr), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"updateIVarCJob", "unknown job", [&](BadInputTest& t) {
        return Answer{t.c->updateIVarCJob(77, kTyp, &s), s}; },
        S_OK, 0, 0, ""},
    {"setRt_JobID", "pStatus null", [](BadInputTest& t) {
        return Answer{t.c->setRt_JobID(kCycle, kTyp, kSJ1, kCJ, 7, nullptr), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"setRt_JobID", "unknown single and collection job", [&](BadInputTest& t) {
        return Answer{t.c->setRt_JobID(kCycle, kTyp, kUnknown, 77, 7, &s), s}; },
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 4, "SJ ES_JobID 2147483801, CJ RT_JobID 7 not found"},
    {"getRt_JobID", "either pointer null", [&](BadInputTest& t) {
        return Answer{EachNull(2, [&](int i) {
            w = kSJ1;
            return t.c->getRt_JobID(kCycle, 0, Or(i, 0, &w), Or(i, 1, &s)); }), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"getRt_JobID", "unknown job", [&](BadInputTest& t) {
        w = kUnknown;
        return Answer{t.c->getRt_JobID(kCycle, 0, &w, &s), w}; },
        S_OK, 0, 0, ""},
    {"existCycle", "either pointer null", [&](BadInputTest& t) {
        return Answer{EachNull(2, [&](int i) {
            return t.c->existCycle(kCycle, kTyp, kSJ1, Or(i, 0, &w), Or(i, 1, &w2)); }), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"existCycle", "unknown cycle", [&](BadInputTest& t) {
        return Answer{t.c->existCycle(300, kTyp, kSJ1, &w, &w2), w2}; },
        S_OK, 4, 0, ""},
    {"addSymbolsYDB", "pStatus null", [](BadInputTest& t) {
        return Answer{t.c->addSymbolsYDB(200, kTyp, nullptr, kSJ3, nullptr), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"addSymbolsYDB", "no data object", [&](BadInputTest& t) {
        return Answer{t.c->addSymbolsYDB(200, kTyp, nullptr, kSJ3, &s), s}; },
        S_OK, 0, 4, "error accessing YDB"},
    {"addSymbolsYDB", "data object without IYDB_Data", [&](BadInputTest& t) {
        CountingUnknown plain;
        return Answer{t.c->addSymbolsYDB(200, kTyp, &plain, kSJ3, &s), s}; },
        S_OK, 0, 4, "error accessing YDB"},
    {"addSymbolsYDB", "data object whose read fails", [&](BadInputTest& t) {
        const ComPtr<IYDB_Data> d = ydb_road::Request(200, 3, 1);
        YdbDataClass::control(d)->FailCall(3, 0, E_FAIL);
        return Answer{S_OK, t.AddYDB(kSJ3, d)}; },
        S_OK, 91, 4, "response from UPP: 'unknown syntax for service'"},
    {"UpdateYDBJobEntry", "each of its five pointers null", [&](BadInputTest& t) {
        return Answer{EachNull(5, [&](int i) {
            CJAsyncRQRecordHolder r;
            ULONG sj = kSJ3;
            return t.c->UpdateYDBJobEntry(200, kTyp, nullptr, Or(i, 0, &sj), Or(i, 1, &w),
                                          nullptr, Or(i, 2, r.get()), Or(i, 3, &w2),
                                          Or(i, 4, &s)); }), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"UpdateYDBJobEntry", "no job of that cycle and type (no add before)", [&](BadInputTest& t) {
        ULONG action = 0;
        const Answer a = t.JoinYDB(ydb_road::Request(200, 3, 1).get(), &action);
        EXPECT_EQ(action, CJ_ACTION_ALONE);
        return a; },
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 4,
        "single job: 2147483651 collection job: 0 not found"},
    {"UpdateYDBJobEntry", "data object without IYDB_Data", [&](BadInputTest& t) {
        EXPECT_EQ(t.AddYDB(kSJ3, ydb_road::Request(200, 3, 1)), 0u);
        CountingUnknown foreign;
        const Answer a = t.JoinYDB(&foreign);
        EXPECT_EQ(foreign.refs(), 1u);
        return a; },
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 4, "error accessing YDB"},
    {"UpdateYDBJobEntry", "data object refusing writes (left as it was)", [&](BadInputTest& t) {
        const ComPtr<IYDB_Data> d = ydb_road::Request(200, 3, 1);
        EXPECT_EQ(t.AddYDB(kSJ3, d), 0u);
        YdbDataClass::control(d)->SetWritable(FALSE);
        const Answer a = t.JoinYDB(d.get());
        EXPECT_EQ(ydb_road::Calls(d, 5), 0u);  // no contents written
        return a; },
        S_OK, 0, 0, ""},
    {"UpdateYDBJobEntry", "data object whose write fails", [&](BadInputTest& t) {
        const ComPtr<IYDB_Data> d = ydb_road::Request(200, 3, 1);
        EXPECT_EQ(t.AddYDB(kSJ3, d), 0u);
        YdbDataClass::control(d)->FailCall(5, 0, E_FAIL);
        return t.JoinYDB(d.get()); },
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 4, "error accessing YDB"},
    {"UpdateYDBValues", "pStatus null", [](BadInputTest& t) {
        return Answer{t.c->UpdateYDBValues(kSJ1, nullptr, nullptr, nullptr, nullptr, nullptr),
                      0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"UpdateYDBValues", "value comparison off", [&](BadInputTest& t) {
        return Answer{t.c->UpdateYDBValues(kSJ1, nullptr, nullptr, &w, nullptr, &s), s}; },
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 3, "collection job 2147483649 not found"},
    {"UpdateYDBValues", "unknown id", [&](BadInputTest& t) {
        t.CompareValues();
        return Answer{t.c->UpdateYDBValues(kUnknown, nullptr, nullptr, &w, nullptr, &s), s}; },
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 3, "collection job 2147483801 not found"},
    {"UpdateYDBValues", "data object without IYDB_Data", [&](BadInputTest& t) {
        t.CompareValues();
        const ComPtr<IYDB_Data> d = ydb_road::Request(200, 3, 1);
        EXPECT_EQ(t.AddYDB(kSJ3, d), 0u);
        EXPECT_EQ(t.JoinYDB(d.get()).word, 0u);
        CountingUnknown foreign;
        const HRESULT hr = t.c->UpdateYDBValues(kSJ3, &foreign, nullptr, &w, nullptr, &s);
        EXPECT_EQ(foreign.refs(), 1u);
        return Answer{hr, s}; },
        S_OK, CJ_STATUS_JOB_NOT_FOUND, 4, "error accessing YDB"},
    {"UpdateYDBValues", "job of the IVar road (no data object)", [&](BadInputTest& t) {
        t.CompareValues();
        CJAsyncRQRecordHolder r;
        return Answer{t.c->UpdateYDBValues(kSJ1, nullptr, nullptr, nullptr, r.get(), &s), s}; },
        E_FAIL, CJ_STATUS_JOB_NOT_FOUND, 4, "QI for IYDB_Data failed"},
    {"UpdateYDBValues", "a stopped job", [&](BadInputTest& t) {
        t.CompareValues();
        t.StopByThirdJob();
        return Answer{t.c->UpdateYDBValues(kSJ1, nullptr, nullptr, &w, nullptr, &s), s}; },
        S_OK, CJ_STATUS_RECREATING, 0, ""},
    {"startYDBService", "pResult null", [](BadInputTest& t) {
        return Answer{t.c->startYDBService(kCycle, kTyp, 1, kSJ1, kCJ, nullptr, nullptr), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    {"startYDBService", "unknown id", [&](BadInputTest& t) {
        w = 1;
        return Answer{t.c->startYDBService(kCycle, kTyp, 1, kSJ1, 77, nullptr, &w), w}; },
        S_OK, 0, 0, ""},
    {"startYDBService", "job without a YDB decode callback", [&](BadInputTest& t) {
        w = 1;
        return Answer{t.c->startYDBService(kCycle, kTyp, 1, kSJ1, kCJ, &t.icb1, &w), w}; },
        S_OK, 0, 0, ""},
    {"newJobID", "pointer null", [](BadInputTest& t) {
        return Answer{t.c->newJobID(nullptr), 0}; },
        E_POINTER, 0, 4, "error: NULL pointer argument"},
    };
    // clang-format on
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(std::string(row.method) + ": " + row.input);
        if (i > 0) {
            SetUp();  // a fresh component with the same running job
        }
        const Answer got = row.call(*this);
        EXPECT_EQ(got.hr, row.hr);
        EXPECT_EQ(got.word, row.word);
        if (row.trace[0] != 0) {
            EXPECT_TRUE(Traced(row.level, row.trace));
        }
        if (row.level != 4) {
            EXPECT_EQ(traced(4), std::vector<std::string>{});
        }
        c.reset();
        EXPECT_EQ(icb1.refs(), 1u);
        EXPECT_EQ(icb2.refs(), 1u);
        EXPECT_EQ(decode.refs(), 1u);
        decode.deleteStatus = 0;
    }
}

}  // namespace
