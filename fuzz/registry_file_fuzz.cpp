// A user's registry store file is untrusted text: parsing it must end without harm, and what it
// yields must be written back (in the store's own format) as text that parses to the same keys
// and values.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/nonwin/registry_file.h"

namespace {

namespace reg = platform_registry;

struct Entry {
    bool isKey;
    int root;
    std::vector<std::u16string> path;
    std::u16string name;
    uint32_t type;
    std::vector<uint8_t> data;
    bool operator==(const Entry& o) const {
        return isKey == o.isKey && root == o.root && path == o.path && name == o.name &&
               type == o.type && data == o.data;
    }
};

struct Recorder final : reg::StoreSink {
    std::vector<Entry> entries;
    bool key(int root, const std::vector<std::u16string>& path) override {
        entries.push_back({true, root, path, {}, 0, {}});
        return true;
    }
    bool value(const std::u16string& name, uint32_t type, std::vector<uint8_t>& data) override {
        entries.push_back({false, 0, {}, name, type, data});
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Recorder first;
    (void)reg::parse_store(text, first);

    std::string written;
    for (const Entry& e : first.entries) {
        if (e.isKey) {
            reg::append_key_line(written, reg::kRootNames[e.root], e.path);
        } else {
            reg::append_value_line(written, e.name, e.type, e.data);
        }
    }
    Recorder again;
    const reg::LoadReport report = reg::parse_store(written, again);
    if (report.ignored != 0 || !(again.entries == first.entries)) {
        __builtin_trap();
    }
    return 0;
}
