// The YDB road's test fixture: requests in data objects, a component whose registry the tests
// can look into, and one client's walk from adding to starting.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/st/symcjacc/symcjacc.h"
#include "onl/ydbservice/upp_debservice.h"
#include "registry_fixture.h"
#include "support/counting_unknown.h"
#include "support/decode_callback.h"
#include "support/inst_details.h"
#include "engsys/ydbdata_class.h"

namespace ydb_road {

using Bytes = std::vector<BYTE>;
using platform::ComPtr;
using testing_support::CountingUnknown;
using testing_support::RecordingDecode;
using testing_support::YdbDataClass;

constexpr LONG kTyp = 1;
// A YDB join that stopped its CJ for re-creation from the message (the alone bit stays); with more
// than two SJs, or a client's id, the extra bit as well.
constexpr ULONG kRecreateTwo = CJ_ACTION_ALONE | CJ_ACTION_STOP | CJ_ACTION_RECORD;
constexpr ULONG kRecreateMany = kRecreateTwo | CJ_ACTION_EXTRA;
// Where a request's variables start: data and record headers (32 bytes), the service and job
// description (8), the variable count (4).
constexpr size_t kVarsAt = 44;

// A request of `count` variables, each naming (tag, index): 4-byte values, or blocks of `block`
// bytes.
inline ComPtr<IYDB_Data> Request(LONG cycle, uint32_t tag, uint32_t count, uint16_t block = 0) {
    ComPtr<IYDB_Data> data = YdbDataClass::create();
    EXPECT_EQ(data->InitData(1, 4, 0, 0, 0), S_OK);
    Gen_ExStream s(data.get());
    YDB_RecordHeader{0xC101, 0, 0}.write(s);
    Upp_DebVarService m(1, -1);
    m.setServiceType(2);
    m.m_JobDescr.m_JobType = 1;
    m.m_JobDescr.m_Param = static_cast<uint32_t>(cycle);
    for (uint32_t i = 0; i < count; ++i) {
        Upp_DebVar v;
        v.m_AddrType = 1;
        v.m_AddrA = (tag << 16) | i;
        if (block != 0) {
            v.setBlock(block);
        } else {
            v.m_DataType = 2;
        }
        m.m_VarList.add(v);
    }
    m.write(s);
    EXPECT_TRUE(s.good());
    return data;
}

inline Bytes Contents(const ComPtr<IYDB_Data>& d) {
    return testing_support::ydb_contents(d.get());
}
inline Bytes VarBytes(const ComPtr<IYDB_Data>& d) {
    const Bytes all = Contents(d);
    return all.size() < kVarsAt ? Bytes{} : Bytes(all.begin() + kVarsAt, all.end());
}
inline ULONG Word(const Bytes& b, size_t at) {
    return b.size() < at + 4 ? 0xFFFFFFFF
                             : b[at] | b[at + 1] << 8 | b[at + 2] << 16 | ULONG{b[at + 3]} << 24;
}
inline ULONG Calls(const ComPtr<IYDB_Data>& d, ULONG position) {
    ULONG n = 0;
    YdbDataClass::control(d)->GetCallCount(position, &n);
    return n;
}

// Values are handed on only once the device asks for value comparison.
inline void CompareValues(IMC_CollectionJobSymAcc* object) {
    testing_support::InstDetails details;  // answers "YES"
    VARIANT dev{};
    EXPECT_EQ(object->checkProperties(dev, "D", &details), S_OK);
}

struct Joined {
    ULONG cj = 0, action = 0, status = 0;
    HRESULT hr = E_FAIL;
};

struct ProbedComponent : CCollectionJobSymAcc {
    using CCollectionJobSymAcc::m_pRQ;
};

// A decode callback reached only through QueryInterface: its IUnknown is another object.
class TearOffDecode : public CountingUnknown {
  public:
    explicit TearOffDecode(RecordingDecode& inner) : m_inner(inner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv != nullptr && IsEqualIID(riid, IID_IMC_YDBDecode)) {
            return m_inner.QueryInterface(riid, ppv);
        }
        return CountingUnknown::QueryInterface(riid, ppv);
    }

  private:
    RecordingDecode& m_inner;
};

// The registry fixture with the data object class registered.
class YdbDataFixture : public testing_support::RegistryFixture {
  public:
    static void SetUpTestSuite() {
        RegistryFixture::SetUpTestSuite();
        dataClass = std::make_unique<YdbDataClass>();
        ASSERT_TRUE(dataClass->ready());
    }
    static void TearDownTestSuite() {
        dataClass.reset();
        RegistryFixture::TearDownTestSuite();
    }
    static inline std::unique_ptr<YdbDataClass> dataClass;
};

class YdbRoadTest : public YdbDataFixture {
  protected:
    void SetUp() override {
        RegistryFixture::SetUp();
        MakeComponent();
    }
    void MakeComponent() {
        ComPtr<ProbedComponent> made(new ProbedComponent);  // adds the first reference
        ASSERT_EQ(made.query(IID_IMC_CollectionJobSymAcc, object), S_OK);
        impl = made.get();
    }
    bool Traced(const std::string& text, int level) const {
        const auto all = traced(level);
        return std::find(all.begin(), all.end(), text) != all.end();
    }

    ULONG Add(LONG cycle, IUnknown* data, ULONG sj, HRESULT expected = S_OK) {
        ULONG status = 0xDEAD;
        EXPECT_EQ(object->addSymbolsYDB(cycle, kTyp, data, sj, &status), expected);
        return status;
    }
    Joined Join(LONG cycle, ULONG sj, IUnknown* data, CJAsyncRQRecordHolder& record,
                IUnknown* disp = nullptr, ULONG actionIn = 0) {
        Joined j;
        j.action = actionIn;
        j.hr = object->UpdateYDBJobEntry(cycle, kTyp, disp, &sj, &j.cj, data, record.get(),
                                         &j.action, &j.status);
        return j;
    }
    // One client's walk: add, join, re-create under newID when stopped, confirm until no tick is
    // left, start through the first SJ (a later SJ would stop the job again). Returns the CJ id.
    ULONG Walk(LONG cycle, ULONG sj, uint32_t vars, ULONG newID, RecordingDecode& decode,
               ULONG value = 0) {
        const ComPtr<IYDB_Data> data = Request(cycle, sj & 0xFFFF, vars);
        EXPECT_EQ(Add(cycle, data.get(), sj), 0u);
        CJAsyncRQRecordHolder record, recreated;
        Joined j = Join(cycle, sj, data.get(), record, &decode);
        ULONG status = 0, cj = record->m_ES_JobID;
        if ((j.action & CJ_ACTION_STOP) != 0) {
            EXPECT_EQ(
                object->UpdateJobState(cycle, kTyp, sj, newID, &j.action, recreated.get(), &status),
                S_OK);
            cj = newID;
        }
        for (LONG tick = 0; tick < std::max<LONG>(recreated->ticks, 1); ++tick) {
            EXPECT_EQ(object->UpdateCJ_YDBCB(0, kTyp, cj, &decode, &status), S_OK);
        }
        const ULONG first = recreated->m_pSJ != nullptr ? recreated->m_pSJ[0].ES_JobID : sj;
        ULONG result = 0;
        EXPECT_EQ(object->startYDBService(cycle, kTyp, value, first, cj, &decode, &result), S_OK);
        return cj;
    }
    ULONG Cancel(ULONG sj) {  // the actions answered
        CJAsyncRQRecordHolder record;
        ULONG cj = 0, actions = 0xDEAD, status = 0;
        EXPECT_EQ(object->cancelASynch(sj, &cj, record.get(), &actions, &status), S_OK);
        return actions;
    }
    CAsyncRQEntry* Entry(ULONG cj) { return impl->m_pRQ->GetAsychronRQArray(cj, kTyp); }
    ComPtr<IYDB_Data> DataOf(ULONG cj) {
        ComPtr<IYDB_Data> d;
        Entry(cj)->m_spYDBData.query(d);
        return d;
    }

    ComPtr<IMC_CollectionJobSymAcc> object;
    ProbedComponent* impl = nullptr;
};

}  // namespace ydb_road
