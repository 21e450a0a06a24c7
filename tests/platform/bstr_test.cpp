// BSTR layout: the byte-length prefix, the terminator and the handling of null inputs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/raii.h"
#include "platform/winapi.h"
#include "support/wstr.h"

namespace {

using platform::UniqueBstr;
using testing_support::bstr_text;
using testing_support::olestring;

DWORD prefix_of(BSTR b) {
    DWORD len;
    std::memcpy(&len, reinterpret_cast<const unsigned char*>(b) - sizeof len, sizeof len);
    return len;
}

// Checks the prefix, both length functions and the zero WCHAR that follows the last (possibly
// partial) character.
void expect_layout(BSTR b, UINT bytes) {
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(prefix_of(b), bytes);
    EXPECT_EQ(SysStringByteLen(b), bytes);
    EXPECT_EQ(SysStringLen(b), bytes / sizeof(OLECHAR));
    const auto* raw = reinterpret_cast<const unsigned char*>(b);
    EXPECT_EQ(raw[bytes], 0);
    EXPECT_EQ(b[(bytes + 1) / sizeof(OLECHAR)], 0);
}

struct AllocCase {
    const char* name;
    BSTR (*make)();
    std::string bytes;  // expected contents, byte for byte
};

const OLECHAR kEmbedded[] = {'a', 0, 'b'};

// clang-format off
const AllocCase kAllocCases[] = {
    // name                   allocation                                              contents
    {"String",                 [] { return SysAllocString(OLESTR("abc")); },           std::string("a\0b\0c\0", 6)},
    {"StringEmpty",            [] { return SysAllocString(OLESTR("")); },              std::string()},
    {"LenEmbeddedNull",        [] { return SysAllocStringLen(kEmbedded, 3); },         std::string("a\0\0\0b\0", 6)},
    {"LenTruncates",           [] { return SysAllocStringLen(OLESTR("abcdef"), 2); },  std::string("a\0b\0", 4)},
    {"ByteLenOdd",             [] { return SysAllocStringByteLen("xyz", 3); },         std::string("xyz")},
    {"ByteLenOddEmbeddedNull", [] { return SysAllocStringByteLen("p\0q\0r", 5); },   std::string("p\0q\0r", 5)},
    {"ByteLenEmpty",           [] { return SysAllocStringByteLen("", 0); },            std::string()},
};
// clang-format on

class BstrAllocTest : public testing::TestWithParam<AllocCase> {};

TEST_P(BstrAllocTest, PrefixContentsAndTerminator) {
    const AllocCase& c = GetParam();
    UniqueBstr b(c.make());
    expect_layout(b.get(), static_cast<UINT>(c.bytes.size()));
    if (b) {
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.get()), c.bytes.size()), c.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(All, BstrAllocTest, testing::ValuesIn(kAllocCases),
                         [](const testing::TestParamInfo<AllocCase>& param) {
                             return std::string(param.param.name);
                         });

TEST(BstrTest, NullInputs) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);

    // A null source still allocates the requested length.
    expect_layout(UniqueBstr(SysAllocStringLen(nullptr, 4)).get(), 8);
    expect_layout(UniqueBstr(SysAllocStringByteLen(nullptr, 3)).get(), 3);
}

TEST(BstrTest, ReAllocFromInsideItselfAndResize) {
    BSTR b = SysAllocString(OLESTR("hello world"));
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(SysReAllocString(&b, b + 6));
    expect_layout(b, 10);
    EXPECT_EQ(bstr_text(b), OLESTR("world"));
    ASSERT_TRUE(SysReAllocStringLen(&b, kEmbedded, 3));
    expect_layout(b, 6);
    EXPECT_EQ(bstr_text(b), olestring(kEmbedded, 3));
    // The string itself, or no source, resizes it: the old characters stay.
    ASSERT_TRUE(SysReAllocStringLen(&b, b, 40));
    expect_layout(b, 80);
    EXPECT_EQ(bstr_text(b).substr(0, 3), olestring(kEmbedded, 3));
    ASSERT_TRUE(SysReAllocStringLen(&b, nullptr, 1));
    expect_layout(b, 2);
    EXPECT_EQ(b[0], 'a');
    ASSERT_TRUE(SysReAllocString(&b, nullptr));
    EXPECT_EQ(b, nullptr);
}

}  // namespace
