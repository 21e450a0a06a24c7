// Loading the stand-ins by name as the component does, and registry values that one test owns.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "btl/settings.h"
#include "engsys/exports.h"
#include "platform/module.h"
#include "support/wstr.h"

namespace engsys_test {

using testing_support::olestring;

inline olestring wide(const std::string& ascii) {
    return olestring(ascii.begin(), ascii.end());
}

// Unique among the processes running at once (under Wine they share the registry).
inline std::string unique_name() {
    return "EngsysTest-" + std::to_string(GetCurrentProcessId()) + "-" +
           testing::UnitTest::GetInstance()->current_test_info()->name();
}

inline olestring settings_key(const olestring& relative) {
    return olestring(BTL_GetRegKeyRoot()) + OLESTR("\\") + relative;
}

// A stand-in loaded by its Windows name; a missing entry point throws, failing the test.
class Library {
  public:
    explicit Library(const char* name) : m_module(LoadLibraryA(name)) {
        if (!m_module) {
            throw std::runtime_error(std::string("cannot load ") + name);
        }
    }
    template <class Fn>
    Fn get(const char* name) const {
        const Fn fn = platform::proc_address<Fn>(m_module.get(), name);
        if (fn == nullptr) {
            throw std::runtime_error(std::string("no entry point ") + name);
        }
        return fn;
    }

  private:
    platform::UniqueModule m_module;
};

// A value below HKEY_LOCAL_MACHINE, deleted again at the end (its key may be shared).
class ScopedValue {
  public:
    ScopedValue(const olestring& key, const olestring& name, DWORD type, const void* data,
                DWORD size)
        : m_name(name) {
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, m_key.put(), nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(m_key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data),
                                 size),
                  ERROR_SUCCESS);
    }
    ScopedValue(const olestring& key, const olestring& name, DWORD value)
        : ScopedValue(key, name, REG_DWORD, &value, sizeof value) {}
    ScopedValue(const olestring& key, const olestring& name, const olestring& text)
        : ScopedValue(key, name, REG_SZ, text.c_str(),
                      static_cast<DWORD>((text.size() + 1) * sizeof(OLECHAR))) {}
    ScopedValue(ScopedValue&&) = default;
    ~ScopedValue() {
        if (m_key) {
            RegDeleteValueW(m_key.get(), m_name.c_str());
        }
    }

  private:
    platform::UniqueRegKey m_key;
    olestring m_name;
};

// A key of the test's own, deleted with everything below it at the end.
class ScopedKey {
  public:
    explicit ScopedKey(olestring path) : m_path(std::move(path)) {}
    ~ScopedKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_path.c_str()); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    const olestring& path() const { return m_path; }

  private:
    olestring m_path;
};

}  // namespace engsys_test
