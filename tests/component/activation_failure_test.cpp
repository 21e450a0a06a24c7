// Classes whose registered server cannot serve them: activation answers with an error and no
// object, whatever is wrong with the module.
#include <gtest/gtest.h>

#include <string>

#include "platform/module.h"
#include "platform/winapi.h"
#include "support/platform_probe.h"

namespace {

using olestring = std::basic_string<OLECHAR>;

PLATFORM_DEFINE_GUID(kBrokenClass, 0x7C0FFEE1, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x81);
const OLECHAR kBrokenKey[] = OLESTR("CLSID\\{7C0FFEE1-0000-4000-8000-000000000081}");

class ComponentActivationFailureTest : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
    void TearDown() override {
        (void)RegDeleteTreeW(HKEY_CLASSES_ROOT, kBrokenKey);
        CoUninitialize();
    }

    void register_server(const olestring& path) {
        platform::UniqueRegKey key;
        const olestring server = olestring(kBrokenKey) + OLESTR("\\InprocServer32");
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), nullptr, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(path.c_str()),
                                 static_cast<DWORD>((path.size() + 1) * sizeof(OLECHAR))),
                  ERROR_SUCCESS);
    }
};

TEST_P(ComponentActivationFailureTest, GivesAnErrorAndNoObject) {
    const std::string file = GetParam();
    register_server(testing_support::program_folder() + olestring(file.begin(), file.end()));
    void* p = reinterpret_cast<void*>(1);
    const HRESULT hr =
        CoCreateInstance(kBrokenClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(p, nullptr);
}

// A missing file, a file that is no module, and a module that serves no classes.
INSTANTIATE_TEST_SUITE_P(Modules, ComponentActivationFailureTest,
                         ::testing::Values("cj_missing_module.dll", "cj_not_a_module.dll",
                                           "bsttool.dll"));

}  // namespace
