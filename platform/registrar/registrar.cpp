// The registration-script runner: parses the whole script into a key tree, then writes or removes
// it through the registry functions of the platform.
#include "platform/registrar/registrar.h"

#include <new>
#include <utility>

#include "platform/module.h"

namespace cj_registrar {
namespace {

struct Value {
    DWORD type = REG_SZ;
    olestring text;    // REG_SZ
    DWORD number = 0;  // REG_DWORD
};

struct NamedValue {
    olestring name;
    Value value;
};

struct Key {
    olestring name;
    bool noRemove = false;
    bool forceRemove = false;
    bool hasDefault = false;
    Value defaultValue;
    std::vector<NamedValue> values;
    std::vector<Key> children;
};

struct Root {
    HKEY predefined;
    olestring shortName;
    std::vector<Key> keys;
};

struct BadScript {};        // malformed text
struct UnknownVariable {};  // %NAME% without a replacement

bool equals_ci(const olestring& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        OLECHAR x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<OLECHAR>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<char>(y - 'A' + 'a');
        }
        if (x != static_cast<OLECHAR>(y)) {
            return false;
        }
    }
    return i == a.size() && b[i] == 0;
}

class Parser {
  public:
    Parser(olestring text, const std::vector<Replacement>& replacements)
        : m_text(std::move(text)), m_replacements(replacements) {}

    std::vector<Root> parse() {
        std::vector<Root> roots;
        while (next_token()) {
            roots.push_back(root());
        }
        return roots;
    }

  private:
    struct Token {
        olestring text;
        bool quoted = false;
    };

    static bool is_space(OLECHAR c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    static bool is_punct(OLECHAR c) { return c == '{' || c == '}' || c == '='; }

    static constexpr size_t kGuidLength = 38;

    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX} at pos: a name, not an opening brace.
    bool is_guid_at(size_t pos) const {
        if (m_text.size() - pos < kGuidLength || m_text[pos] != '{' ||
            m_text[pos + kGuidLength - 1] != '}') {
            return false;
        }
        for (size_t i = 1; i < kGuidLength - 1; ++i) {
            const OLECHAR c = m_text[pos + i];
            const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
            const bool hex =
                (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (dash ? c != '-' : !hex) {
                return false;
            }
        }
        return true;
    }

    // Reads the next token into m_token; false at the end of the text.
    bool next_token() {
        while (m_pos < m_text.size() && is_space(m_text[m_pos])) {
            ++m_pos;
        }
        if (m_pos >= m_text.size()) {
            return false;
        }
        m_token = Token{};
        const OLECHAR c = m_text[m_pos];
        if (is_guid_at(m_pos)) {
            m_token.text = m_text.substr(m_pos, kGuidLength);  // a class id names a key
            m_pos += kGuidLength;
        } else if (is_punct(c)) {
            m_token.text.assign(1, c);
            ++m_pos;
        } else if (c == '\'') {
            m_token.quoted = true;
            ++m_pos;
            for (;;) {
                if (m_pos >= m_text.size()) {
                    throw BadScript{};
                }
                const OLECHAR q = m_text[m_pos++];
                if (q == '\'') {
                    if (m_pos < m_text.size() && m_text[m_pos] == '\'') {
                        ++m_pos;
                    } else {
                        break;
                    }
                }
                m_token.text.push_back(q);
            }
            m_token.text = expand(m_token.text);
        } else {
            while (m_pos < m_text.size() && !is_space(m_text[m_pos]) && !is_punct(m_text[m_pos]) &&
                   m_text[m_pos] != '\'') {
                m_token.text.push_back(m_text[m_pos++]);
            }
            m_token.text = expand(m_token.text);
        }
        return true;
    }

    void expect_token() {
        if (!next_token()) {
            throw BadScript{};
        }
    }
    bool is_punct_token() const {
        return !m_token.quoted && m_token.text.size() == 1 && is_punct(m_token.text[0]);
    }
    bool is(const char* punct) const { return !m_token.quoted && m_token.text == to_ole(punct); }
    static olestring to_ole(const char* s) {
        olestring r;
        while (*s != 0) {
            r.push_back(static_cast<OLECHAR>(*s++));
        }
        return r;
    }

    olestring expand(const olestring& s) const {
        olestring r;
        for (size_t i = 0; i < s.size(); ++i) {
            if (s[i] != '%') {
                r.push_back(s[i]);
                continue;
            }
            const size_t end = s.find('%', i + 1);
            if (end == olestring::npos) {
                throw BadScript{};
            }
            const olestring name = s.substr(i + 1, end - i - 1);
            if (name.empty()) {
                r.push_back('%');
            } else {
                bool found = false;
                for (const Replacement& rep : m_replacements) {
                    if (rep.name == name) {
                        r += rep.value;
                        found = true;
                        break;
                    }
                }
                if (!found) {
                    throw UnknownVariable{};
                }
            }
            i = end;
        }
        return r;
    }

    Root root() {
        static const struct {
            const char* names[2];
            HKEY key;
        } kRoots[] = {{{"HKCR", "HKEY_CLASSES_ROOT"}, HKEY_CLASSES_ROOT},
                      {{"HKCU", "HKEY_CURRENT_USER"}, HKEY_CURRENT_USER},
                      {{"HKLM", "HKEY_LOCAL_MACHINE"}, HKEY_LOCAL_MACHINE},
                      {{"HKU", "HKEY_USERS"}, HKEY_USERS}};
        Root r{nullptr, {}, {}};
        for (const auto& known : kRoots) {
            if (!m_token.quoted && (equals_ci(m_token.text, known.names[0]) ||
                                    equals_ci(m_token.text, known.names[1]))) {
                r.predefined = known.key;
                r.shortName = to_ole(known.names[0]);
            }
        }
        if (r.predefined == nullptr) {
            throw BadScript{};
        }
        expect_token();
        if (!is("{")) {
            throw BadScript{};
        }
        r.keys = body();
        return r;
    }

    // Keys up to the closing brace; named values only below a key.
    std::vector<Key> body(Key* owner = nullptr) {
        // Deeper than the registry nests keys: refused before the recursion exhausts the stack.
        if (++m_depth > 512) {
            throw BadScript{};
        }
        std::vector<Key> keys;
        for (;;) {
            expect_token();
            if (is("}")) {
                --m_depth;
                return keys;
            }
            if (!m_token.quoted && equals_ci(m_token.text, "val")) {
                if (owner == nullptr) {
                    throw BadScript{};  // a value needs a key
                }
                expect_token();
                NamedValue v;
                v.name = name_token(false);
                expect_token();
                if (!is("=")) {
                    throw BadScript{};
                }
                v.value = value();
                owner->values.push_back(std::move(v));
                continue;
            }
            keys.push_back(key());
        }
    }

    // The registry takes names as C strings: a NUL would cut a name short, and an empty key name
    // would stand for the parent key itself, which unregistering would then delete.
    olestring name_token(bool key) const {
        if (is_punct_token() || (key && m_token.text.empty()) ||
            m_token.text.find(OLECHAR(0)) != olestring::npos) {
            throw BadScript{};
        }
        return m_token.text;
    }

    Key key() {
        Key k;
        for (;;) {
            if (!m_token.quoted && equals_ci(m_token.text, "NoRemove")) {
                k.noRemove = true;
            } else if (!m_token.quoted && equals_ci(m_token.text, "ForceRemove")) {
                k.forceRemove = true;
            } else {
                break;
            }
            expect_token();
        }
        k.name = name_token(true);
        // Peek: a default value, a body, or the next key.
        const size_t mark = m_pos;
        if (next_token() && is("=")) {
            k.hasDefault = true;
            k.defaultValue = value();
        } else {
            m_pos = mark;
        }
        const size_t mark2 = m_pos;
        if (next_token() && is("{")) {
            k.children = body(&k);
        } else {
            m_pos = mark2;
        }
        return k;
    }

    Value value() {
        expect_token();
        Value v;
        if (!m_token.quoted && equals_ci(m_token.text, "s")) {
            v.type = REG_SZ;
        } else if (!m_token.quoted && equals_ci(m_token.text, "d")) {
            v.type = REG_DWORD;
        } else {
            throw BadScript{};
        }
        expect_token();
        if (is_punct_token()) {
            throw BadScript{};
        }
        if (v.type == REG_SZ) {
            v.text = m_token.text;
            return v;
        }
        // Decimal, or hexadecimal with 0x; at most 32 bits.
        const olestring& t = m_token.text;
        unsigned long long n = 0;
        size_t i = 0;
        unsigned base = 10;
        if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
            base = 16;
            i = 2;
        }
        if (i >= t.size()) {
            throw BadScript{};
        }
        for (; i < t.size(); ++i) {
            const OLECHAR c = t[i];
            unsigned digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<unsigned>(c - '0');
            } else if (base == 16 && c >= 'a' && c <= 'f') {
                digit = static_cast<unsigned>(c - 'a' + 10);
            } else if (base == 16 && c >= 'A' && c <= 'F') {
                digit = static_cast<unsigned>(c - 'A' + 10);
            } else {
                throw BadScript{};
            }
            n = n * base + digit;
            if (n > 0xFFFFFFFFull) {
                throw BadScript{};
            }
        }
        v.number = static_cast<DWORD>(n);
        return v;
    }

    olestring m_text;
    const std::vector<Replacement>& m_replacements;
    size_t m_pos = 0;
    int m_depth = 0;
    Token m_token;
};

LONG set_value(HKEY key, const OLECHAR* name, const Value& v) {
    if (v.type == REG_DWORD) {
        return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v.number),
                              sizeof v.number);
    }
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.text.c_str()),
                          static_cast<DWORD>((v.text.size() + 1) * sizeof(OLECHAR)));
}

LONG delete_tree(HKEY parent, const olestring& name) {
    LONG rc = RegDeleteTreeW(parent, name.c_str());
    if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) {
        // Some systems empty the key and keep it; the key itself goes here.
        const LONG gone = RegDeleteKeyW(parent, name.c_str());
        rc = gone == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : gone;
    }
    return rc;
}

LONG register_key(HKEY parent, const Key& k) {
    if (k.forceRemove) {
        const LONG rc = delete_tree(parent, k.name);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    platform::UniqueRegKey key;
    LONG rc = RegCreateKeyExW(parent, k.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr);
    if (rc == ERROR_SUCCESS && k.hasDefault) {
        rc = set_value(key.get(), nullptr, k.defaultValue);
    }
    for (size_t i = 0; rc == ERROR_SUCCESS && i < k.values.size(); ++i) {
        rc = set_value(key.get(), k.values[i].name.c_str(), k.values[i].value);
    }
    for (size_t i = 0; rc == ERROR_SUCCESS && i < k.children.size(); ++i) {
        rc = register_key(key.get(), k.children[i]);
    }
    return rc;
}

bool has_subkeys(HKEY key) {
    OLECHAR name[256];
    DWORD length = 256;
    return RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) !=
           ERROR_NO_MORE_ITEMS;
}

LONG unregister_key(HKEY parent, const Key& k) {
    if (k.forceRemove && !k.noRemove) {
        return delete_tree(parent, k.name);
    }
    LONG rc = ERROR_SUCCESS;
    {
        platform::UniqueRegKey key;
        const LONG open = RegOpenKeyExW(parent, k.name.c_str(), 0, KEY_ALL_ACCESS, key.put());
        if (open == ERROR_FILE_NOT_FOUND) {
            return ERROR_SUCCESS;  // already gone
        }
        if (open != ERROR_SUCCESS) {
            return open;
        }
        for (const Key& child : k.children) {
            const LONG r = unregister_key(key.get(), child);
            rc = rc == ERROR_SUCCESS ? r : rc;
        }
        for (const NamedValue& v : k.values) {
            const LONG r = RegDeleteValueW(key.get(), v.name.c_str());
            if (r != ERROR_FILE_NOT_FOUND) {
                rc = rc == ERROR_SUCCESS ? r : rc;
            }
        }
        // Keys that others added below ours keep it alive.
        if (k.noRemove || has_subkeys(key.get())) {
            return rc;
        }
    }
    const LONG r = RegDeleteKeyW(parent, k.name.c_str());
    if (r != ERROR_FILE_NOT_FOUND) {
        rc = rc == ERROR_SUCCESS ? r : rc;
    }
    return rc;
}

// The root's key for this run: the predefined key itself, or its stand-in below the sandbox.
LONG open_root(const Root& root, HKEY sandbox, platform::UniqueRegKey& owned, HKEY& out) {
    if (sandbox == nullptr) {
        out = root.predefined;
        return ERROR_SUCCESS;
    }
    const LONG rc = RegCreateKeyExW(sandbox, root.shortName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, owned.put(), nullptr);
    out = owned.get();
    return rc;
}

LONG run(const std::vector<Root>& roots, Mode mode, HKEY sandbox) {
    LONG rc = ERROR_SUCCESS;
    for (const Root& root : roots) {
        platform::UniqueRegKey owned;
        HKEY base = nullptr;
        LONG r = open_root(root, sandbox, owned, base);
        for (size_t i = 0; r == ERROR_SUCCESS && i < root.keys.size(); ++i) {
            r = mode == Mode::Register ? register_key(base, root.keys[i])
                                       : unregister_key(base, root.keys[i]);
        }
        if (r != ERROR_SUCCESS) {
            if (mode == Mode::Register) {
                return r;
            }
            rc = rc == ERROR_SUCCESS ? r : rc;  // remove what can be removed
        }
    }
    return rc;
}

olestring from_utf8(const char* text, size_t length) {
    if (length >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
        static_cast<unsigned char>(text[1]) == 0xBB &&
        static_cast<unsigned char>(text[2]) == 0xBF) {
        text += 3;
        length -= 3;
    }
    if (length == 0) {
        return olestring();
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0);
    if (n <= 0) {
        throw BadScript{};
    }
    olestring r(static_cast<size_t>(n), OLECHAR(0));
    MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), &r[0], n);
    return r;
}

}  // namespace

HRESULT RunScript(const char* script, size_t length, Mode mode,
                  const std::vector<Replacement>& replacements, HKEY sandbox) noexcept {
    if (script == nullptr) {
        return E_POINTER;
    }
    try {
        const std::vector<Root> roots = Parser(from_utf8(script, length), replacements).parse();
        const LONG rc = run(roots, mode, sandbox);
        if (rc != ERROR_SUCCESS && mode == Mode::Register) {
            (void)run(roots, Mode::Unregister, sandbox);  // leave no half registration behind
        }
        return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
    } catch (const BadScript&) {
        return DISP_E_EXCEPTION;
    } catch (const UnknownVariable&) {
        return E_INVALIDARG;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ModulePathOf(const void* address, olestring& path) noexcept {
    try {
        HMODULE self = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                static_cast<LPCWSTR>(address), &self)) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        std::vector<OLECHAR> buffer(MAX_PATH);
        for (;;) {
            const DWORD n =
                GetModuleFileNameW(self, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (n == 0) {
                return HRESULT_FROM_WIN32(GetLastError());
            }
            if (n < buffer.size()) {
                path.assign(buffer.data(), n);
                return S_OK;
            }
            if (buffer.size() >= 32768) {
                return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
            }
            buffer.resize(buffer.size() * 2);  // the name was cut off
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT RunModuleScript(const char* script, size_t length, Mode mode,
                        const void* address) noexcept {
    try {
        std::vector<Replacement> replacements(1);
        replacements[0].name = OLESTR("MODULE");
        const HRESULT hr = ModulePathOf(address, replacements[0].value);
        if (FAILED(hr)) {
            return hr;
        }
        return RunScript(script, length, mode, replacements);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace cj_registrar
