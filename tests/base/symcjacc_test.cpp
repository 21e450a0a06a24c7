// The component object: its bounds, device properties, reference count and job numbers, as a
// client sees them through IMC_CollectionJobSymAcc.
#include "base/st/symcjacc/symcjacc.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "registry_fixture.h"
#include "support/counting_unknown.h"
#include "support/inst_details.h"

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
    HRESULT Check(const char* typeID, IUnknown* details, LONG devType = 3) {
        VARIANT dev;
        VariantInit(&dev);
        dev.vt = VT_I4;
        dev.lVal = devType;
        return object->checkProperties(dev, typeID, details);
    }
    // "id:comparison" as getProperties answers, "<none>" when it fails.
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
    ULONG a = 1, b = 1, c = 1, mode = 1;
    object->getMaxJobs(&a, &b, &c);
    object->getMode(&mode);
    EXPECT_EQ((std::vector<ULONG>{a, b, c, mode}), (std::vector<ULONG>{8, 0, 0, 0}));
    object->getLimits(&a, &b);
    EXPECT_EQ((std::vector<ULONG>{a, b}), (std::vector<ULONG>{256, 2048}));
    // The size given to setMaxJobs is the limits' size; its third argument is a flag.
    EXPECT_EQ(object->setMaxJobs(5, 100, 7), S_OK);
    object->getLimits(&a, &b);
    EXPECT_EQ((std::vector<ULONG>{a, b}), (std::vector<ULONG>{256, 100}));
    object->getMaxJobs(&a, &b, &c);
    EXPECT_EQ((std::vector<ULONG>{a, b, c}), (std::vector<ULONG>{5, 0, 1}));
}

TEST_F(ComponentObjectTest, PropertiesFollowTheDeviceAndKeepValueComparisonOnceSet) {
    capture.clear();
    EXPECT_EQ(TypeID(), "<none>");
    EXPECT_EQ(traced(4), std::vector<std::string>{"invalid type id"});
    InstDetails details;
    details.value = OLESTR("NO");
    EXPECT_EQ(Check("D1", &details), S_OK);
    EXPECT_EQ(details.lastKey, "BI_VALUE_COMPARISON");
    EXPECT_EQ(details.lastDevType, 3);
    EXPECT_EQ(TypeID(), "D1:0");
    details.value = OLESTR("YES");
    EXPECT_EQ(Check("D2", &details), S_OK);
    EXPECT_EQ(TypeID(), "D2:1");
    details.value = OLESTR("NO");
    EXPECT_EQ(Check(nullptr, &details), S_OK);
    EXPECT_EQ(TypeID(), "<none>");  // an empty type id, but the flag stays
    EXPECT_EQ(Check("D3", &details), S_OK);
    EXPECT_EQ(TypeID(), "D3:1");
    EXPECT_EQ(details.refs(), 1u);
}

TEST_F(ComponentObjectTest, AFailingAttributeQueryStillStoresTheTypeID) {
    const char* const call =
        "spIInstDetails->getAttributeByTypeID(devType, ATTRIBKEY_VALUECOMPARISON, &bstrTmp, "
        "&dwRet)";
    struct {
        HRESULT hr;
        ULONG ret;
        bool throws;
        HRESULT expected;
        std::string trace;  // the first error ("": not checked)
    } cases[] = {
        // query's hr, ret, throws; checkProperties' answer; first error
        {S_OK, 5, false, S_OK, std::string("error calling ") + call + " hr = 0x0 (S_OK), ret=0x5"},
        {E_ACCESSDENIED, 0, false, E_ACCESSDENIED, ""},
        {S_OK, 0, true, E_FAIL, std::string("caught exception calling ") + call},
    };
    for (const auto& c : cases) {
        InstDetails details;
        details.hr = c.hr;
        details.ret = c.ret;
        details.throws = c.throws;
        capture.clear();
        EXPECT_EQ(Check("T", &details, 0), c.expected);
        const auto errors = traced(4);
        ASSERT_FALSE(errors.empty());
        EXPECT_TRUE(c.trace.empty() || errors[0] == c.trace) << errors[0];
        EXPECT_EQ(errors.back().rfind("error calling spIInstDetails", 0), 0u);
        EXPECT_NE(errors.back().find(c.ret != 0 ? "ret=0x5" : "ret=0x0"), std::string::npos);
        EXPECT_EQ(TypeID() + " refs " + std::to_string(details.refs()), "T:0 refs 1");
    }
}

TEST_F(ComponentObjectTest, JobNumbersAreUniqueAcrossThreads) {
    std::vector<ULONG> got[4];
    std::vector<std::thread> threads;
    for (auto& ids : got) {
        threads.emplace_back([&] {
            for (ULONG i = 0, id = 0; i < 2000; ++i) {
                object->newJobID(&id);
                ids.push_back(id);
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
    EXPECT_EQ(all.size(), 8000u);
}

}  // namespace
