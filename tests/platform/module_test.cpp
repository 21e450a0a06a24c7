// Modules: loading by Windows name, lookup by name and by address, file names, unloading; the
// thread's last error; system message texts; code page conversion.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/winapi.h"
#include "support/platform_probe.h"

namespace {

using olestring = std::basic_string<OLECHAR>;
typedef int (*AnswerFn)();

const char* const kPlain = "test_plain_module.dll";

AnswerFn answer_of(HMODULE m) {
    return reinterpret_cast<AnswerFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(m, "CjPlainAnswer")));
}

int local_function() {
    return 1;
}

HMODULE module_of(const void* address) {
    HMODULE m = nullptr;
    EXPECT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<LPCWSTR>(address), &m));
    return m;
}

TEST(ModuleTest, LoadsByWindowsNameBesideTheProgram) {
    HMODULE m = LoadLibraryA(kPlain);
    ASSERT_NE(m, nullptr);
    AnswerFn answer = answer_of(m);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);

    SetLastError(0);
    EXPECT_EQ(GetProcAddress(m, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

    // One module, however it is named or found.
    EXPECT_EQ(GetModuleHandleA(kPlain), m);
    EXPECT_EQ(module_of(reinterpret_cast<const void*>(answer)), m);
    OLECHAR path[1024];
    ASSERT_GT(GetModuleFileNameW(m, path, 1024), 0u);
    HMODULE byPath = LoadLibraryW(path);
    EXPECT_EQ(byPath, m);
    EXPECT_TRUE(FreeLibrary(byPath));

    EXPECT_TRUE(FreeLibrary(m));
    EXPECT_EQ(GetModuleHandleA(kPlain), nullptr);  // the last unload removes it

    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("no_such_module_here.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(ModuleTest, TheProgramItself) {
    HMODULE program = GetModuleHandleW(nullptr);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(module_of(reinterpret_cast<const void*>(&local_function)), program);

    OLECHAR full[4096];
    const DWORD len = GetModuleFileNameW(nullptr, full, 4096);
    ASSERT_GT(len, 8u);
    OLECHAR shortBuf[8];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, shortBuf, 8), 8u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(olestring(shortBuf, 7), olestring(full, 7));
}

TEST(ModuleTest, LastErrorBelongsToTheThread) {
    // Each side sets its own value, then checks it after the other has set its own. The waits
    // spin without a system call: yielding may itself set the thread's last error (under Wine).
    std::atomic<int> step{0};
    DWORD other = 0;
    std::thread worker([&] {
        SetLastError(5);
        step = 1;
        while (step != 2) {
        }
        other = GetLastError();
    });
    while (step != 1) {
    }
    SetLastError(1234);
    step = 2;
    worker.join();
    EXPECT_EQ(other, 5u);
    SetLastError(1234);
    EXPECT_EQ(GetLastError(), 1234u);
}

DWORD format(DWORD id, std::string& text) {
    LPWSTR buf = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, id, 0, reinterpret_cast<LPWSTR>(&buf), 0, nullptr);
    text.clear();
    for (DWORD i = 0; i < n; ++i) {
        text.push_back(static_cast<char>(buf[i]));
    }
    LocalFree(buf);
    return n;
}

TEST(MessageTest, SystemTextsEndWithALineBreakAndUnknownCodesHaveNone) {
    for (DWORD id : {0x80004001u, 0x80070057u, 0x8007000Eu, 0x80070005u}) {
        std::string text;
        ASSERT_GT(format(id, text), 2u) << std::hex << id;
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << std::hex << id;
    }
    std::string text;
    SetLastError(0);
    EXPECT_EQ(format(0x8004FFFFu, text), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

TEST(CodePageTest, RoundTripsAndCountsTheTerminator) {
    const char* text = "Collection-job 7";
    const int wide = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    ASSERT_EQ(wide, 17);  // includes the terminator
    OLECHAR buf[17];
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, buf, 17), 17);
    char back[17];
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, buf, -1, back, 17, nullptr, nullptr), 17);
    EXPECT_STREQ(back, text);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, buf, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
