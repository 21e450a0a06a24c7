// The text format of the registry store file (described in docs/platform.md).
#include "platform/nonwin/registry_file.h"

#include <cstdio>

namespace platform_registry {

// ---- writing ----

namespace {

void append_hex4(std::string& out, const char* prefix, char16_t unit) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s%04X", prefix, static_cast<unsigned>(unit));
    out += buf;
}

bool is_control(char16_t c) {
    return c < 0x20 || c == 0x7F;
}

// Appends UTF-16 text as UTF-8. escape(out, unit) may write a unit its own way (returning true);
// unpaired surrogates, which UTF-8 cannot carry, always become hex_prefix + four hex digits.
template <typename Escape>
void append_text(std::string& out, std::u16string_view text, const char* hex_prefix,
                 Escape escape) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (is_high_surrogate(c) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
            out += utf16_to_utf8(&text[i], 2);
            ++i;
        } else if (is_high_surrogate(c) || is_low_surrogate(c)) {
            append_hex4(out, hex_prefix, c);
        } else if (!escape(out, c)) {
            append_utf8(out, c);
        }
    }
}

void append_quoted(std::string& out, std::u16string_view text) {
    out += '"';
    append_text(out, text, "\\x", [](std::string& o, char16_t c) {
        if (c == u'\\' || c == u'"') {
            o += '\\';
            o += static_cast<char>(c);
            return true;
        }
        if (is_control(c)) {
            append_hex4(o, "\\x", c);
            return true;
        }
        return false;
    });
    out += '"';
}

}  // namespace

void append_key_line(std::string& out, const char* root, const std::vector<std::u16string>& path) {
    out += '[';
    out += root;
    for (const std::u16string& part : path) {
        out += '\\';
        append_text(out, part, "%", [](std::string& o, char16_t c) {
            if (is_control(c) || c == u'%') {
                append_hex4(o, "%", c);
                return true;
            }
            return false;
        });
    }
    out += "]\n";
}

std::u16string units_of(const std::vector<uint8_t>& data) {
    std::u16string units(data.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    return units;
}

namespace {

// True when the data are text plus exactly one terminating null, which the quoted form keeps.
bool is_plain_string(const std::vector<uint8_t>& data) {
    if (data.size() < 2 || data.size() % 2 != 0) {
        return false;
    }
    const std::u16string units = units_of(data);
    return units.find(u'\0') == units.size() - 1;
}

}  // namespace

void append_value_line(std::string& out, std::u16string_view name, uint32_t type,
                       const std::vector<uint8_t>& data) {
    if (name.empty()) {
        out += '@';
    } else {
        append_quoted(out, name);
    }
    out += '=';
    if ((type == kTypeSz || type == kTypeExpandSz) && is_plain_string(data)) {
        std::u16string text = units_of(data);
        text.pop_back();
        out += type == kTypeExpandSz ? "expand:" : "";
        append_quoted(out, text);
    } else if (type == kTypeDword && data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x",
                      static_cast<unsigned>(data[0] | (data[1] << 8) | (data[2] << 16) |
                                            (static_cast<uint32_t>(data[3]) << 24)));
        out += buf;
    } else {
        char buf[24];
        if (type == kTypeBinary) {
            out += "hex:";
        } else {
            std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(type));
            out += buf;
        }
        for (size_t i = 0; i < data.size(); ++i) {
            if (i != 0) {
                out += i % kHexBytesPerLine == 0 ? ",\\\n  " : ",";
            }
            std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned>(data[i]));
            out += buf;
        }
    }
    out += '\n';
}

// ---- reading ----

namespace {

class LineParser {
  public:
    explicit LineParser(std::string_view text) : m_text(text) {}

    bool at_end() const { return m_pos == m_text.size(); }
    void skip_spaces() {
        while (!at_end() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t')) {
            ++m_pos;
        }
    }
    bool take(std::string_view word) {
        if (m_text.substr(m_pos, word.size()) != word) {
            return false;
        }
        m_pos += word.size();
        return true;
    }

    // Up to max_digits hex digits (at least one).
    bool hex_number(size_t max_digits, uint32_t& value) {
        size_t n = 0;
        value = 0;
        for (; n < max_digits && !at_end(); ++n) {
            const int d = digit(m_text[m_pos]);
            if (d < 0) {
                break;
            }
            value = value * 16 + static_cast<uint32_t>(d);
            ++m_pos;
        }
        return n > 0;
    }

    // A quoted string with \\, \" and \xHHHH escapes; other bytes must be UTF-8.
    bool quoted(std::u16string& out) {
        if (!take("\"")) {
            return false;
        }
        out.clear();
        std::u16string run;
        size_t start = m_pos;
        while (!at_end()) {
            const char c = m_text[m_pos];
            if (c != '"' && c != '\\') {
                ++m_pos;
                continue;
            }
            if (!utf8_to_utf16(&m_text[start], m_pos - start, run, false)) {
                return false;
            }
            out += run;
            ++m_pos;
            if (c == '"') {
                return true;
            }
            uint32_t unit = 0;
            if (take("\\") || take("\"")) {
                out += static_cast<char16_t>(m_text[m_pos - 1]);
            } else if (take("x") && exact_hex4(unit)) {
                out += static_cast<char16_t>(unit);
            } else {
                return false;
            }
            start = m_pos;
        }
        return false;
    }

    // Bytes as hex pairs separated by commas; an empty list is allowed.
    bool hex_list(std::vector<uint8_t>& out) {
        out.clear();
        skip_spaces();
        if (at_end()) {
            return true;
        }
        for (;;) {
            uint32_t byte = 0;
            skip_spaces();
            if (!hex_number(2, byte)) {
                return false;
            }
            out.push_back(static_cast<uint8_t>(byte));
            skip_spaces();
            if (at_end()) {
                return true;
            }
            if (!take(",")) {
                return false;
            }
        }
    }

    // A key path component: UTF-8 with %HHHH escapes.
    static bool is_hex_digit(char c) { return digit(c) >= 0; }

    static bool key_part(std::string_view text, std::u16string& out) {
        out.clear();
        std::u16string run;
        size_t start = 0;
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text[i] != '%') {
                continue;
            }
            if (!utf8_to_utf16(text.data() + start, i - start, run, false)) {
                return false;
            }
            out += run;
            if (i == text.size()) {
                break;
            }
            LineParser escape(text.substr(i + 1, 4));
            uint32_t unit = 0;
            if (!escape.exact_hex4(unit)) {
                return false;
            }
            out += static_cast<char16_t>(unit);
            i += 4;
            start = i + 1;
        }
        return true;
    }

  private:
    static int digit(char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    }

    bool exact_hex4(uint32_t& value) {
        const size_t start = m_pos;
        return hex_number(4, value) && m_pos - start == 4;
    }

    std::string_view m_text;
    size_t m_pos = 0;
};

bool parse_value(std::string_view line, std::u16string& name, uint32_t& type,
                 std::vector<uint8_t>& data) {
    LineParser p(line);
    if (p.take("@")) {
        name.clear();
    } else if (!p.quoted(name)) {
        return false;
    }
    p.skip_spaces();
    if (!p.take("=")) {
        return false;
    }
    p.skip_spaces();
    std::u16string text;
    uint32_t number = 0;
    bool ok = false;
    if (p.take("dword:")) {
        type = kTypeDword;
        ok = p.hex_number(8, number);
        data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
    } else if (p.take("hex:")) {
        type = kTypeBinary;
        return p.hex_list(data);
    } else if (p.take("hex(")) {
        ok = p.hex_number(8, type) && p.take("):");
        return ok && p.hex_list(data);
    } else {
        type = p.take("expand:") ? kTypeExpandSz : kTypeSz;
        ok = p.quoted(text);
        data.clear();
        for (char16_t c : text) {
            data.push_back(static_cast<uint8_t>(c));
            data.push_back(static_cast<uint8_t>(c >> 8));
        }
        data.push_back(0);
        data.push_back(0);
    }
    p.skip_spaces();
    return ok && p.at_end();
}

// Splits "[ROOT\a\b]" into the root's index and the names below it; the classes root is
// accepted as the machine's Software\Classes.
bool parse_key(std::string_view line, int& root, std::vector<std::u16string>& path) {
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') {
        return false;
    }
    std::string_view rest = line.substr(1, line.size() - 2);
    const size_t cut = rest.find('\\');
    const std::string_view root_name = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    path.clear();
    auto same = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size()) {
            return false;
        }
        for (size_t i = 0; i < a.size(); ++i) {
            if (upper_case(static_cast<unsigned char>(a[i])) !=
                upper_case(static_cast<unsigned char>(b[i]))) {
                return false;
            }
        }
        return true;
    };
    root = -1;
    for (int i = 0; i < kRootCount; ++i) {
        if (same(root_name, kRootNames[i])) {
            root = i;
        }
    }
    if (same(root_name, "HKEY_CLASSES_ROOT")) {
        root = kLocalMachine;
        path = {u"Software", u"Classes"};
    }
    if (root < 0 || (cut != std::string_view::npos && rest.empty())) {
        return false;
    }
    while (!rest.empty()) {
        const size_t end = rest.find('\\');
        std::u16string part;
        // A key name never holds a backslash (it separates the names): an escaped one would not
        // come back as the same key.
        if (!LineParser::key_part(rest.substr(0, end), part) || part.empty() ||
            part.find(u'\\') != std::u16string::npos) {
            return false;
        }
        path.push_back(std::move(part));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (end != std::string_view::npos && rest.empty()) {
            return false;
        }
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool starts_with_hex(std::string_view s) {
    return !s.empty() && LineParser::is_hex_digit(s.front());
}

// Takes the next line off text, trimmed.
std::string next_line(std::string_view& text, size_t& line_number) {
    const size_t end = text.find('\n');
    const std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++line_number;
    return std::string(line);
}

}  // namespace

LoadReport parse_store(std::string_view text, StoreSink& sink) {
    LoadReport report;
    auto ignore = [&report](size_t line_number, std::string_view line) {
        if (report.ignored++ == 0) {
            report.first_ignored_line = line_number;
            constexpr size_t kShown = 60;
            for (size_t i = 0; i < line.size() && i < kShown; ++i) {
                const auto c = static_cast<unsigned char>(line[i]);
                if (c < 0x20 || c >= 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%02X", c);
                    report.first_ignored_text += buf;
                } else {
                    report.first_ignored_text += static_cast<char>(c);
                }
            }
            report.first_ignored_text += line.size() > kShown ? "..." : "";
        }
    };
    bool have_key = false;
    size_t line_number = 0;
    std::string logical;
    std::u16string name;
    std::vector<std::u16string> path;
    std::vector<uint8_t> data;
    while (!text.empty()) {
        // Lines that end in a backslash continue on the next (long hex lists), but only with
        // hex digits: a damaged list must not swallow the next key or value.
        const size_t first_line = line_number + 1;
        logical = next_line(text, line_number);
        while (!logical.empty() && logical.back() == '\\' && logical.front() != ';' &&
               starts_with_hex(trim(text))) {
            logical.pop_back();
            logical += next_line(text, line_number);
        }
        const std::string_view line = logical;
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            int root = 0;
            have_key = parse_key(line, root, path) && sink.key(root, path);
            if (!have_key) {
                ignore(first_line, line);
            } else {
                ++report.keys;
            }
            continue;
        }
        uint32_t type = 0;
        if (!have_key || !parse_value(line, name, type, data) || !sink.value(name, type, data)) {
            ignore(first_line, line);
        }
    }
    return report;
}

}  // namespace platform_registry
