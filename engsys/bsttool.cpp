// The settings library stand-in (bsttool.dll): values below HKEY_LOCAL_MACHINE\<settings root>,
// addressed by location, base and a path whose last part names the value.
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "btl/settings.h"
#include "engsys/exports.h"
#include "platform/module.h"

namespace {

using olestring = std::basic_string<OLECHAR>;

const OLECHAR kRoot[] = OLESTR("Software\\EngineeringSystem\\Settings");

// The subkey of a location below the root; null for an unknown location.
const OLECHAR* location_subkey(int location) {
    switch (location) {
        case btl::SettingLocationRoot:
            return OLESTR("");
        case btl::SettingLocationInstallation:
            return OLESTR("Installation");
        case btl::SettingLocationMachine:
            return OLESTR("Machine");
        case btl::SettingLocationUser:
            return OLESTR("User");
        case btl::SettingLocationProject:
            return OLESTR("Project");
        case btl::SettingLocationStation:
            return OLESTR("Station");
        case btl::SettingLocationDiagnostics:
            return OLESTR("Diagnostics");
        default:
            return nullptr;
    }
}

OLECHAR lower(OLECHAR c) {
    return c >= 'A' && c <= 'Z' ? static_cast<OLECHAR>(c + ('a' - 'A')) : c;
}

// Skips the root when a caller spelled it out (root plus a backslash, any case).
const OLECHAR* skip_root(const OLECHAR* path) {
    const OLECHAR* p = path;
    for (const OLECHAR* r = kRoot; *r != 0; ++r, ++p) {
        if (lower(*p) != lower(*r)) {
            return path;
        }
    }
    return *p == '\\' ? p : path;
}

// The key (relative to HKEY_LOCAL_MACHINE) and the value name of an address.
LONG resolve(int location, int base, LPCWSTR path, olestring& key, olestring& value) {
    const OLECHAR* subkey = location_subkey(location);
    if (path == nullptr || subkey == nullptr ||
        (base != btl::SettingBaseRoot && base != btl::SettingBaseLocation)) {
        return btl::SettingBadArgument;
    }
    if (base == btl::SettingBaseRoot) {
        path = skip_root(path);
    }
    while (*path == '\\') {
        ++path;
    }
    key = kRoot;
    if (base == btl::SettingBaseLocation && *subkey != 0) {
        key += OLESTR("\\");
        key += subkey;
    }
    const olestring rest(path);
    const size_t slash = rest.rfind(OLECHAR('\\'));
    if (slash != olestring::npos) {
        key += OLESTR("\\");
        key += rest.substr(0, slash);
        value = rest.substr(slash + 1);
    } else {
        value = rest;
    }
    return btl::SettingRead;
}

LONG missing_as_2(LONG status) {
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND ? btl::SettingMissing
                                                                            : status;
}

// Values a tool of this build set for its own process (bsttool_SetOverride), by the lower-cased
// key and value name: they shadow the registry without anything being written to it.
struct Overrides {
    std::mutex lock;
    std::map<olestring, DWORD> values;
};

Overrides& overrides() {
    static Overrides* o = new Overrides;  // never destroyed: reads may come during exit
    return *o;
}

olestring override_name(const olestring& key, const olestring& value) {
    olestring name = key + OLESTR("\\") + value;
    for (OLECHAR& c : name) {
        c = lower(c);
    }
    return name;
}

bool overridden(const olestring& key, const olestring& value, DWORD* out) {
    Overrides& o = overrides();
    std::lock_guard<std::mutex> guard(o.lock);
    const auto found = o.values.find(override_name(key, value));
    if (found == o.values.end()) {
        return false;
    }
    *out = found->second;
    return true;
}

LONG open_key(const olestring& key, platform::UniqueRegKey& out) {
    return missing_as_2(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, out.put()));
}

LONG read_dword(int location, int base, LPCWSTR name, DWORD* value) {
    olestring key, valueName;
    LONG status = resolve(location, base, name, key, valueName);
    if (status != btl::SettingRead || value == nullptr) {
        return btl::SettingBadArgument;
    }
    if (overridden(key, valueName, value)) {
        return btl::SettingRead;
    }
    platform::UniqueRegKey handle;
    if ((status = open_key(key, handle)) != btl::SettingRead) {
        return status;
    }
    DWORD data = 0;
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    status = RegQueryValueExW(handle.get(), valueName.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(&data), &size);
    if (status == ERROR_MORE_DATA ||
        (status == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof data))) {
        return btl::SettingWrongType;
    }
    if (status != ERROR_SUCCESS) {
        return missing_as_2(status);
    }
    *value = data;
    return btl::SettingRead;
}

LONG read_string(int location, int base, LPCWSTR name, LPWSTR buffer, DWORD* chars) {
    olestring key, valueName;
    LONG status = resolve(location, base, name, key, valueName);
    if (status != btl::SettingRead || chars == nullptr) {
        return btl::SettingBadArgument;
    }
    platform::UniqueRegKey handle;
    if ((status = open_key(key, handle)) != btl::SettingRead) {
        return status;
    }
    DWORD type = REG_NONE;
    DWORD size = 0;
    status = RegQueryValueExW(handle.get(), valueName.c_str(), nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) {
        return missing_as_2(status);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return btl::SettingWrongType;
    }
    // Room for a terminator the stored data may lack.
    std::vector<OLECHAR> data(size / sizeof(OLECHAR) + 1, 0);
    status = RegQueryValueExW(handle.get(), valueName.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &size);
    if (status != ERROR_SUCCESS) {
        return missing_as_2(status);
    }
    const size_t length = olestring(data.data()).size();
    const DWORD needed = static_cast<DWORD>(length + 1);
    if (buffer == nullptr || *chars < needed) {
        *chars = needed;
        return btl::SettingMoreData;
    }
    std::memcpy(buffer, data.data(), needed * sizeof(OLECHAR));
    *chars = needed;
    return btl::SettingRead;
}

}  // namespace

LPCWSTR WINAPI BTL_GetRegKeyRoot(void) {
    return kRoot;
}

LONG WINAPI BTL_SettingGetValue(const int* location, const int* base, LPCWSTR name, DWORD* value) {
    if (location == nullptr || base == nullptr) {
        return btl::SettingBadArgument;
    }
    return read_dword(*location, *base, name, value);
}

LONG WINAPI BTL_SettingGetString(const int* location, const int* base, LPCWSTR name, LPWSTR buffer,
                                 DWORD* chars) {
    if (location == nullptr || base == nullptr) {
        return btl::SettingBadArgument;
    }
    return read_string(*location, *base, name, buffer, chars);
}

PLATFORM_EXPORT LONG WINAPI bsttool_SetOverride(const int* location, const int* base, LPCWSTR name,
                                                const DWORD* value) {
    olestring key, valueName;
    if (location == nullptr || base == nullptr ||
        resolve(*location, *base, name, key, valueName) != btl::SettingRead) {
        return btl::SettingBadArgument;
    }
    try {
        Overrides& o = overrides();
        std::lock_guard<std::mutex> guard(o.lock);
        if (value != nullptr) {
            o.values[override_name(key, valueName)] = *value;
        } else {
            o.values.erase(override_name(key, valueName));
        }
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
    return btl::SettingRead;
}

static_assert(std::is_same<decltype(&BTL_GetRegKeyRoot), engsys::SettingsRootFn>::value, "");
static_assert(std::is_same<decltype(&BTL_SettingGetValue), engsys::SettingGetValueFn>::value, "");
static_assert(std::is_same<decltype(&BTL_SettingGetString), engsys::SettingGetStringFn>::value, "");
static_assert(std::is_same<decltype(&bsttool_SetOverride), engsys::SettingOverrideFn>::value, "");

namespace btl {

SettingPath::SettingPath(SettingLocationEnum location, SettingBaseEnum base, LPCWSTR path) noexcept
    : m_location(location), m_base(base), m_path(nullptr) {
    if (path != nullptr) {
        const size_t length = std::char_traits<WCHAR>::length(path);
        m_path = new (std::nothrow) WCHAR[length + 1];
        if (m_path != nullptr) {
            std::memcpy(m_path, path, (length + 1) * sizeof(WCHAR));
        }
    }
}

SettingPath::~SettingPath() {
    delete[] m_path;
}

LONG SettingGetValue(const SettingPath& path, DWORD* value) noexcept {
    return read_dword(path.Location(), path.Base(), path.Path(), value);
}

}  // namespace btl
