// The settings library (bsttool.dll): values below HKEY_LOCAL_MACHINE\<settings root>, read by
// location, base and a path whose last part names the value. Mapping: docs/engsys.md.
#pragma once

#include "platform/winapi.h"

// The bsttool target defines BTL_API (export while building it, import for its users).
#ifndef BTL_API
#error "btl/settings.h needs BTL_API: link the bsttool target"
#endif

// The settings root, relative to HKEY_LOCAL_MACHINE, without leading or trailing backslash.
extern "C" BTL_API LPCWSTR WINAPI BTL_GetRegKeyRoot(void);
// Reads a REG_DWORD of four bytes; result codes as btl::SettingGetValue.
extern "C" BTL_API LONG WINAPI BTL_SettingGetValue(const int* location, const int* base,
                                                   LPCWSTR name, DWORD* value);
// Reads a REG_SZ or REG_EXPAND_SZ (not expanded). *chars holds the buffer's size in characters
// and receives the size needed, terminator included; too small a buffer answers
// btl::SettingMoreData and leaves it alone.
extern "C" BTL_API LONG WINAPI BTL_SettingGetString(const int* location, const int* base,
                                                    LPCWSTR name, LPWSTR buffer, DWORD* chars);

namespace btl {

// Results: the values of the system's error codes of the same meaning.
constexpr LONG SettingRead = 0;          // ERROR_SUCCESS
constexpr LONG SettingMissing = 2;       // ERROR_FILE_NOT_FOUND: no such key or value
constexpr LONG SettingWrongType = 13;    // ERROR_INVALID_DATA: another type or size
constexpr LONG SettingBadArgument = 87;  // ERROR_INVALID_PARAMETER
constexpr LONG SettingMoreData = 234;    // ERROR_MORE_DATA

// A store below the settings root; base SettingBaseLocation reads below its subkey.
enum SettingLocationEnum : int {
    SettingLocationRoot = 0,  // the root itself
    SettingLocationInstallation = 1,
    SettingLocationMachine = 2,
    SettingLocationUser = 3,
    SettingLocationProject = 16,
    SettingLocationStation = 17,
    SettingLocationDiagnostics = 18,
};

// Where a path starts.
enum SettingBaseEnum : int {
    SettingBaseRoot = 0,      // the settings root, whatever the location
    SettingBaseLocation = 1,  // the location's subkey
};

// A value's address. Keeps its own copy of the path.
class BTL_API SettingPath {
  public:
    SettingPath(SettingLocationEnum location, SettingBaseEnum base, LPCWSTR path) noexcept;
    ~SettingPath();
    SettingPath(const SettingPath&) = delete;
    SettingPath& operator=(const SettingPath&) = delete;

    SettingLocationEnum Location() const noexcept { return m_location; }
    SettingBaseEnum Base() const noexcept { return m_base; }
    // Null when no path was given or it could not be copied.
    LPCWSTR Path() const noexcept { return m_path; }

  private:
    SettingLocationEnum m_location;
    SettingBaseEnum m_base;
    WCHAR* m_path;
};

// Reads a REG_DWORD of four bytes: SettingRead, SettingMissing, SettingWrongType,
// SettingBadArgument (null value, no path, unknown location or base) or another registry error.
BTL_API LONG SettingGetValue(const SettingPath& path, DWORD* value) noexcept;

}  // namespace btl
