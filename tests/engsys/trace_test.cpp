// The trace stand-in as the component binds it: handles, level gates from the settings and set
// at run time, the capture of expanded and silent messages, and the sinks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engsys_support.h"
#include "support/trace_capture.h"

namespace {

using engsys_test::ScopedSetting;
using engsys_test::wide;

engsys::SilentTraceRecord silent_record(int level, int line, const std::string& file,
                                        const std::string& function, const std::string& format) {
    engsys::SilentTraceRecord r;
    std::memset(&r, 0, sizeof r);
    r.level = level;
    r.line = line;
    std::memcpy(r.file, file.data(), std::min(file.size(), sizeof r.file));
    std::memcpy(r.function, function.data(), std::min(function.size(), sizeof r.function));
    std::memcpy(r.format, format.data(), std::min(format.size(), sizeof r.format));
    return r;
}

class StandInTraceTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(init(0, 0, &handle, 0)); }
    void TearDown() override {
        lib.get<engsys::TraceResetLevelsFn>("bsttrace_ResetLevels")();
        if (handle != 0) {
            EXPECT_TRUE(deInit(&handle));
        }
    }
    // VTraceMsg2 as the component calls it, for component 1, sub-component 1.
    void trace(DWORD h, int level, const char* header, const char* format, ...)
        PLATFORM_PRINTF_FORMAT(5, 6) {
        va_list args;
        va_start(args, format);
        vtrace(h, 1, 1, level, header, format, args);
        va_end(args);
    }
    // The setting "trace-levels\<hex number>", set for the test.
    static ScopedSetting levels_setting(DWORD number, DWORD mask) {
        char name[16];
        std::snprintf(name, sizeof name, "%lx", static_cast<unsigned long>(number));
        return ScopedSetting(OLESTR("Diagnostics\\trace-levels"), wide(name).c_str(), mask);
    }

    engsys_test::Library lib{"bsttrace.dll"};
    engsys::TraceInit2Fn init = lib.get<engsys::TraceInit2Fn>("traceapi_Init2");
    engsys::TraceDeInit2Fn deInit = lib.get<engsys::TraceDeInit2Fn>("traceapi_DeInit2");
    engsys::IsTraceReleased2Fn released = lib.get<engsys::IsTraceReleased2Fn>("IsTraceReleased2");
    engsys::VTraceMsg2Fn vtrace = lib.get<engsys::VTraceMsg2Fn>("VTraceMsg2");
    engsys::TraceMsgSilentFn silent = lib.get<engsys::TraceMsgSilentFn>("TraceMsgSilent");
    engsys::TraceSetLevelsFn setLevels = lib.get<engsys::TraceSetLevelsFn>("bsttrace_SetLevels");
    // A component number that no other process running now uses.
    const DWORD own = 0x1000 + GetCurrentProcessId() % 0xE000;
    DWORD handle = 0;
};

TEST_F(StandInTraceTest, HandlesAreDistinctAndReleasedOnce) {
    lib.get<engsys::TraceProcessDetachFn>("traceapi_ProcessDetach");  // exported, never called
    const auto initCount = lib.get<engsys::TraceInitCountFn>("bsttrace_InitCount");
    const DWORD before = initCount();
    DWORD second = 0;
    ASSERT_TRUE(init(0, 0, &second, 0));
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, handle);
    setLevels(1, 1, 0xFFFFFFFFu);
    EXPECT_TRUE(released(second, 1, 1, 1));
    DWORD stale = second;
    EXPECT_TRUE(deInit(&second));
    EXPECT_EQ(second, 0u);
    EXPECT_FALSE(released(stale, 1, 1, 1));
    EXPECT_FALSE(deInit(&stale));
    EXPECT_FALSE(init(0, 0, nullptr, 0));
    EXPECT_EQ(initCount(), before + 1);
}

TEST_F(StandInTraceTest, LevelsComeFromTheSettingsThenFromRunTimeOverrides) {
    const DWORD c = own;
    ScopedSetting pair = levels_setting((c << 16) | 1, 1u << 1);
    ScopedSetting whole = levels_setting(c << 16, 1u << 3);
    DWORD fresh = 0;
    ASSERT_TRUE(init(0, 0, &fresh, 0));  // settings are read after an init
    setLevels(c, 5, 1u << 7);
    struct Case {
        DWORD component, sub;
        int level;
        bool on;
    } const cases[] = {
        {c, 1, 1, true},  {c, 1, 3, false},    {c, 2, 3, true},       // pair, then component
        {c, 2, 1, false}, {c + 1, 1, 4, true}, {c + 1, 1, 1, false},  // errors by default
        {c, 5, 7, true},  {c, 5, 3, false},    {c, 1, -1, false},    {c, 1, 32, false},
    };
    for (const Case& t : cases) {
        EXPECT_EQ(released(fresh, t.component, t.sub, t.level) != 0, t.on)
            << std::hex << t.component << "." << t.sub << " level " << std::dec << t.level;
    }
    lib.get<engsys::TraceResetLevelsFn>("bsttrace_ResetLevels")();
    EXPECT_TRUE(released(fresh, c, 5, 3));

    // A changed setting counts from the next init on.
    ScopedSetting off = levels_setting((c << 16) | 1, 0);
    EXPECT_TRUE(released(fresh, c, 1, 1));
    EXPECT_TRUE(deInit(&fresh));
    ASSERT_TRUE(init(0, 0, &fresh, 0));
    EXPECT_FALSE(released(fresh, c, 1, 1));
    EXPECT_TRUE(deInit(&fresh));
}

TEST_F(StandInTraceTest, CaptureGetsExpandedTextsAndSilentFormatsCutToTheFields) {
    std::vector<std::string> shown;
    const std::string longText(600, 'x'), file(100, 'f'), function(50, 'g'), format(100, 'h');
    {
        testing_support::TraceCapture capture;
        trace(handle, 4, "Fn [file (12)]", "job %u -> 0x%X %s", 7u, 0x1Fu, "done");
        trace(handle, 1, "", "%s|", longText.c_str());
        trace(handle + 1000, 4, "unknown handle", "dropped");
        const auto r = silent_record(3, 42, "co/co_lock", "Lock", "job %u lost");
        silent(&r);
        const auto full = silent_record(3, 42, file, function, format);
        silent(&full);  // no terminators
        for (const auto& m : capture.messages()) {
            shown.push_back(std::to_string(m.component) + "." + std::to_string(m.sub) + " L" +
                            std::to_string(m.level) + (m.silent ? " silent " : " ") + m.header +
                            "|" + m.format + "|" + m.text);
        }
    }
    trace(handle, 4, "after", "not captured");  // the capture is gone (the sanitizers see it)
    EXPECT_EQ(shown,
              (std::vector<std::string>{
                  "1.1 L4 Fn [file (12)]|job %u -> 0x%X %s|job 7 -> 0x1F done",
                  "1.1 L1 |%s||" + longText + "|",
                  "0.0 L3 silent Lock [co/co_lock (42)]|job %u lost|job %u lost",
                  "0.0 L3 silent " + function + " [" + file + " (42)]|" + format + "|" + format}));
}

// The lines of a file that hold the token, without their start, which must have the shape
// "2025-01-02T03:04:05.678Z T0x1A2B ".
std::vector<std::string> lines_with(const std::string& path, const std::string& token) {
    std::ifstream in(path);
    std::vector<std::string> found;
    for (std::string line; std::getline(in, line);) {
        if (line.find(token) != std::string::npos) {
            const size_t space = line.find(' ', 28);
            const bool stamped = line.size() > 28 &&
                                 std::isdigit(static_cast<unsigned char>(line[0])) &&
                                 line[4] == '-' && line[10] == 'T' && line[19] == '.' &&
                                 line.compare(23, 5, "Z T0x") == 0 && space != std::string::npos;
            found.push_back(stamped ? line.substr(space + 1) : "unstamped: " + line);
        }
    }
    return found;
}

// The sink BSTTRACE_SINK names (run so by a CTest entry of its own) wins over the settings'.
TEST_F(StandInTraceTest, SinkFromTheEnvironmentOrTheSettingsGetsReadableLines) {
    const std::string token = engsys_test::unique_name();
    const char* choice = std::getenv("BSTTRACE_SINK");
    ASSERT_TRUE(choice == nullptr || std::strncmp(choice, "file:", 5) == 0);
    const std::string path = choice != nullptr ? choice + 5 : token + ".log";
    {
        ScopedSetting sink(OLESTR("Diagnostics"), OLESTR("trace-sink"),
                           wide("file:" + token + ".log"));
        DWORD fresh = 0;
        ASSERT_TRUE(init(0, 0, &fresh, 0));  // the sink is chosen again after an init
        trace(handle, 4, "Fn [file (12)]", "%s %d\n", token.c_str(), 5);
        const engsys::SilentTraceRecord r = silent_record(3, 7, "co/co_lock", "Lock", token);
        silent(&r);
        EXPECT_TRUE(deInit(&fresh));
        EXPECT_TRUE(deInit(&handle));  // the last handle closes the file
    }
    const std::vector<std::string> lines = lines_with(path, token);
    EXPECT_EQ(std::remove(path.c_str()), 0);
    if (choice != nullptr) {
        EXPECT_NE(std::remove((token + ".log").c_str()), 0) << "the settings' sink was opened";
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"L4 C1.1 Fn [file (12)]: " + token + " 5",
                                               "L3 silent Lock [co/co_lock (7)]: " + token}));
}

}  // namespace
