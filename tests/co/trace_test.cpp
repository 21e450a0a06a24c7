// What the component's trace writes, and when: levels, headers, the silent trace, the two
// switches, the construction trace, the diagnostics report and HRESULT descriptions.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "co/co_trace.h"
#include "support/scoped_setting.h"
#include "support/trace_capture.h"

namespace {

using testing_support::ScopedSetting;
using testing_support::TraceCapture;
using testing_support::TraceMessage;

constexpr DWORD kLevels1And4 = (1u << 1) | (1u << 4);

std::string module_name() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(s.find_last_of("\\/") + 1);
}

class CoTraceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(capture.ready());
        capture.levels(1, 1, kLevels1And4);
    }
    TraceCapture capture;
};

// Not released levels go to the silent trace, unexpanded: the program switches "silent-trace" on
// before its first trace (see the end of this file).
TEST_F(CoTraceTest, ReleasedLevelsAreWrittenWithTheirHeaderOthersSilently) {
    CO_TRACE_SCOPE(trace, "co/trace_test", "CoTraceTest::Header");
    const int line = __LINE__ + 1;
    CO_TRACE(trace, TRACE_INFO, "collection job %u -> STATE_RUN, cycle %d", 7u, -100);
    CO_TRACE(trace, TRACE_WARNING, "collection job %u not found", 9u);
    {
        const std::string function(600, 'f');  // a header is cut at 511 characters
        CO_TRACE_SCOPE(cut, "co/trace_test", function.c_str());
        CO_TRACE(cut, TRACE_ERROR, "still written");
    }
    const auto written = capture.messages(false);
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[1].header, std::string(511, 'f'));
    EXPECT_EQ(written[1].text, "still written");
    EXPECT_EQ(written[0].level, TRACE_INFO);
    EXPECT_EQ(written[0].component + written[0].sub, 2u);
    EXPECT_EQ(written[0].text, "collection job 7 -> STATE_RUN, cycle -100");
    char expected[512];
    std::snprintf(expected, sizeof expected,
                  "CoTraceTest::Header [co/trace_test (%d), module: %s, thread: 0x%X]", line,
                  module_name().c_str(), static_cast<unsigned int>(GetCurrentThreadId()));
    EXPECT_EQ(written[0].header, expected);
    const auto silent = capture.messages(true);
    ASSERT_EQ(silent.size(), 1u);
    EXPECT_EQ(silent[0].level, TRACE_WARNING);
    EXPECT_EQ(silent[0].text, "collection job %u not found");
}

HRESULT throwing_method() {
    CO_TRACE_SCOPE(trace, "co/trace_test", "Throwing::Method");
    try {
        throw std::runtime_error("boom");
    }
    CO_CATCH_RETURN_TRACED(trace)
}

TEST_F(CoTraceTest, CatchAllReportsTracesAndFails) {
    platform::UniqueModule diag(LoadLibraryA("bstdiag.dll"));
    auto count =
        platform::proc_address<engsys::DiagReportCountFn>(diag.get(), "bstdiag_ReportCount");
    ASSERT_NE(count, nullptr);
    const DWORD before = count();
    EXPECT_EQ(throwing_method(), E_FAIL);
    EXPECT_EQ(count(), before + 1);
    const auto written = capture.messages(false);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].level, TRACE_ERROR);
    EXPECT_EQ(written[0].text, "caught any unhandled exception");
}

struct DebugKeyCase {
    const char* name;
    int keyA;  // value under "debug-trace\10001", -1: absent
    int keyB;  // value under "debug-trace\10000", -1: absent
    bool on;
};

TEST(CoTraceSwitchTest, DebugTraceReadsTheSubComponentKeyThenTheComponentKeyAndSilentAny) {
    const DebugKeyCase cases[] = {
        {"neither", -1, -1, false}, {"B only", -1, 1, true}, {"A off wins", 0, 1, false},
        {"A on", 1, -1, true},      {"B off", -1, 0, false}, {"A on, B off", 1, 0, true},
    };
    for (const DebugKeyCase& c : cases) {
        std::optional<ScopedSetting> a, b;
        if (c.keyA >= 0) {
            a.emplace(OLESTR("Diagnostics\\debug-trace"), OLESTR("10001"), DWORD(c.keyA));
        }
        if (c.keyB >= 0) {
            b.emplace(OLESTR("Diagnostics\\debug-trace"), OLESTR("10000"), DWORD(c.keyB));
        }
        EXPECT_EQ(CoReadTraceSwitches(1, 1).debug, c.on) << c.name;
    }
    // Another sub-component has its own key A.
    ScopedSetting gate(OLESTR("Diagnostics\\debug-trace"), OLESTR("10017"), 1);
    EXPECT_TRUE(CoReadTraceSwitches(1, 23).debug);
    EXPECT_FALSE(CoReadTraceSwitches(1, 1).debug);
    // The silent trace is on for any value but 0.
    for (DWORD value : {0u, 2u}) {
        ScopedSetting silent(OLESTR("Diagnostics"), OLESTR("silent-trace"), value);
        EXPECT_EQ(CoReadTraceSwitches(1, 1).silent, value != 0) << value;
    }
}

TEST(CoCtorDtorTraceTest, WritesOnlyWhenTheGateLevelIsOn) {
    TraceCapture capture;
    platform::UniqueModule ctor(LoadLibraryA("bstctor.dll"));
    auto count = platform::proc_address<engsys::CtorCountFn>(ctor.get(), "bstctor_Count");
    auto last = platform::proc_address<engsys::CtorLastFn>(ctor.get(), "bstctor_Last");
    ASSERT_NE(count, nullptr);
    ASSERT_NE(last, nullptr);

    capture.levels(1, 23, 0);
    DWORD before = count();
    { CCoCtorDtorTrace trace("CCollectionJobSymAcc"); }
    EXPECT_EQ(count(), before);

    capture.levels(1, 23, 1u << 7);
    before = count();
    {
        CCoCtorDtorTrace trace("CCollectionJobSymAcc");
        char expected[256];
        std::snprintf(expected, sizeof expected, "CTOR CCollectionJobSymAcc (0x%p)",
                      static_cast<void*>(&trace));
        EXPECT_EQ(count(), before + 1);
        EXPECT_STREQ(last(), expected);
    }
    EXPECT_EQ(count(), before + 2);
    EXPECT_EQ(std::string(last()).substr(0, 26), "DTOR CCollectionJobSymAcc ");
}

struct DescriptionCase {
    DWORD hr;
    const char* text;
};

TEST(CoHResultTextTest, FallsBackWhenTheSystemHasNoText) {
    const DescriptionCase cases[] = {
        {0x8004F123, "IDispatch error #61219"},
        {0x8004FFFF, "IDispatch error #65023"},
        {0xA0001234, "Unknown error 0xA0001234"},
        {0x00012345, "Unknown error 0x12345"},
    };
    for (const DescriptionCase& c : cases) {
        EXPECT_STREQ(CCoHResultText(static_cast<HRESULT>(c.hr)).c_str(), c.text);
    }
    // A system text comes without its line break.
    const std::string known = CCoHResultText(E_INVALIDARG).c_str();
    ASSERT_FALSE(known.empty());
    EXPECT_EQ(known.find_first_of("\r\n"), std::string::npos);
}

// Silent trace is read once per process, when the first message is written.
class SilentTraceOn : public ::testing::Environment {
  public:
    void SetUp() override { m_setting.emplace(OLESTR("Diagnostics"), OLESTR("silent-trace"), 1); }
    void TearDown() override { m_setting.reset(); }

  private:
    std::optional<ScopedSetting> m_setting;
};

const auto* const kSilentTraceOn = ::testing::AddGlobalTestEnvironment(new SilentTraceOn);

}  // namespace
