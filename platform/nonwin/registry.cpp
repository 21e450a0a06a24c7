// The registry on non-Windows platforms: one process-wide tree of keys and values behind one
// lock, reached through handles, and kept in a text file when PLATFORM_REGISTRY_FILE names one.
#include "platform/nonwin/winreg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/nonwin/registry_file.h"
#include "platform/nonwin/registry_store.h"
#include "platform/nonwin/registry_text.h"

namespace {

namespace reg = platform_registry;

// The reference's name limits, in UTF-16 units, and the system's nesting limit (which also
// bounds the recursion of writing and deleting trees).
constexpr size_t kMaxKeyName = 256;
constexpr size_t kMaxValueName = 16383;
constexpr size_t kMaxDepth = 512;

constexpr ULONG kClassesRoot = 0x80000000;
constexpr ULONG kCurrentUserRoot = 0x80000001;
constexpr ULONG kLocalMachineRoot = 0x80000002;
constexpr ULONG kUsersRoot = 0x80000003;
constexpr ULONG kFirstPredefined = 0x80000000;
constexpr ULONG kLastPredefined = 0x80000003;
constexpr ULONG_PTR kFirstHandle = 0x1000;
constexpr ULONG_PTR kLastHandle = 0x7FFFFFF0;

ULONG handle_bits(HKEY h) {
    return static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(h));
}

bool is_predefined(HKEY h) {
    return handle_bits(h) >= kFirstPredefined && handle_bits(h) <= kLastPredefined;
}

bool is_string_type(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

FILETIME now() {
    // 100 ns intervals since 1601-01-01.
    constexpr long long kEpochOffset = 116444736000000000LL;
    const auto since_1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    const auto ticks = static_cast<unsigned long long>(since_1970.count() / 100 + kEpochOffset);
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

struct Value {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::u16string name;
    Key* parent = nullptr;                                   // null for roots and deleted keys
    std::map<std::u16string, std::shared_ptr<Key>> subkeys;  // by folded name: enumeration order
    std::map<std::u16string, Value> values;                  // likewise
    FILETIME modified = now();
    bool deleted = false;
};

using KeyPtr = std::shared_ptr<Key>;

std::u16string text_of(const char16_t* s) {
    return s ? std::u16string(s) : std::u16string();
}

// Marks a key and everything below it deleted: handles that still refer to them answer
// ERROR_KEY_DELETED from now on.
void mark_deleted(Key& key) {
    for (auto& entry : key.subkeys) {
        mark_deleted(*entry.second);
    }
    key.subkeys.clear();
    key.values.clear();
    key.parent = nullptr;
    key.deleted = true;
}

// Deletes a key with its subtree (the caller's reference keeps it alive meanwhile).
void detach(const KeyPtr& key) {
    Key* parent = key->parent;
    mark_deleted(*key);
    parent->subkeys.erase(reg::fold(key->name));
    parent->modified = now();
}

// Splits a subkey path at backslashes; empty parts between or after them are skipped, as the
// reference does, but a leading backslash is a bad path.
LSTATUS split_path(const char16_t* path, std::vector<std::u16string>& parts) {
    parts.clear();
    if (path == nullptr) {
        return ERROR_SUCCESS;
    }
    if (*path == u'\\') {
        return ERROR_BAD_PATHNAME;
    }
    std::u16string part;
    for (const char16_t* p = path;; ++p) {
        if (*p == u'\\' || *p == 0) {
            if (!part.empty()) {
                parts.push_back(std::move(part));
                part.clear();
            }
            if (*p == 0) {
                return ERROR_SUCCESS;
            }
        } else {
            part.push_back(*p);
        }
    }
}

struct UniqueFd {
    explicit UniqueFd(int fd) : value(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() {
        if (value >= 0) {
            ::close(value);
        }
    }
    int release() { return std::exchange(value, -1); }
    int value;
};

// Replaces the file in one step (write a sibling, then rename), so a reader never sees it torn.
bool replace_file(const std::string& path, const std::string& text, std::string& error) {
    const std::string temp = path + "." + std::to_string(::getpid()) + ".tmp";
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    bool ok = fd.value >= 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd.value, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        done += ok ? static_cast<size_t>(n) : 0;
    }
    // On disk before it takes the old file's place, so a crash leaves one whole file or the other.
    ok = ok && ::fsync(fd.value) == 0;
    ok = ok && ::close(fd.release()) == 0 && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        error = std::strerror(errno);
        ::unlink(temp.c_str());
    }
    return ok;
}

// Reads the whole file; a missing file reads as empty.
bool read_file(const std::string& path, std::string& text, std::string& error) {
    text.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.value < 0) {
        if (errno == ENOENT) {
            return true;
        }
        error = std::strerror(errno);
        return false;
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.value, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (n == 0) {
            return true;
        }
        text.append(buf, static_cast<size_t>(n));
    }
}

class Store {
  public:
    static Store& instance() {
        static Store store;
        return store;
    }

    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(m_mutex); }

    // Everything below needs the lock.

    LSTATUS resolve(HKEY h, KeyPtr& key) {
        const ULONG bits = handle_bits(h);
        if (h == nullptr) {
            return ERROR_INVALID_HANDLE;
        }
        if (bits == kClassesRoot) {
            key = classes_root();
        } else if (bits == kCurrentUserRoot) {
            key = m_roots[reg::kCurrentUser];
        } else if (bits == kLocalMachineRoot) {
            key = m_roots[reg::kLocalMachine];
        } else if (bits == kUsersRoot) {
            key = m_roots[reg::kUsers];
        } else {
            const auto it = m_handles.find(reinterpret_cast<ULONG_PTR>(h));
            if (it == m_handles.end()) {
                return ERROR_INVALID_HANDLE;
            }
            key = it->second;
        }
        return key->deleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
    }

    HKEY add_handle(KeyPtr key) {
        while (m_handles.count(m_next_handle) != 0) {
            advance_handle();
        }
        const ULONG_PTR value = m_next_handle;
        m_handles.emplace(value, std::move(key));
        advance_handle();
        return reinterpret_cast<HKEY>(value);
    }

    bool close_handle(HKEY h) { return m_handles.erase(reinterpret_cast<ULONG_PTR>(h)) != 0; }

    // Finds or creates a subkey; created tells whether it had to be made.
    static KeyPtr child(const KeyPtr& parent, const std::u16string& name, bool* created) {
        KeyPtr& slot = parent->subkeys[reg::fold(name)];
        if (slot == nullptr) {
            slot = std::make_shared<Key>();
            slot->name = name;
            slot->parent = parent.get();
            parent->modified = slot->modified;
            if (created != nullptr) {
                *created = true;
            }
        }
        return slot;
    }

    // Writes the store to its file, if it has one, after a change. A file that was not ours to
    // replace stays as it is; the change then lasts as long as the process.
    void changed() {
        if (m_path.empty() || !m_refusal.empty()) {
            m_unsaved = m_refusal;
            return;
        }
        std::string error;
        if (!writable(error) || !replace_file(m_path, serialize(), error)) {
            if (m_unsaved.empty()) {
                std::fprintf(stderr, "platform registry: cannot write %s: %s\n", m_path.c_str(),
                             error.c_str());
            }
            m_unsaved = "cannot write " + m_path + ": " + error;
        } else {
            m_unsaved.clear();
        }
    }

    const std::string& path() const { return m_path; }
    const std::string& unsaved() const { return m_unsaved; }

  private:
    Store() {
        for (KeyPtr& root : m_roots) {
            root = std::make_shared<Key>();
        }
        const char* path = std::getenv("PLATFORM_REGISTRY_FILE");
        if (path != nullptr && *path != 0) {
            m_path = path;
            load();
        }
        classes_root();
    }

    // HKEY_CLASSES_ROOT is the machine's Software\Classes, made again if it was deleted.
    KeyPtr classes_root() {
        return child(child(m_roots[reg::kLocalMachine], u"Software", nullptr), u"Classes", nullptr);
    }

    void advance_handle() {
        m_next_handle = m_next_handle >= kLastHandle ? kFirstHandle : m_next_handle + 4;
    }

    void load() {
        std::string text;
        std::string error;
        if (!read_file(m_path, text, error)) {
            refuse("cannot read " + m_path + ": " + error);
            return;
        }
        struct Sink final : reg::StoreSink {
            explicit Sink(Store& s) : store(s) {}
            Store& store;
            KeyPtr current;
            bool key(int root, const std::vector<std::u16string>& path) override {
                if (path.size() > kMaxDepth) {
                    return false;
                }
                for (const std::u16string& part : path) {
                    if (part.size() > kMaxKeyName) {
                        return false;
                    }
                }
                current = store.m_roots[root];
                for (const std::u16string& part : path) {
                    current = child(current, part, nullptr);
                }
                return true;
            }
            bool value(const std::u16string& name, uint32_t type,
                       std::vector<uint8_t>& data) override {
                if (name.size() > kMaxValueName) {
                    return false;
                }
                current->values[reg::fold(name)] = Value{name, type, std::move(data)};
                return true;
            }
        } sink(*this);
        const reg::LoadReport report = reg::parse_store(text, sink);
        if (report.ignored != 0) {
            refuse(m_path + " is not a registry store: line " +
                   std::to_string(report.first_ignored_line) + " cannot be read: '" +
                   report.first_ignored_text + "'");
        } else if (report.keys == 0 && text.find_first_not_of(" \t\r\n") != std::string::npos &&
                   text.compare(0, kHeader.size(), kHeader) != 0) {
            // Only comments: somebody's notes, not a store we wrote.
            refuse(m_path + " is not a registry store: it holds no key");
        }
    }

    // Rewriting a file we could not wholly read would lose what we did not understand.
    void refuse(const std::string& why) {
        m_refusal = why;
        std::fprintf(stderr, "platform registry: %s; it is left unchanged\n", why.c_str());
    }

    // A store the user made read-only is not replaced behind its back (rename would).
    bool writable(std::string& error) const {
        struct stat st {};
        if (::stat(m_path.c_str(), &st) != 0) {
            if (errno == ENOENT) {
                return true;
            }
            error = std::strerror(errno);
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            error = "it is a directory";
            return false;
        }
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            error = "it is read-only";
            return false;
        }
        return true;
    }

    static constexpr std::string_view kHeader =
        "; Registry store of the platform layer (format: docs/platform.md).\n";

    std::string serialize() const {
        std::string out(kHeader);
        out += "; Rewritten after every change.\n";
        std::vector<std::u16string> path;
        for (int i = 0; i < reg::kRootCount; ++i) {
            serialize_key(out, reg::kRootNames[i], path, *m_roots[i]);
        }
        return out;
    }

    static void serialize_key(std::string& out, const char* root, std::vector<std::u16string>& path,
                              const Key& key) {
        // Roots always exist; other keys are listed even when empty, so that they survive.
        if (!path.empty() || !key.values.empty()) {
            out += '\n';
            reg::append_key_line(out, root, path);
            for (const auto& entry : key.values) {
                const Value& v = entry.second;
                reg::append_value_line(out, v.name, v.type, v.data);
            }
        }
        for (const auto& entry : key.subkeys) {
            path.push_back(entry.second->name);
            serialize_key(out, root, path, *entry.second);
            path.pop_back();
        }
    }

    std::mutex m_mutex;
    KeyPtr m_roots[reg::kRootCount];
    std::unordered_map<ULONG_PTR, KeyPtr> m_handles;
    ULONG_PTR m_next_handle = kFirstHandle;
    std::string m_path;
    std::string m_refusal;  // why the file must not be replaced
    std::string m_unsaved;  // why the last change did not reach the file
};

// Moves key down to its subkey at path (a missing part answers ERROR_FILE_NOT_FOUND).
LSTATUS find_key(KeyPtr& key, const char16_t* path) {
    std::vector<std::u16string> parts;
    const LSTATUS status = split_path(path, parts);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    for (const std::u16string& part : parts) {
        if (part.size() > kMaxKeyName) {
            return ERROR_INVALID_PARAMETER;
        }
        const auto it = key->subkeys.find(reg::fold(part));
        if (it == key->subkeys.end()) {
            return ERROR_FILE_NOT_FOUND;
        }
        key = it->second;
    }
    return ERROR_SUCCESS;
}

// One call's hold on the store: its lock, and the key behind a handle (status says whether the
// handle resolved).
struct LockedKey {
    explicit LockedKey(HKEY h) : status(store.resolve(h, key)) {}

    // Moves a resolved key down to its subkey at path.
    LSTATUS descend(const char16_t* path) {
        if (status == ERROR_SUCCESS) {
            status = find_key(key, path);
        }
        return status;
    }

    Store& store = Store::instance();
    std::unique_lock<std::mutex> lock = store.lock();
    KeyPtr key;
    LSTATUS status;
};

// Only the open path of the classes root forgives a leading backslash.
const char16_t* skip_classes_backslash(HKEY h, const char16_t* path) {
    return handle_bits(h) == kClassesRoot && path != nullptr && *path == u'\\' ? path + 1 : path;
}

const Value* find_value(const Key& key, const char16_t* name) {
    const auto it = key.values.find(reg::fold(text_of(name)));
    return it == key.values.end() ? nullptr : &it->second;
}

// Copies value data into the caller's buffer. Like the system, a string that does not end in a
// null gets one after it when the buffer has room (the reported size stays the stored one).
LSTATUS copy_data(const Value& v, BYTE* data, DWORD capacity) {
    const size_t size = v.data.size();
    if (size > capacity) {
        return ERROR_MORE_DATA;
    }
    std::copy(v.data.begin(), v.data.end(), data);
    if (is_string_type(v.type) && size >= 2 && size + 2 <= capacity &&
        (data[size - 2] != 0 || data[size - 1] != 0)) {
        data[size] = 0;
        data[size + 1] = 0;
    }
    return ERROR_SUCCESS;
}

LSTATUS open_key(HKEY hKey, const char16_t* subkey, PHKEY result) {
    if (result != nullptr && (subkey == nullptr || *subkey == 0) && is_predefined(hKey)) {
        *result = hKey;
        return ERROR_SUCCESS;
    }
    subkey = skip_classes_backslash(hKey, subkey);
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    LockedKey k(hKey);
    const LSTATUS status = k.descend(subkey);
    if (status == ERROR_SUCCESS) {
        *result = k.store.add_handle(std::move(k.key));
    }
    return status;
}

LSTATUS create_key(HKEY hKey, const char16_t* subkey, DWORD reserved, PHKEY result,
                   LPDWORD disposition) {
    if (reserved != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    LockedKey k(hKey);
    if (k.status != ERROR_SUCCESS) {
        return k.status;
    }
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<std::u16string> parts;
    const LSTATUS status = split_path(subkey, parts);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    size_t depth = parts.size();
    for (const Key* up = k.key.get(); up->parent != nullptr; up = up->parent) {
        ++depth;
    }
    for (const std::u16string& part : parts) {
        if (part.size() > kMaxKeyName || depth > kMaxDepth) {
            return ERROR_INVALID_PARAMETER;
        }
    }
    bool created = false;
    for (const std::u16string& part : parts) {
        k.key = Store::child(k.key, part, &created);
    }
    if (created) {
        k.store.changed();
    }
    *result = k.store.add_handle(std::move(k.key));
    if (disposition != nullptr) {
        // The reference reports an empty path (the key itself) as created too.
        *disposition = created || parts.empty() ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return ERROR_SUCCESS;
}

// Data and sizes in 16-bit form; the narrow query converts strings afterwards.
LSTATUS set_value(HKEY hKey, const char16_t* name, DWORD type, const BYTE* data, DWORD size) {
    LockedKey k(hKey);
    if (k.status != ERROR_SUCCESS) {
        return k.status;
    }
    std::u16string text = text_of(name);
    if (text.size() > kMaxValueName) {
        return ERROR_INVALID_PARAMETER;
    }
    auto [it, inserted] = k.key->values.try_emplace(reg::fold(text));
    Value& v = it->second;
    if (inserted) {
        v.name = std::move(text);  // a replaced value keeps the spelling it was created with
    }
    v.type = type;
    v.data.clear();
    if (size != 0) {
        v.data.assign(data, data + size);
    }
    k.key->modified = now();
    k.store.changed();
    return ERROR_SUCCESS;
}

// A pointer into the first 64 KiB is never valid; the system answers as for a fault.
bool is_bad_pointer(const void* p, DWORD size) {
    return (p != nullptr && (reinterpret_cast<ULONG_PTR>(p) >> 16) == 0) ||
           (p == nullptr && size != 0);
}

LSTATUS delete_key(HKEY hKey, const char16_t* subkey) {
    if (subkey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    LockedKey k(hKey);
    if (k.descend(subkey) != ERROR_SUCCESS) {
        return k.status;
    }
    if (k.key->parent == nullptr || !k.key->subkeys.empty()) {
        return ERROR_ACCESS_DENIED;
    }
    detach(k.key);
    k.store.changed();
    return ERROR_SUCCESS;
}

LSTATUS delete_tree(HKEY hKey, const char16_t* subkey) {
    const bool whole = subkey != nullptr && *subkey != 0;
    subkey = skip_classes_backslash(hKey, subkey);
    LockedKey k(hKey);
    if (k.descend(subkey) != ERROR_SUCCESS) {
        return k.status;
    }
    if (whole && k.key->parent != nullptr) {
        detach(k.key);
    } else {
        // Without a subkey the key itself stays, emptied.
        for (auto& entry : k.key->subkeys) {
            mark_deleted(*entry.second);
        }
        k.key->subkeys.clear();
        k.key->values.clear();
        k.key->modified = now();
    }
    k.store.changed();
    return ERROR_SUCCESS;
}

// Names of the index-th subkey: in 16-bit units, or narrowed.
template <typename Char>
LSTATUS enum_key(HKEY hKey, DWORD index, Char* name, LPDWORD name_size, LPDWORD reserved,
                 Char* class_name, LPDWORD class_size, PFILETIME last_write) {
    if (reserved != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const LockedKey k(hKey);
    if (k.status != ERROR_SUCCESS) {
        return k.status;
    }
    if (name == nullptr || name_size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (index >= k.key->subkeys.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const Key& sub = *std::next(k.key->subkeys.begin(), index)->second;
    if (last_write != nullptr) {
        *last_write = sub.modified;
    }
    std::basic_string<Char> text;
    if constexpr (sizeof(Char) == 1) {
        text = reg::utf16_to_utf8(sub.name.data(), sub.name.size());
    } else {
        text = sub.name;
    }
    // Keys have no class: it is empty, but still needs room for its null.
    if (text.size() >= *name_size ||
        (class_name != nullptr && class_size != nullptr && *class_size == 0)) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(name, text.c_str(), (text.size() + 1) * sizeof(Char));
    *name_size = static_cast<DWORD>(text.size());
    if (class_size != nullptr) {
        *class_size = 0;
        if (class_name != nullptr) {
            *class_name = 0;
        }
    }
    return ERROR_SUCCESS;
}

// Copies a string value narrowed; size becomes the narrowed text's. A trailing odd byte is
// dropped.
LSTATUS copy_narrowed(const Value& v, BYTE* data, DWORD capacity, size_t& size) {
    const std::u16string units = reg::units_of(v.data);
    const std::string text = reg::utf16_to_utf8(units.data(), units.size());
    size = text.size();
    if (data == nullptr || size == 0) {
        return ERROR_SUCCESS;
    }
    if (size > capacity) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, text.data(), size);
    if (size < capacity && data[size - 1] != 0) {
        data[size] = 0;
    }
    return ERROR_SUCCESS;
}

// A value's type, data and size; a narrow query converts strings and reports REG_NONE as the
// type of a value it does not find.
LSTATUS query_value(HKEY hKey, const char16_t* name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                    LPDWORD size, bool narrow) {
    if ((data != nullptr && size == nullptr) || reserved != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const LockedKey k(hKey);
    if (k.status != ERROR_SUCCESS) {
        return k.status;
    }
    const DWORD capacity = size != nullptr ? *size : 0;
    if (data == nullptr && size != nullptr) {
        *size = 0;
    }
    if (narrow && type != nullptr) {
        *type = REG_NONE;
    }
    const Value* v = find_value(*k.key, name);
    if (v == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    LSTATUS status = ERROR_SUCCESS;
    size_t reported = v->data.size();
    if (narrow && is_string_type(v->type)) {
        status = copy_narrowed(*v, data, capacity, reported);
    } else if (data != nullptr) {
        status = copy_data(*v, data, capacity);
    }
    if (type != nullptr) {
        *type = v->type;
    }
    if (size != nullptr) {
        *size = static_cast<DWORD>(reported);
    }
    return status;
}

// Converts a narrow name (null stays null) to UTF-16.
class WideName {
  public:
    explicit WideName(const char* s) : m_null(s == nullptr) {
        if (s != nullptr) {
            m_text = reg::utf8_to_utf16(s, std::strlen(s));
        }
    }
    const char16_t* get() const { return m_null ? nullptr : m_text.c_str(); }

  private:
    bool m_null;
    std::u16string m_text;
};

}  // namespace

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    return open_key(hKey, lpSubKey, phkResult);
}

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    return open_key(hKey, WideName(lpSubKey).get(), phkResult);
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR, DWORD, REGSAM,
                        const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
    return create_key(hKey, lpSubKey, Reserved, phkResult, lpdwDisposition);
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR, DWORD, REGSAM,
                        const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
    return create_key(hKey, WideName(lpSubKey).get(), Reserved, phkResult, lpdwDisposition);
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData) {
    return query_value(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData, false);
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData) {
    return query_value(hKey, WideName(lpValueName).get(), lpReserved, lpType, lpData, lpcbData,
                       true);
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
    if (is_bad_pointer(lpData, cbData)) {
        return ERROR_NOACCESS;
    }
    // The system also adds a null when the unit right after the data happens to be one; that
    // reads past the caller's buffer, so the data are stored as given instead.
    return set_value(hKey, lpValueName, dwType, lpData, cbData);
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
    if (is_bad_pointer(lpData, cbData)) {
        return ERROR_NOACCESS;
    }
    if (!is_string_type(dwType)) {
        return set_value(hKey, WideName(lpValueName).get(), dwType, lpData, cbData);
    }
    const std::u16string text =
        cbData != 0 ? reg::utf8_to_utf16(reinterpret_cast<const char*>(lpData), cbData)
                    : std::u16string();
    const auto* first = reinterpret_cast<const BYTE*>(text.data());
    const std::vector<BYTE> bytes(first, first + text.size() * 2);
    return set_value(hKey, WideName(lpValueName).get(), dwType, bytes.data(),
                     static_cast<DWORD>(bytes.size()));
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    LockedKey k(hKey);
    if (k.status != ERROR_SUCCESS) {
        return k.status;
    }
    if (k.key->values.erase(reg::fold(text_of(lpValueName))) == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    k.key->modified = now();
    k.store.changed();
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    return RegDeleteValueW(hKey, WideName(lpValueName).get());
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    return delete_key(hKey, lpSubKey);
}

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    return delete_key(hKey, WideName(lpSubKey).get());
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
    return delete_tree(hKey, lpSubKey);
}

LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
    return delete_tree(hKey, WideName(lpSubKey).get());
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                      LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                      PFILETIME lpftLastWriteTime) {
    return enum_key(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                    lpftLastWriteTime);
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                      LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    return enum_key(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                    lpftLastWriteTime);
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                      LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr) ||
        lpValueName == nullptr || lpcchValueName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const LockedKey k(hKey);
    if (k.status != ERROR_SUCCESS) {
        return k.status;
    }
    if (dwIndex >= k.key->values.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const Value& v = std::next(k.key->values.begin(), dwIndex)->second;
    LSTATUS status = ERROR_SUCCESS;
    if (v.name.size() >= *lpcchValueName) {
        status = ERROR_MORE_DATA;  // the name's size is not reported; type and data size are
    } else {
        std::memcpy(lpValueName, v.name.c_str(), (v.name.size() + 1) * sizeof(char16_t));
        *lpcchValueName = static_cast<DWORD>(v.name.size());
        if (lpData != nullptr) {
            status = copy_data(v, lpData, *lpcbData);
        }
    }
    if (lpType != nullptr) {
        *lpType = v.type;
    }
    if (lpcbData != nullptr) {
        *lpcbData = static_cast<DWORD>(v.data.size());
    }
    return status;
}

LSTATUS RegCloseKey(HKEY hKey) {
    if (hKey == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (reinterpret_cast<ULONG_PTR>(hKey) >= kFirstPredefined) {
        return ERROR_SUCCESS;  // predefined keys are never closed
    }
    Store& store = Store::instance();
    const auto lock = store.lock();
    return store.close_handle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace platform_registry {

std::string store_path() {
    Store& store = Store::instance();
    const auto lock = store.lock();
    return store.path();
}

std::string store_problem() {
    Store& store = Store::instance();
    const auto lock = store.lock();
    return store.unsaved();
}

}  // namespace platform_registry
