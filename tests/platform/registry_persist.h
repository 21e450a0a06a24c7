// What the two registry persistence programs hand from one process to the next: every value
// type, and names and data that a store file has to escape.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/winapi.h"
#include "support/wstr.h"

namespace registry_persist {

using testing_support::olestring;
using Bytes = std::vector<BYTE>;

inline const OLECHAR* const kKey = OLESTR("Software\\CjPlatformTests\\Persist");
// Percent, brackets, quotes, a tab, an accent, a pair and a lone surrogate, a trailing space.
inline const OLECHAR* const kOddSubkey = OLESTR("100% [odd] \"name\"\t\u00e9\U0001F600\xD800 ");
inline const OLECHAR* const kGoneSubkey = OLESTR("Gone");
inline const OLECHAR* const kClassesKey = OLESTR("CjPlatformTests.Persist");
inline const OLECHAR* const kStampName = OLESTR("Stamp");

struct Value {
    const char* label;
    olestring name;
    DWORD type;
    Bytes data;
};

inline Bytes bytes_of(const OLECHAR* s, size_t units) {
    const auto* p = reinterpret_cast<const BYTE*>(s);
    return Bytes(p, p + units * sizeof(OLECHAR));
}

inline std::vector<Value> fixed_values() {
    Bytes all_bytes;
    for (int i = 0; i < 256; ++i) {
        all_bytes.push_back(BYTE(i));
    }
    const OLECHAR tricky[] = OLESTR("q\"b\\s\tn\nr\r\u00e9\U0001F600\x7F\xDC00|\\\\");
    return {
        {"default", olestring(), REG_SZ, bytes_of(OLESTR("default"), 8)},
        {"dword", OLESTR("dword"), REG_DWORD, {0xEF, 0xBE, 0xAD, 0xDE}},
        {"short dword", OLESTR("short dword"), REG_DWORD, {1, 2}},
        {"qword", OLESTR("qword"), REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 0x80}},
        {"tricky text", OLESTR("q\"b\\s \u00e9\x01"), REG_SZ,
         bytes_of(tricky, sizeof tricky / sizeof(OLECHAR))},
        {"embedded null", OLESTR("embedded null"), REG_SZ, bytes_of(OLESTR("a\0b"), 4)},
        {"unterminated", OLESTR("unterminated"), REG_SZ, bytes_of(OLESTR("abc"), 3)},
        {"odd size", OLESTR("odd size"), REG_SZ, {'a', 0, 'b'}},
        {"empty string", OLESTR("empty string"), REG_SZ, bytes_of(OLESTR(""), 1)},
        {"expand", OLESTR("expand"), REG_EXPAND_SZ, bytes_of(OLESTR("%TEMP%\\x"), 9)},
        {"multi", OLESTR("multi"), REG_MULTI_SZ, bytes_of(OLESTR("a\0b\0"), 5)},
        {"binary", OLESTR("binary"), REG_BINARY, all_bytes},
        {"empty binary", OLESTR("empty binary"), REG_BINARY, {}},
        {"none", OLESTR("none"), REG_NONE, {1}},
        {"unknown type", OLESTR("unknown type"), 0x12345, {1, 2, 3}},
        {"newline name", OLESTR("line\nbreak%"), REG_DWORD, {1, 0, 0, 0}},
    };
}

// Where the writer leaves the stamp for the reader (a plain file beside the store).
inline std::string expected_file() {
    const char* path = std::getenv("CJ_REGISTRY_PERSIST_EXPECTED");
    return path != nullptr ? path : "registry-persist.expected";
}

}  // namespace registry_persist
