// Reading registry keys and string values in tests, on both platforms.
#pragma once

#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/winapi.h"

namespace testing_support {

inline bool key_exists(HKEY root, const OLECHAR* path) {
    platform::UniqueRegKey key;
    return RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// A string value (name == nullptr: the default value); "<missing>" when there is none.
inline std::basic_string<OLECHAR> string_value(HKEY root, const OLECHAR* path,
                                               const OLECHAR* name = nullptr) {
    platform::UniqueRegKey key;
    OLECHAR buffer[1024] = {};
    DWORD type = 0;
    DWORD bytes = sizeof buffer - sizeof(OLECHAR);
    if (RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
        RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return OLESTR("<missing>");
    }
    return buffer;
}

// Names of the subkeys of root\path, in the registry's order.
inline std::vector<std::basic_string<OLECHAR>> subkeys(HKEY root, const OLECHAR* path) {
    std::vector<std::basic_string<OLECHAR>> names;
    platform::UniqueRegKey key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
        OLECHAR name[256];
        for (DWORD i = 0, n = 256; RegEnumKeyExW(key.get(), i, name, &n, nullptr, nullptr, nullptr,
                                                 nullptr) == ERROR_SUCCESS;
             ++i, n = 256) {
            names.emplace_back(name, n);
        }
    }
    return names;
}

}  // namespace testing_support
