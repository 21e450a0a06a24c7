// Comparing 16-bit strings in tests on every platform (OLECHAR is wchar_t on Windows and
// char16_t elsewhere).
#pragma once

#include <string>

#include "platform/winapi.h"

namespace testing_support {

using olestring = std::basic_string<OLECHAR>;

inline olestring bstr_text(BSTR b) {
    return b ? olestring(b, SysStringLen(b)) : olestring();
}

inline std::string narrow(const OLECHAR* s, size_t n) {
    std::string r;
    for (size_t i = 0; i < n; ++i) {
        r.push_back(s[i] < 0x80 ? static_cast<char>(s[i]) : '?');
    }
    return r;
}

inline std::string narrow(BSTR b) {
    return b ? narrow(b, SysStringLen(b)) : std::string();
}

}  // namespace testing_support
