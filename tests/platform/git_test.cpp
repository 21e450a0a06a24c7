// The global interface table: cookies, references, marshalability and use from several threads
// and several modules.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "modules/test_server.h"
#include "platform/com_ptr.h"
#include "platform/winapi.h"
#include "support/ping_object.h"
#include "support/platform_probe.h"

namespace {

using platform::ComPtr;
using testing_support::PingObject;

class GitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGlobalInterfaceTable, table.put_void()),
                  S_OK);
    }
    void TearDown() override {
        table.reset();
        CoUninitialize();
    }
    // What the object behind cookie answers to Ping, or -1. Fails without stopping the test, so
    // that a thread never leaves early and keeps another waiting.
    LONG ping(DWORD cookie) {
        ComPtr<ICjTestPing> object;
        EXPECT_EQ(table->GetInterfaceFromGlobal(cookie, IID_ICjTestPing, object.put_void()), S_OK);
        LONG value = -1;
        if (object) {
            object->Ping(&value);
        }
        return value;
    }
    ComPtr<IGlobalInterfaceTable> table;
};

TEST_F(GitTest, RegistrationHoldsTheObjectUntilRevokedAndOnlyValidCookiesWork) {
    PingObject object(false);
    DWORD first = 0, second = 0;
    ASSERT_EQ(table->RegisterInterfaceInGlobal(&object, IID_IUnknown, &first), S_OK);
    ASSERT_EQ(table->RegisterInterfaceInGlobal(&object, IID_IUnknown, &second), S_OK);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    EXPECT_GT(object.refs(), 1u);

    const ULONG registered = object.refs();
    {
        ComPtr<IUnknown> got;
        ASSERT_EQ(table->GetInterfaceFromGlobal(first, IID_IUnknown, got.put_void()), S_OK);
        EXPECT_TRUE(testing_support::same_object(got.get(), &object));
        EXPECT_EQ(object.refs(), registered + 1);
        ComPtr<ICjTestPing> ping;
        EXPECT_EQ(table->GetInterfaceFromGlobal(first, IID_ICjTestPing, ping.put_void()), S_OK);
        void* p = nullptr;
        EXPECT_EQ(table->GetInterfaceFromGlobal(first, IID_IStream, &p), E_NOINTERFACE);
    }
    EXPECT_EQ(object.refs(), registered);
    EXPECT_EQ(table->RevokeInterfaceFromGlobal(first), S_OK);
    EXPECT_EQ(table->RevokeInterfaceFromGlobal(second), S_OK);
    EXPECT_EQ(object.refs(), 1u);
    // Revoked, unknown cookies and null objects are refused.
    void* p = nullptr;
    EXPECT_EQ(table->RevokeInterfaceFromGlobal(first), E_INVALIDARG);
    EXPECT_EQ(table->GetInterfaceFromGlobal(first, IID_IUnknown, &p), E_INVALIDARG);
    EXPECT_EQ(table->GetInterfaceFromGlobal(0x7FFF1234, IID_IUnknown, &p), E_INVALIDARG);
    EXPECT_EQ(table->RegisterInterfaceInGlobal(nullptr, IID_IUnknown, &first), E_INVALIDARG);
}

TEST_F(GitTest, CustomInterfacesNeedTheFreeThreadedMarshaler) {
    PingObject plain(false);
    PingObject freeThreaded(true);
    DWORD cookie = 0;
    EXPECT_EQ(table->RegisterInterfaceInGlobal(&plain, IID_ICjTestPing, &cookie), E_NOINTERFACE);
    EXPECT_EQ(plain.refs(), 1u);
    EXPECT_EQ(table->RegisterInterfaceInGlobal(&plain, IID_IStream, &cookie), E_NOINTERFACE);

    ASSERT_EQ(table->RegisterInterfaceInGlobal(&freeThreaded, IID_ICjTestPing, &cookie), S_OK);
    {
        ComPtr<ICjTestPing> got;
        ASSERT_EQ(table->GetInterfaceFromGlobal(cookie, IID_ICjTestPing, got.put_void()), S_OK);
        EXPECT_EQ(got.get(), &freeThreaded);  // the object itself, not a proxy
    }
    EXPECT_EQ(ping(cookie), 7);
    EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
    EXPECT_EQ(freeThreaded.refs(), 1u);
}

TEST_F(GitTest, CookiesCrossThreads) {
    constexpr int kObjects = 32;
    std::vector<std::unique_ptr<PingObject>> objects;
    for (int i = 0; i < kObjects; ++i) {
        objects.push_back(std::make_unique<PingObject>(true, i));
    }
    std::vector<DWORD> cookies(kObjects);
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        for (int i = 0; i < kObjects; ++i) {
            EXPECT_EQ(
                table->RegisterInterfaceInGlobal(objects[i].get(), IID_ICjTestPing, &cookies[i]),
                S_OK);
        }
        CoUninitialize();
    }).join();

    // Two threads fetch every object, then, once both are done, each revokes its half.
    std::atomic<int> fetched{0};
    std::vector<std::thread> workers;
    for (int half = 0; half < 2; ++half) {
        workers.emplace_back([&, half] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int round = 0; round < 2; ++round) {
                for (int i = 0; i < kObjects; ++i) {
                    EXPECT_EQ(ping(cookies[i]), i);
                }
            }
            ++fetched;
            while (fetched != 2) {
                std::this_thread::yield();
            }
            for (int i = half; i < kObjects; i += 2) {
                EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookies[i]), S_OK);
            }
            CoUninitialize();
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    for (const auto& o : objects) {
        EXPECT_EQ(o->refs(), 1u);
    }
}

TEST_F(GitTest, OneTableForEveryModuleOfTheProcess) {
    // Another module registers; this one fetches with the cookie.
    HMODULE module =
        LoadLibraryW((testing_support::program_folder() + CJ_TEST_SERVER_MODULE_W).c_str());
    ASSERT_NE(module, nullptr);
    auto registerInTable = reinterpret_cast<CjTestRegisterInGlobalTableFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "CjTestRegisterInGlobalTable")));
    ASSERT_NE(registerInTable, nullptr);
    PingObject object(true, 99);
    DWORD cookie = 0;
    ASSERT_EQ(registerInTable(&object, &cookie), S_OK);
    EXPECT_EQ(ping(cookie), 99);
    EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
    EXPECT_EQ(object.refs(), 1u);
    FreeLibrary(module);
}

}  // namespace
