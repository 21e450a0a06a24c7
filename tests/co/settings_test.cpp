// Settings reads with their location codes and results, and the allocator switch.
#include <gtest/gtest.h>

#include <cstring>

#include "co/co_settings.h"
#include "support/scoped_setting.h"

namespace {

using testing_support::ScopedSetting;

std::vector<BYTE> bytes_of(ULONGLONG value, size_t size) {
    std::vector<BYTE> b(size);
    std::memcpy(b.data(), &value, size);
    return b;
}

TEST(CoSettingsTest, LocationCodesMapToTheLibrarysLocations) {
    const int table[][2] = {{0, 1},   {1, 2}, {2, 3}, {10, 16}, {11, 17},
                            {12, 18}, {5, 0}, {3, 0}, {-1, 0},  {13, 0}};
    for (const auto& row : table) {
        EXPECT_EQ(CCoSettings::MapLocation(row[0]), row[1]) << row[0];
    }
}

TEST(CoSettingsTest, GetValueAnswersTheLibrarysResult) {
    ScopedSetting value(OLESTR("CoSettingsTest"), OLESTR("Number"), 1002);
    ScopedSetting text(OLESTR("CoSettingsTest"), OLESTR("Text"), REG_SZ, {'x', 0, 0, 0});
    ASSERT_TRUE(value.ok());
    DWORD read = 0;
    EXPECT_EQ(CCoSettings::GetValue(1, OLESTR("CoSettingsTest\\Number"), &read), 0);
    EXPECT_EQ(read, 1002u);
    EXPECT_EQ(CCoSettings::GetValue(1, OLESTR("CoSettingsTest\\Missing"), &read), 2);
    EXPECT_EQ(CCoSettings::GetValue(1, OLESTR("NoSuchKey\\Number"), &read), 2);
    EXPECT_EQ(CCoSettings::GetValue(1, OLESTR("CoSettingsTest\\Text"), &read), 13);  // wrong type
}

struct PurifyCase {
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
    bool on;
};

TEST(CoSettingsTest, PurifyModeCountsOnlyFourBytesWithBitZero) {
    EXPECT_FALSE(CoReadPurifyMode());  // missing
    const PurifyCase cases[] = {
        {"1", REG_DWORD, bytes_of(1, 4), true},
        {"3", REG_DWORD, bytes_of(3, 4), true},
        {"2", REG_DWORD, bytes_of(2, 4), false},
        {"2 bytes", REG_BINARY, bytes_of(1, 2), false},
        {"8 bytes", REG_QWORD, bytes_of(1, 8), false},
        {"4 binary bytes", REG_BINARY, bytes_of(1, 4), true},
    };
    for (const PurifyCase& c : cases) {
        ScopedSetting s(OLESTR("EngCore"), OLESTR("PURIFY_MODE"), c.type, c.data);
        ASSERT_TRUE(s.ok());
        EXPECT_EQ(CoReadPurifyMode(), c.on) << c.name;
    }
}

TEST(CoSettingsTest, StringsComeFromTheEngineeringHeapByDefault) {
    platform::UniqueModule mem(LoadLibraryA("bstmem.dll"));
    typedef LONGLONG(WINAPI * CounterFn)();
    auto balance = platform::proc_address<CounterFn>(mem.get(), "bstmem_Balance");
    ASSERT_NE(balance, nullptr);
    const LONGLONG before = balance();
    void* block = CoStringAlloc(40);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(balance(), before + 40);
    CoStringFree(block, 40);
    EXPECT_EQ(balance(), before);
}

}  // namespace
