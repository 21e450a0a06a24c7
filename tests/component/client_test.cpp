// A client in its own process, after the module was registered by the registration tool (Linux)
// or regsvr32 (Windows): it finds the component through the registry only. The suites run in
// two phases, selected by the test driver: registered, then unregistered.
#include <gtest/gtest.h>

#include <cstring>

#include <string>

#include "collectionjobsymacc.h"
#include "platform/com_ptr.h"
#include "platform/raii.h"
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
// A names array of `count` ANY-pointer names (three 32-bit integers holding a 12-byte item:
// header 0x12 0x0A 0xA2, type 5, count 1, unit 0, area 1, start i).
platform::UniqueVariant AnyPtrNames(LONG count) {
    platform::UniqueVariant names;
    names->vt = VT_ARRAY | VT_VARIANT;
    names->parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count));
    for (LONG i = 0; i < count; ++i) {
        const BYTE item[12] = {0x12, 0x0A, 0xA2, 5, 0, 1, 0, 0, 0, 1, 0, static_cast<BYTE>(i)};
        platform::UniqueVariant name;
        name->vt = VT_ARRAY | VT_I4;
        name->parray = SafeArrayCreateVector(VT_I4, 0, 3);
        for (LONG e = 0; e < 3; ++e) {
            LONG value = 0;
            std::memcpy(&value, item + 4 * e, 4);
            SafeArrayPutElement(name->parray, &e, &value);
        }
        SafeArrayPutElement(names->parray, &i, name.get());
    }
    return names;
}

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
    // An IVar request of two single jobs: they share one collection job, which is stopped for
    // re-creation with both jobs' names, and cancelling both removes it.
    ULONG status = 1, cj = 0, action = 0;
    CJAsyncRQRecordHolder record;
    for (ULONG sj : {first, second}) {
        platform::UniqueVariant names = AnyPtrNames(sj == first ? 2 : 1);
        ASSERT_EQ(object->addSymbolsIVar(100, 9, *names.get(), sj, &status), S_OK);
        EXPECT_EQ(status, 0u);
        platform::UniqueVariant reformed;
        action = 0;
        ASSERT_EQ(object->UpdateIVarJobEntry(100, 9, nullptr, &sj, &cj, reformed.get(),
                                             record.get(), &action, &status),
                  S_OK);
    }
    EXPECT_EQ(action, CJ_ACTION_STOP | CJ_ACTION_RECORD);
    EXPECT_EQ(cj, 2u);
    EXPECT_EQ(record->containing, 2u);
    platform::UniqueVariant table;
    ULONG result = 0;
    ASSERT_EQ(object->GetIVarLookupTbl(cj, 9, table.get(), &result), S_OK);
    LONG rows = -1;
    EXPECT_EQ(SafeArrayGetUBound(table->parray, 2, &rows), S_OK);
    EXPECT_EQ(rows, 2);  // three requested names
    // The record is the client's to free, also before a cancel, which only zeroes it.
    ULONG actions = 0;
    record.reset();
    ASSERT_EQ(object->cancelASynch(first, &cj, record.get(), &actions, &status), S_OK);
    EXPECT_EQ(actions, CJ_CANCEL_SJ_REMOVED);
    record.reset();
    ASSERT_EQ(object->cancelASynch(second, &cj, record.get(), &actions, &status), S_OK);
    EXPECT_EQ(actions, CJ_CANCEL_SJ_REMOVED | CJ_CANCEL_CJ_DELETED);
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
