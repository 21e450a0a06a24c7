// The task allocator: what components and clients exchange.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/winapi.h"

namespace {

TEST(TaskMemTest, ReallocKeepsContentsAndGrows) {
    auto* p = static_cast<char*>(CoTaskMemAlloc(4));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abc", 4);
    p = static_cast<char*>(CoTaskMemRealloc(p, 4096));
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "abc");
    CoTaskMemFree(p);
}

TEST(TaskMemTest, EdgeSizes) {
    void* zero = CoTaskMemAlloc(0);
    EXPECT_NE(zero, nullptr);
    // Reallocating to zero frees the block and answers null.
    EXPECT_EQ(CoTaskMemRealloc(zero, 0), nullptr);
    void* fresh = CoTaskMemRealloc(nullptr, 16);
    EXPECT_NE(fresh, nullptr);
    CoTaskMemFree(fresh);
    CoTaskMemFree(nullptr);
}

}  // namespace
