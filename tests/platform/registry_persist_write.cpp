// First half of the registry persistence check: stores values (one of them new on every run)
// for registry_persist_read, which runs next in another process.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/winapi.h"
#include "registry_persist.h"

namespace {

using namespace registry_persist;

HKEY create(HKEY parent, const OLECHAR* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
}

LSTATUS set_text(HKEY key, const OLECHAR* name, const olestring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          DWORD((text.size() + 1) * sizeof(OLECHAR)));
}

TEST(RegistryPersist, WriteForTheNextProcess) {
    // A fresh start: our store file (or, under Wine, the lines appended below) goes before the
    // first registry call, which would read it.
    const char* store = std::getenv("PLATFORM_REGISTRY_FILE");
    if (store != nullptr) {
        std::remove(store);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    HKEY key = create(HKEY_CURRENT_USER, kKey);
    for (const Value& v : fixed_values()) {
        // Padding keeps the system from adding a null to the unterminated strings.
        Bytes padded(v.data);
        padded.insert(padded.end(), {0xFF, 0xFF});
        EXPECT_EQ(
            RegSetValueExW(key, v.name.c_str(), 0, v.type, padded.data(), DWORD(v.data.size())),
            ERROR_SUCCESS)
            << v.label;
    }
    const std::string stamp =
        std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
    const olestring wide_stamp(stamp.begin(), stamp.end());
    ASSERT_EQ(set_text(key, kStampName, wide_stamp), ERROR_SUCCESS);

    HKEY sub = create(key, kOddSubkey);
    const BYTE one[4] = {1};
    EXPECT_EQ(RegSetValueExW(sub, OLESTR("in odd key"), 0, REG_DWORD, one, 4), ERROR_SUCCESS);
    RegCloseKey(sub);
    // Deletions persist too.
    RegCloseKey(create(key, kGoneSubkey));
    EXPECT_EQ(RegDeleteKeyW(key, kGoneSubkey), ERROR_SUCCESS);
    RegCloseKey(key);

    key = create(HKEY_CLASSES_ROOT, kClassesKey);
    EXPECT_EQ(set_text(key, nullptr, wide_stamp), ERROR_SUCCESS);
    RegCloseKey(key);

    std::ofstream(expected_file(), std::ios::trunc) << stamp;

    // Lines our store file cannot use must not disturb what it holds: appended here, they must
    // leave the stamp alone (where the system keeps the registry, this file is never read).
    if (store != nullptr) {
        std::ofstream(store, std::ios::app)
            << "\n[HKEY_CURRENT_USER\\Software\\CjPlatformTests\\Persist]\n"
            << "\"Stamp\"=dword:xyz\n\"Stamp\"=\"unterminated\n\"Stamp\"=hex(zz):00\n"
            << "\"Stamp\"=hex:0,1,\n\"Stamp\"=\"bad\\q escape\"\n\"Stamp\"=\"\xff\xfe\"\n"
            << "\"Stamp\"=\"trailing\" junk\n\"Stamp\"=expand:\n\"Stamp\"=hex:01,\\\n"
            << "[HKEY_NOWHERE\\x]\n\"Stamp\"=\"wrong root\"\n"
            << "[HKEY_CURRENT_USER\\\\x]\n\"Stamp\"=\"empty part\"\n"
            << "[HKEY_CURRENT_USER\\bad%zz]\n\"Stamp\"=\"bad escape\"\n"
            << "[HKEY_CURRENT_USER\\no end\n\"Stamp\"=\"no bracket\"\n"
            << "no key line at all\n@\n=\n\"\n[\n]\n[]\n";
    }
}

}  // namespace
