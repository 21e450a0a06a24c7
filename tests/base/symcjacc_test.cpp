// The component object: its identity and reference count, job bounds, device properties and
// job numbers, as a client sees them through IMC_CollectionJobSymAcc.
#include "base/st/symcjacc/symcjacc.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "registry_fixture.h"
#include "support/counting_unknown.h"
#include "support/inst_details.h"
#include "support/wstr.h"

namespace {

using platform::ComPtr;

using testing_support::InstDetails;

class ComponentObjectTest : public testing_support::RegistryFixture {
  protected:
    void SetUp() override {
        RegistryFixture::SetUp();
        ComPtr<CCollectionJobSymAcc> made(new CCollectionJobSymAcc);  // adds the first reference
        ASSERT_EQ(made.query(IID_IMC_CollectionJobSymAcc, object), S_OK);
    }
    static VARIANT DevType(LONG v) {
        VARIANT d;
        VariantInit(&d);
        d.vt = VT_I4;
        d.lVal = v;
        return d;
    }
    std::string TypeID() {
        char* id = nullptr;
        ULONG cmp = 0;
        if (object->getProperties(&id, &cmp) != S_OK) {
            return "<none>";
        }
        std::string r = std::string(id) + (cmp != 0 ? ":1" : ":0");
        CoTaskMemFree(id);
        return r;
    }
    ComPtr<IMC_CollectionJobSymAcc> object;
};

TEST_F(ComponentObjectTest, BoundsStartAtTheirDefaultsAndShareTheSizeLimit) {
    ULONG a = 1, b = 1, c = 1;
    ASSERT_EQ(object->getMaxJobs(&a, &b, &c), S_OK);
    EXPECT_EQ((std::vector<ULONG>{a, b, c}), (std::vector<ULONG>{8, 0, 0}));
    ASSERT_EQ(object->getLimits(&a, &b), S_OK);
    EXPECT_EQ((std::vector<ULONG>{a, b}), (std::vector<ULONG>{256, 2048}));
    ASSERT_EQ(object->getMode(&a), S_OK);
    EXPECT_EQ(a, 0u);

    EXPECT_EQ(object->setMaxJobs(5, 100, 7), S_OK);
    object->getLimits(&a, &b);
    EXPECT_EQ((std::vector<ULONG>{a, b}), (std::vector<ULONG>{256, 100}));
    object->getMaxJobs(&a, &b, &c);
    EXPECT_EQ((std::vector<ULONG>{a, b, c}), (std::vector<ULONG>{5, 0, 1}));
    EXPECT_EQ(object->setLimits(0xFFFFFFFF, 0), S_OK);
    EXPECT_EQ(object->setMode(0x80000000), S_OK);
    object->getLimits(&a, &b);
    EXPECT_EQ((std::vector<ULONG>{a, b}), (std::vector<ULONG>{0xFFFFFFFF, 0}));
    object->getMode(&a);
    EXPECT_EQ(a, 0x80000000u);
}

TEST_F(ComponentObjectTest, NullOutPointersAreRefused) {
    ULONG v = 0;
    char* id = nullptr;
    capture.clear();
    EXPECT_EQ(object->getMaxJobs(nullptr, &v, &v), E_POINTER);
    EXPECT_EQ(object->getMaxJobs(&v, &v, nullptr), E_POINTER);
    EXPECT_EQ(object->getLimits(&v, nullptr), E_POINTER);
    EXPECT_EQ(object->getMode(nullptr), E_POINTER);
    EXPECT_EQ(object->getProperties(nullptr, &v), E_POINTER);
    EXPECT_EQ(object->getProperties(&id, nullptr), E_POINTER);
    EXPECT_EQ(object->newJobID(nullptr), E_POINTER);
    EXPECT_EQ(traced(4), std::vector<std::string>(7, "error: NULL pointer argument"));
}

TEST_F(ComponentObjectTest, PropertiesFollowTheDeviceAndKeepValueComparisonOnceSet) {
    capture.clear();
    EXPECT_EQ(TypeID(), "<none>");
    EXPECT_EQ(traced(4), std::vector<std::string>{"invalid type id"});

    // No instance details, or an object without them: nothing is stored.
    EXPECT_EQ(object->checkProperties(DevType(1), "dev", nullptr), 0x0000FFFF);
    testing_support::CountingUnknown plain;
    EXPECT_EQ(object->checkProperties(DevType(1), "dev", &plain), 0x0000FFFF);
    EXPECT_EQ(TypeID(), "<none>");

    InstDetails details;
    details.value = OLESTR("NO");
    EXPECT_EQ(object->checkProperties(DevType(3), "D1", &details), S_OK);
    EXPECT_EQ(details.lastKey, "BI_VALUE_COMPARISON");
    EXPECT_EQ(details.lastDevType, 3);
    EXPECT_EQ(TypeID(), "D1:0");
    details.value = OLESTR("YES");
    EXPECT_EQ(object->checkProperties(DevType(3), "D2", &details), S_OK);
    EXPECT_EQ(TypeID(), "D2:1");
    details.value = OLESTR("NO");
    EXPECT_EQ(object->checkProperties(DevType(3), nullptr, &details), S_OK);
    EXPECT_EQ(TypeID(), "<none>");  // an empty type id, but the flag stays
    EXPECT_EQ(object->checkProperties(DevType(3), "D3", &details), S_OK);
    EXPECT_EQ(TypeID(), "D3:1");
    EXPECT_EQ(details.refs(), 1u);
}

TEST_F(ComponentObjectTest, AFailingAttributeQueryStillStoresTheTypeID) {
    struct Case {
        HRESULT hr;
        ULONG ret;
        bool throws;
        HRESULT expected;
        const char* trace;
    } cases[] = {
        {S_OK, 5, false, S_OK,
         "error calling spIInstDetails->getAttributeByTypeID(devType, ATTRIBKEY_VALUECOMPARISON, "
         "&bstrTmp, &dwRet) hr = 0x0 (S_OK), ret=0x5"},
        {E_ACCESSDENIED, 0, false, E_ACCESSDENIED, nullptr},
        {S_OK, 0, true, E_FAIL,
         "caught exception calling spIInstDetails->getAttributeByTypeID(devType, "
         "ATTRIBKEY_VALUECOMPARISON, &bstrTmp, &dwRet)"},
    };
    for (const Case& c : cases) {
        InstDetails details;
        details.hr = c.hr;
        details.ret = c.ret;
        details.throws = c.throws;
        capture.clear();
        EXPECT_EQ(object->checkProperties(DevType(0), "T", &details), c.expected);
        const auto errors = traced(4);
        ASSERT_FALSE(errors.empty());
        if (c.trace != nullptr) {
            EXPECT_EQ(errors[0], c.trace);
        }
        EXPECT_EQ(errors.back().rfind("error calling spIInstDetails", 0), 0u);
        EXPECT_NE(errors.back().find(c.ret != 0 ? "ret=0x5" : "ret=0x0"), std::string::npos);
        EXPECT_EQ(TypeID(), "T:0");
        EXPECT_EQ(details.refs(), 1u);
    }
}

TEST_F(ComponentObjectTest, ConstructionIsTracedAndReferencesBalanceAcrossThreads) {
    capture.clear();
    { ComPtr<CCollectionJobSymAcc> other(new CCollectionJobSymAcc); }
    const auto messages = capture.messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0].level, TRACE_CONSTRUCTION);
    EXPECT_EQ(messages[0].text, "CTOR");

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this] {
            for (int i = 0; i < 2000; ++i) {
                ComPtr<IMC_CollectionJobSymAcc> copy = object;
                ULONG mode = 0;
                copy->getMode(&mode);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
}

TEST_F(ComponentObjectTest, JobNumbersAreUniqueAcrossThreads) {
    constexpr int kThreads = 4, kEach = 2000;
    std::vector<std::vector<ULONG>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                ULONG id = 0;
                object->newJobID(&id);
                got[t].push_back(id);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    std::set<ULONG> all;
    for (const auto& ids : got) {
        for (ULONG id : ids) {
            EXPECT_GT(id, 0x80000000u);
            all.insert(id);
        }
    }
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
}

}  // namespace
