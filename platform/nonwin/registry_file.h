// The text format of the registry store file (described in docs/platform.md): writing key and
// value lines, and reading them back while skipping whatever cannot be parsed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/nonwin/registry_text.h"

namespace platform_registry {

constexpr uint32_t kTypeSz = 1;
constexpr uint32_t kTypeExpandSz = 2;
constexpr uint32_t kTypeBinary = 3;
constexpr uint32_t kTypeDword = 4;
constexpr size_t kHexBytesPerLine = 25;

enum RootIndex { kLocalMachine, kCurrentUser, kUsers, kRootCount };
inline constexpr const char* kRootNames[kRootCount] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER",
                                                       "HKEY_USERS"};

// One key line, "[ROOT\a\b]", with the names escaped.
void append_key_line(std::string& out, const char* root, const std::vector<std::u16string>& path);
// One value line: its name quoted, its data in the type's own form.
void append_value_line(std::string& out, std::u16string_view name, uint32_t type,
                       const std::vector<uint8_t>& data);
// The UTF-16 units of string data (little-endian pairs of bytes).
std::u16string units_of(const std::vector<uint8_t>& data);

// Where reading found lines it could not use.
struct LoadReport {
    size_t keys = 0;
    size_t ignored = 0;
    size_t first_ignored_line = 0;
    std::string first_ignored_text;  // as read, bytes outside printable ASCII escaped
};

// What reading feeds: key(root, path) and value(name, type, data) answer false for what they
// cannot use.
class StoreSink {
  public:
    virtual bool key(int root, const std::vector<std::u16string>& path) = 0;
    virtual bool value(const std::u16string& name, uint32_t type, std::vector<uint8_t>& data) = 0;

  protected:
    ~StoreSink() = default;
};

// Feeds the keys and values of a store file to sink. Values that follow an unusable key line are
// ignored with it.
LoadReport parse_store(std::string_view text, StoreSink& sink);

}  // namespace platform_registry
