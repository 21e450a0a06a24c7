// A client in its own process, after the module was registered by the registration tool (Linux)
// or regsvr32 (Windows): it finds the component through the registry only. The suites run in
// two phases, selected by the test driver: registered, then unregistered.
#include <gtest/gtest.h>

#include <string>

#include "collectionjobsymacc.h"
#include "platform/com_ptr.h"
#include "platform/winapi.h"
#include "support/platform_probe.h"
#include "support/registry_read.h"

namespace {

using platform::ComPtr;
using olestring = std::basic_string<OLECHAR>;

const OLECHAR kVersionedProgId[] = OLESTR("CCollectionJobSymAcc.CCollectionJobSymAcc.1");
const OLECHAR kProgId[] = OLESTR("CCollectionJobSymAcc.CCollectionJobSymAcc");
const OLECHAR kClassKey[] = OLESTR("CLSID\\{483CF5CF-1E62-49d0-AE9D-66B708239993}");

class ComponentClientTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
    void TearDown() override {
        CoFreeUnusedLibraries();
        CoUninitialize();
    }

    static ComPtr<IMC_CollectionJobSymAcc> create(REFCLSID clsid) {
        ComPtr<IMC_CollectionJobSymAcc> object;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IMC_CollectionJobSymAcc, object.put_void()),
                  S_OK);
        return object;
    }
};

// What a client does with a created object: the settings and job numbers, then a request.
void UseComponent(IMC_CollectionJobSymAcc* object) {
    ASSERT_EQ(object->setMaxJobs(6, 1024, 0), S_OK);
    ULONG maxJobs = 0, info = 0, flag = 1, maxVars = 0, maxSize = 0;
    ASSERT_EQ(object->getMaxJobs(&maxJobs, &info, &flag), S_OK);
    EXPECT_EQ(maxJobs, 6u);
    EXPECT_EQ(flag, 0u);
    ASSERT_EQ(object->getLimits(&maxVars, &maxSize), S_OK);
    EXPECT_EQ(maxVars, 256u);
    EXPECT_EQ(maxSize, 1024u);
    ULONG first = 0, second = 0;
    ASSERT_EQ(object->newJobID(&first), S_OK);
    ASSERT_EQ(object->newJobID(&second), S_OK);
    EXPECT_GE(first, 0x80000000u);
    EXPECT_NE(first, second);
    // An IVar request (addSymbolsIVar, UpdateIVarJobEntry) goes here once the job operations
    // are in.
}

TEST_F(ComponentClientTest, RegistryNamesTheModuleBesideTheClient) {
    const olestring server = olestring(kClassKey) + OLESTR("\\InprocServer32");
    const olestring path = testing_support::string_value(HKEY_CLASSES_ROOT, server.c_str());
    const olestring folder = testing_support::program_folder();
    EXPECT_EQ(path.compare(0, folder.size(), folder), 0);
    EXPECT_TRUE(testing_support::string_value(HKEY_CLASSES_ROOT, server.c_str(),
                                              OLESTR("ThreadingModel")) == OLESTR("Free"));
}

TEST_F(ComponentClientTest, CreatedByClassIdAndUsed) {
    ComPtr<IMC_CollectionJobSymAcc> object = create(CLSID_CollectionJobSymAcc);
    ASSERT_TRUE(object);
    UseComponent(object.get());
}

TEST_F(ComponentClientTest, CreatedByEitherProgId) {
    for (const OLECHAR* progId : {kVersionedProgId, kProgId}) {
        if (progId == kProgId && testing_support::running_under_wine()) {
            continue;  // Wine 8 reads only the ProgID's own CLSID key, not its CurVer
        }
        CLSID clsid = {};
        ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_CollectionJobSymAcc));
        ComPtr<IMC_CollectionJobSymAcc> object = create(clsid);
        ASSERT_TRUE(object);
        UseComponent(object.get());
    }
    EXPECT_TRUE(testing_support::string_value(HKEY_CLASSES_ROOT,
                                              (olestring(kProgId) + OLESTR("\\CurVer")).c_str()) ==
                kVersionedProgId);
}

class ComponentUnregisteredTest : public ComponentClientTest {};

TEST_F(ComponentUnregisteredTest, ClassKeyAndProgIdsAreGoneAndClsidStays) {
    EXPECT_FALSE(testing_support::key_exists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(testing_support::key_exists(HKEY_CLASSES_ROOT, kVersionedProgId));
    EXPECT_FALSE(testing_support::key_exists(HKEY_CLASSES_ROOT, kProgId));
    EXPECT_TRUE(testing_support::key_exists(HKEY_CLASSES_ROOT, OLESTR("CLSID")));

    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_CollectionJobSymAcc, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMC_CollectionJobSymAcc, &p),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(p, nullptr);
    CLSID clsid = {};
    EXPECT_TRUE(FAILED(CLSIDFromProgID(kVersionedProgId, &clsid)));
}

}  // namespace
