// Facts about the platform the tests run on, found at run time (tests never test _WIN32).
#pragma once

#include <string>

#include "platform/winapi.h"

namespace testing_support {

// Wine's ntdll exports wine_get_version; Windows' and ours do not exist or lack it.
inline bool running_under_wine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The folder of the running test program, with its trailing separator.
inline std::basic_string<OLECHAR> program_folder() {
    OLECHAR path[4096];
    const DWORD n = GetModuleFileNameW(nullptr, path, 4096);
    std::basic_string<OLECHAR> s(path, n);
    const size_t slash = s.find_last_of(OLESTR("\\/"));
    return slash == s.npos ? s : s.substr(0, slash + 1);
}

}  // namespace testing_support
