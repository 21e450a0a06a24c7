// Shared set-up of the registry and component-object tests: a multithreaded apartment, the
// callback-table stand-in registered, and the component's trace captured at every level.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/standin_classes.h"
#include "support/trace_capture.h"

namespace testing_support {

// The objects' reference counts, compared at once against released(n): every one came back.
template <class... T>
std::vector<ULONG> refs_of(const T&... objects) {
    return {objects.refs()...};
}
inline std::vector<ULONG> released(size_t n) {
    return std::vector<ULONG>(n, 1);
}

class RegistryFixture : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(register_standin("mccbtable.dll"), S_OK);
    }
    static void TearDownTestSuite() { CoUninitialize(); }
    void SetUp() override {
        ASSERT_TRUE(capture.ready());
        capture.levels(1, 1, (1u << 1) | (1u << 3) | (1u << 4) | (1u << 6));
    }

    // The texts written since the last clear, optionally only those of one level.
    std::vector<std::string> traced(int level = 0) const {
        std::vector<std::string> r;
        for (const TraceMessage& m : capture.messages()) {
            if (!m.silent && (level == 0 || m.level == level)) {
                r.push_back(m.text);
            }
        }
        return r;
    }
    // Whether a text of that level (0: any) starts with `prefix`.
    bool traced_start(int level, const std::string& prefix) const {
        const auto all = traced(level);
        return std::any_of(all.begin(), all.end(),
                           [&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
    }

    TraceCapture capture;
};

}  // namespace testing_support
