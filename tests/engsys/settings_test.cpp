// The settings stand-in: where (location, base, path) lead in the registry, and the results of
// the C entry points the trace binds and of the C++ API the component links.
#include <gtest/gtest.h>

#include <string>

#include "engsys_support.h"

namespace {

using engsys_test::olestring;
using engsys_test::ScopedKey;
using engsys_test::ScopedSetting;

TEST(StandInSettingsTest, PathsLeadBelowTheRootAndValuesAreReadOfTheirTypeOnly) {
    const olestring u = engsys_test::wide(engsys_test::unique_name());
    const ScopedKey atRoot{u}, inDiagnostics{OLESTR("Diagnostics\\") + u},
        inProject{OLESTR("Project\\") + u};
    engsys_test::Library lib{"bsttool.dll"};
    const auto getValue = lib.get<engsys::SettingGetValueFn>("BTL_SettingGetValue");
    const auto getString = lib.get<engsys::SettingGetStringFn>("BTL_SettingGetString");
    const olestring root = BTL_GetRegKeyRoot();
    ASSERT_FALSE(root.empty());
    EXPECT_NE(root.front(), '\\');
    EXPECT_NE(root.back(), '\\');
    EXPECT_EQ(lib.get<engsys::SettingsRootFn>("BTL_GetRegKeyRoot")(), BTL_GetRegKeyRoot());

    ScopedSetting dword(atRoot.path(), OLESTR("dword"), 0x2A);
    ScopedSetting text(atRoot.path(), OLESTR("text"), olestring(OLESTR("42")));
    ScopedSetting shortDword(atRoot.path(), OLESTR("short"), REG_DWORD, {1, 0});
    ScopedSetting qword(atRoot.path(), OLESTR("qword"), REG_QWORD, {5, 0, 0, 0, 0, 0, 0, 0});
    ScopedSetting diagnostics((olestring(inDiagnostics.path()) + OLESTR("\\sub")).c_str(),
                              OLESTR("dword"), 7);
    ScopedSetting project(inProject.path(), OLESTR("dword"), 16);
    ScopedSetting sink(atRoot.path(), OLESTR("sink"), olestring(OLESTR("file:x.log")));

    const olestring d = u + OLESTR("\\dword");
    struct Case {
        const char* label;
        int location, base;
        olestring path;
        LONG result;
        DWORD value;
    } const cases[] = {
        {"base 0 is the root", 2, 0, d, 0, 0x2A},
        {"base 0 for any location", 18, 0, d, 0, 0x2A},
        {"root spelled out", 2, 0, root + OLESTR("\\") + d, 0, 0x2A},
        {"leading backslash", 2, 0, OLESTR("\\") + d, 0, 0x2A},
        {"location 18 below Diagnostics", 18, 1, u + OLESTR("\\sub\\dword"), 0, 7},
        {"location 16 below Project", 16, 1, d, 0, 16},
        {"location 0 is the root", 0, 1, d, 0, 0x2A},
        {"another location's subkey", 17, 1, d, 2, 0},
        {"missing value", 2, 0, u + OLESTR("\\none"), 2, 0},
        {"missing key", 2, 0, u + OLESTR("\\none\\dword"), 2, 0},
        {"string", 2, 0, u + OLESTR("\\text"), 13, 0},
        {"two bytes", 2, 0, u + OLESTR("\\short"), 13, 0},
        {"eight bytes", 2, 0, u + OLESTR("\\qword"), 13, 0},
        {"unknown location", 5, 0, d, 87, 0},
        {"unknown base", 2, 2, d, 87, 0},
    };
    for (const Case& t : cases) {
        DWORD value = 0xDEADBEEF;
        EXPECT_EQ(getValue(&t.location, &t.base, t.path.c_str(), &value), t.result) << t.label;
        EXPECT_EQ(value, t.result == 0 ? t.value : 0xDEADBEEF) << t.label;

        const btl::SettingPath path(static_cast<btl::SettingLocationEnum>(t.location),
                                    static_cast<btl::SettingBaseEnum>(t.base), t.path.c_str());
        value = 0xDEADBEEF;
        EXPECT_EQ(btl::SettingGetValue(path, &value), t.result) << t.label;
        EXPECT_EQ(value, t.result == 0 ? t.value : 0xDEADBEEF) << t.label;
    }

    const int location = 2, base = 0;
    EXPECT_EQ(getValue(nullptr, &base, d.c_str(), nullptr), btl::SettingBadArgument);
    EXPECT_EQ(getValue(&location, &base, d.c_str(), nullptr), btl::SettingBadArgument);
    DWORD value = 0;
    const btl::SettingPath noPath(btl::SettingLocationMachine, btl::SettingBaseRoot, nullptr);
    EXPECT_EQ(btl::SettingGetValue(noPath, &value), btl::SettingBadArgument);

    // Strings tell the size they need.
    const olestring name = u + OLESTR("\\sink");
    OLECHAR buffer[16] = {'?', 0};
    DWORD chars = 4;
    EXPECT_EQ(getString(&location, &base, name.c_str(), buffer, &chars), btl::SettingMoreData);
    EXPECT_EQ(chars, 11u);
    EXPECT_EQ(buffer[0], '?');
    ASSERT_EQ(getString(&location, &base, name.c_str(), buffer, &chars), btl::SettingRead);
    EXPECT_EQ(olestring(buffer), OLESTR("file:x.log"));
    chars = 16;
    EXPECT_EQ(getString(&location, &base, d.c_str(), buffer, &chars), btl::SettingWrongType);
    EXPECT_EQ(getString(&location, &base, (u + OLESTR("\\none")).c_str(), buffer, &chars),
              btl::SettingMissing);
}

TEST(StandInSettingsTest, AnOverrideShadowsTheRegistryForThisProcessWithoutWritingIt) {
    const olestring u = engsys_test::wide(engsys_test::unique_name());
    const ScopedKey atRoot{u};
    engsys_test::Library lib{"bsttool.dll"};
    const auto getValue = lib.get<engsys::SettingGetValueFn>("BTL_SettingGetValue");
    const auto setOverride = lib.get<engsys::SettingOverrideFn>("bsttool_SetOverride");
    ScopedSetting stored(atRoot.path(), OLESTR("mode"), 0);
    const olestring name = u + OLESTR("\\mode");
    const DWORD two = 2;
    const int machine = 2, root = 0, diagnostics = 18, below = 1;
    ASSERT_EQ(setOverride(&machine, &root, name.c_str(), &two), btl::SettingRead);
    // The same value by another spelling of its address, then the registry's own.
    const olestring other = olestring(BTL_GetRegKeyRoot()) + OLESTR("\\") + u + OLESTR("\\MODE");
    DWORD value = 0xDEADBEEF;
    EXPECT_EQ(getValue(&diagnostics, &root, other.c_str(), &value), btl::SettingRead);
    EXPECT_EQ(value, 2u);
    EXPECT_EQ(getValue(&diagnostics, &below, name.c_str(), &value), btl::SettingMissing);
    platform::UniqueRegKey key;
    DWORD inRegistry = 0xDEADBEEF, size = sizeof inRegistry;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            (olestring(BTL_GetRegKeyRoot()) + OLESTR("\\") + u).c_str(), 0,
                            KEY_READ, key.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key.get(), OLESTR("mode"), nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&inRegistry), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(inRegistry, 0u);

    ASSERT_EQ(setOverride(&machine, &root, name.c_str(), nullptr), btl::SettingRead);
    EXPECT_EQ(getValue(&machine, &root, name.c_str(), &value), btl::SettingRead);
    EXPECT_EQ(value, 0u);
    const int unknown = 5;
    EXPECT_EQ(setOverride(&unknown, &root, name.c_str(), &two), btl::SettingBadArgument);
}

}  // namespace
