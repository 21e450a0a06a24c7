// A value under HKEY_LOCAL_MACHINE\<settings root>, set for the life of a test and removed after.
#pragma once

#include <string>
#include <vector>

#include "btl/settings.h"
#include "platform/module.h"
#include "platform/winapi.h"

namespace testing_support {

class ScopedSetting {
  public:
    // subkey is relative to the settings root; data are stored as given.
    ScopedSetting(const OLECHAR* subkey, const OLECHAR* name, DWORD type,
                  const std::vector<BYTE>& data)
        : m_key(std::basic_string<OLECHAR>(BTL_GetRegKeyRoot()) + OLESTR("\\") + subkey),
          m_name(name) {
        platform::UniqueRegKey key;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, key.put(), nullptr) == ERROR_SUCCESS) {
            m_ok = RegSetValueExW(key.get(), name, 0, type, data.data(),
                                  static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
        }
    }
    ScopedSetting(const OLECHAR* subkey, const OLECHAR* name, DWORD value)
        : ScopedSetting(subkey, name, REG_DWORD,
                        {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)}) {}
    ScopedSetting(const OLECHAR* subkey, const OLECHAR* name,
                  const std::basic_string<OLECHAR>& text)
        : ScopedSetting(subkey, name, REG_SZ,
                        {reinterpret_cast<const BYTE*>(text.c_str()),
                         reinterpret_cast<const BYTE*>(text.c_str() + text.size() + 1)}) {}
    ~ScopedSetting() {
        platform::UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_key.c_str(), 0, KEY_ALL_ACCESS, key.put()) == 0) {
            RegDeleteValueW(key.get(), m_name.c_str());
        }
    }
    ScopedSetting(const ScopedSetting&) = delete;
    ScopedSetting& operator=(const ScopedSetting&) = delete;

    bool ok() const { return m_ok; }

  private:
    std::basic_string<OLECHAR> m_key;
    std::basic_string<OLECHAR> m_name;
    bool m_ok = false;
};

}  // namespace testing_support
