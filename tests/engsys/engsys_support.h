// Loading the stand-ins by name as the component does, and registry keys that one test owns.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "btl/settings.h"
#include "engsys/exports.h"
#include "platform/module.h"
#include "support/scoped_setting.h"
#include "support/wstr.h"

namespace engsys_test {

using testing_support::olestring;
using testing_support::ScopedSetting;

inline olestring wide(const std::string& ascii) {
    return olestring(ascii.begin(), ascii.end());
}

// Unique among the processes running at once (under Wine they share the registry).
inline std::string unique_name() {
    return "EngsysTest-" + std::to_string(GetCurrentProcessId()) + "-" +
           testing::UnitTest::GetInstance()->current_test_info()->name();
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

// A settings key of the test's own (relative to the settings root), deleted with everything
// below it at the end.
class ScopedKey {
  public:
    explicit ScopedKey(olestring relative) : m_path(std::move(relative)) {}
    ~ScopedKey() {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                       (olestring(BTL_GetRegKeyRoot()) + OLESTR("\\") + m_path).c_str());
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    const OLECHAR* path() const { return m_path.c_str(); }

  private:
    olestring m_path;
};

}  // namespace engsys_test
