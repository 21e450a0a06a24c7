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
    const std::basic_string<OLECHAR> missing = OLESTR("<missing>");
    platform::UniqueRegKey key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return missing;
    }
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return missing;
    }
    std::vector<OLECHAR> buffer(bytes / sizeof(OLECHAR) + 1, 0);
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &bytes) != ERROR_SUCCESS) {
        return missing;
    }
    return std::basic_string<OLECHAR>(buffer.data());
}

// Names of the subkeys of root\path, in the registry's order.
inline std::vector<std::basic_string<OLECHAR>> subkeys(HKEY root, const OLECHAR* path) {
    std::vector<std::basic_string<OLECHAR>> names;
    platform::UniqueRegKey key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return names;
    }
    for (DWORD i = 0;; ++i) {
        OLECHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return names;
        }
        names.emplace_back(name, length);
    }
}

}  // namespace testing_support
