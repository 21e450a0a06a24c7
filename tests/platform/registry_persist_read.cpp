// Second half of the registry persistence check: a new process finds what
// registry_persist_write stored, byte for byte, then removes it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/winapi.h"
#include "registry_persist.h"

namespace {

using namespace registry_persist;

// The value's type and bytes, or type ~0u when it cannot be read.
Value read_value(HKEY key, const olestring& name) {
    Value v{"", name, ~0u, Bytes(1024)};
    DWORD size = DWORD(v.data.size());
    if (RegQueryValueExW(key, name.c_str(), nullptr, &v.type, v.data.data(), &size) !=
        ERROR_SUCCESS) {
        v.type = ~0u;
    }
    v.data.resize(size);
    return v;
}

class RegistryPersistRead : public testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, kKey), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassesKey), ERROR_SUCCESS);
        RegDeleteKeyW(HKEY_CURRENT_USER, OLESTR("Software\\CjPlatformTests"));
    }
};

TEST_F(RegistryPersistRead, FindsWhatTheEarlierProcessWrote) {
    std::ifstream side(expected_file());
    const std::string stamp((std::istreambuf_iterator<char>(side)),
                            std::istreambuf_iterator<char>());
    ASSERT_FALSE(stamp.empty()) << "no stamp in " << expected_file();
    const olestring wide_stamp(stamp.begin(), stamp.end());
    const Bytes stamp_bytes = bytes_of(wide_stamp.c_str(), wide_stamp.size() + 1);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    std::vector<Value> expected = fixed_values();
    expected.push_back({"stamp", kStampName, REG_SZ, stamp_bytes});
    for (const Value& v : expected) {
        const Value read = read_value(key, v.name);
        EXPECT_EQ(read.type, v.type) << v.label;
        EXPECT_EQ(read.data, v.data) << v.label;
    }

    HKEY sub = nullptr;
    ASSERT_EQ(RegOpenKeyExW(key, kOddSubkey, 0, KEY_READ, &sub), ERROR_SUCCESS);
    EXPECT_EQ(read_value(sub, OLESTR("in odd key")).data, (Bytes{1, 0, 0, 0}));
    OLECHAR name[64];
    DWORD size = 64;
    ASSERT_EQ(RegEnumKeyExW(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(olestring(name, size), kOddSubkey);
    RegCloseKey(sub);
    EXPECT_EQ(RegOpenKeyExW(key, kGoneSubkey, 0, KEY_READ, &sub), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);

    // Written through the classes root, found in the machine's classes.
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            (olestring(OLESTR("Software\\Classes\\")) + kClassesKey).c_str(), 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(read_value(key, olestring()).data, stamp_bytes);
    RegCloseKey(key);
}

}  // namespace
