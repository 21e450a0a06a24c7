// COM activation: apartments, classes registered in the process and in the registry, ProgIDs,
// the answers for classes that cannot be had, and unloading of servers.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "modules/test_server.h"
#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/winapi.h"
#include "support/ping_object.h"
#include "support/platform_probe.h"

namespace {

using platform::ComPtr;
using testing_support::PingObject;
using olestring = std::basic_string<OLECHAR>;

PLATFORM_DEFINE_GUID(kUnregistered, 0x7C0FFEE1, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x01);

HRESULT create(REFCLSID clsid, REFIID iid, void** out, DWORD context = CLSCTX_INPROC_SERVER) {
    return CoCreateInstance(clsid, nullptr, context, iid, out);
}

// Runs f on a new thread and returns its result: apartments belong to threads.
template <class F>
auto on_new_thread(F f) {
    decltype(f()) result{};
    std::thread([&] { result = f(); }).join();
    return result;
}

TEST(ApartmentTest, InitializationIsCountedPerThreadAndModelAndActivationNeedsIt) {
    const auto codes = on_new_thread([] {
        void* p = nullptr;
        std::vector<HRESULT> r;
        // No thread of the process has initialized COM here.
        r.push_back(create(CLSID_StdGlobalInterfaceTable, IID_IGlobalInterfaceTable, &p));
        r.push_back(
            CoGetClassObject(kUnregistered, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &p));
        r.push_back(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        r.push_back(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        r.push_back(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        CoUninitialize();
        CoUninitialize();
        return r;
    });
    EXPECT_EQ(codes, (std::vector<HRESULT>{CO_E_NOTINITIALIZED, CO_E_NOTINITIALIZED, S_OK, S_FALSE,
                                           RPC_E_CHANGED_MODE}));
}

class ComTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(ComTest, ThreadsWithoutInitializationJoinTheProcessApartment) {
    const HRESULT hr = on_new_thread([] {
        ComPtr<IGlobalInterfaceTable> table;
        return create(CLSID_StdGlobalInterfaceTable, IID_IGlobalInterfaceTable, table.put_void());
    });
    EXPECT_EQ(hr, S_OK);
}

// A class factory that hands out its one object.
class SingletonFactory final
    : public platform::ComObject<SingletonFactory, platform::CallerOwned, IClassFactory> {
  public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return object.QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    PingObject object{true};
};

TEST_F(ComTest, ClassesRegisteredInTheProcessComeFirst) {
    SingletonFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(kUnregistered, &factory, CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    {
        ComPtr<ICjTestPing> ping;
        ASSERT_EQ(create(kUnregistered, IID_ICjTestPing, ping.put_void()), S_OK);
        EXPECT_EQ(ping.get(), &factory.object);
        ComPtr<IClassFactory> got;
        ASSERT_EQ(
            CoGetClassObject(kUnregistered, CLSCTX_ALL, nullptr, IID_IClassFactory, got.put_void()),
            S_OK);
        EXPECT_EQ(got.get(), &factory);
        void* p = nullptr;
        EXPECT_EQ(create(kUnregistered, IID_IStream, &p), E_NOINTERFACE);
    }
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(factory.refs(), 1u);
    EXPECT_EQ(factory.object.refs(), 1u);
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
    void* p = nullptr;
    EXPECT_EQ(create(kUnregistered, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
}

// Registers the test server under HKEY_CLASSES_ROOT as a registration script would.
class RegisteredServerTest : public ComTest {
  protected:
    void SetUp() override {
        ComTest::SetUp();
        const olestring module = testing_support::program_folder() + CJ_TEST_SERVER_MODULE_W;
        const olestring clsidKey = CJ_TEST_SERVER_CLSID_KEY_W;
        set(clsidKey + OLESTR("\\InprocServer32"), module);
        // Without a threading model the system would host the object in the main apartment and
        // hand this thread a proxy.
        set(clsidKey + OLESTR("\\InprocServer32"), OLESTR("Both"), OLESTR("ThreadingModel"));
        set(OLESTR("CjPlatformTests.Server.1\\CLSID"), CJ_TEST_SERVER_CLSID_W);
        set(OLESTR("CjPlatformTests.Server\\CurVer"), OLESTR("CjPlatformTests.Server.1"));
    }
    void TearDown() override {
        for (const OLECHAR* k : {CJ_TEST_SERVER_CLSID_KEY_W, OLESTR("CjPlatformTests.Server.1"),
                                 OLESTR("CjPlatformTests.Server")}) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, k);
        }
        ComTest::TearDown();
    }
    static void set(const olestring& path, const olestring& value, const OLECHAR* name = nullptr) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(OLECHAR))),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
};

TEST_F(RegisteredServerTest, CreatesThroughTheRegisteredModule) {
    ComPtr<ICjTestPing> ping;
    ASSERT_EQ(create(CLSID_CjTestServer, IID_ICjTestPing, ping.put_void()), S_OK);
    LONG objects = 0;
    ASSERT_EQ(ping->Ping(&objects), S_OK);
    EXPECT_EQ(objects, 1);

    // The module COM loaded is the one in the registry, and stays while its object lives.
    HMODULE module = GetModuleHandleA(CJ_TEST_SERVER_MODULE);
    ASSERT_NE(module, nullptr);
    auto count = reinterpret_cast<CjTestServerObjectsFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "CjTestServerObjects")));
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count(), 1);
    CoFreeUnusedLibraries();
    EXPECT_EQ(GetModuleHandleA(CJ_TEST_SERVER_MODULE), module);
    ping.reset();
    EXPECT_EQ(count(), 0);
}

TEST_F(RegisteredServerTest, AnswersForClassesThatCannotBeHad) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(create(kUnregistered, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(create(kUnregistered, IID_IUnknown, &p, CLSCTX_LOCAL_SERVER), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(create(kUnregistered, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(
        CoGetClassObject(kUnregistered, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, nullptr),
        E_INVALIDARG);
    // A class id key without a server for the asked context is still not registered; with a
    // module whose DllGetClassObject does not know the id, the module answers.
    const olestring key = OLESTR("CLSID\\{7C0FFEE1-0000-4000-8000-000000000001}");
    set(key, OLESTR("no server"));
    EXPECT_EQ(create(kUnregistered, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
    set(key + OLESTR("\\InprocServer32"),
        testing_support::program_folder() + CJ_TEST_SERVER_MODULE_W);
    EXPECT_EQ(create(kUnregistered, IID_IUnknown, &p), CLASS_E_CLASSNOTAVAILABLE);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
}

TEST_F(RegisteredServerTest, ProgIdsNameTheClass) {
    for (auto parse : {&CLSIDFromProgID, &CLSIDFromString}) {
        CLSID clsid = CLSID_NULL;
        ASSERT_EQ(parse(OLESTR("CjPlatformTests.Server.1"), &clsid), S_OK);
        EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_CjTestServer));
    }
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(OLESTR("CjPlatformTests.NoSuch"), &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(OLESTR(""), &clsid), CO_E_CLASSSTRING);
}

TEST_F(RegisteredServerTest, VersionIndependentProgIdFollowsCurVer) {
    if (testing_support::running_under_wine()) {
        // Windows documents this lookup; Wine 8 reads only the ProgID's own CLSID key.
        GTEST_SKIP() << "Wine does not follow CurVer";
    }
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(OLESTR("CjPlatformTests.Server"), &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_CjTestServer));
}

}  // namespace
