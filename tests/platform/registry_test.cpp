// Registry: value types and sizes, names and paths, deletion, enumeration, the classes view and
// the narrow functions, as Wine answers them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/winapi.h"
#include "support/wstr.h"

namespace {

using testing_support::olestring;
using Bytes = std::vector<BYTE>;
using Names = std::vector<olestring>;

olestring wide(const std::string& ascii) {
    return olestring(ascii.begin(), ascii.end());
}

// The bytes of n characters, nulls included as written.
template <typename Char>
Bytes bytes(const Char* s, size_t n) {
    const auto* p = reinterpret_cast<const BYTE*>(s);
    return Bytes(p, p + n * sizeof(Char));
}

template <typename Char>
const BYTE* data_of(const Char* s) {
    return reinterpret_cast<const BYTE*>(s);
}

// Each test works below its own key of HKEY_CURRENT_USER, removed afterwards: under Wine the
// registry outlives the test.
class RegistryTest : public testing::Test {
  protected:
    void SetUp() override {
        m_path = wide(std::string("Software\\CjPlatformTests\\") +
                      testing::UnitTest::GetInstance()->current_test_info()->name());
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &m_root, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        EXPECT_EQ(RegCloseKey(m_root), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str()), ERROR_SUCCESS);
        // Fails while another test still has a key there, which is fine.
        RegDeleteKeyW(HKEY_CURRENT_USER, OLESTR("Software\\CjPlatformTests"));
    }

    HKEY create(const OLECHAR* path, DWORD* disposition = nullptr, HKEY parent = nullptr) {
        HKEY h = nullptr;
        EXPECT_EQ(RegCreateKeyExW(parent ? parent : m_root, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &h, disposition),
                  ERROR_SUCCESS);
        return h;
    }
    // Creates a key and closes it again.
    LSTATUS make(const OLECHAR* path, DWORD* disposition = nullptr, HKEY parent = nullptr) {
        HKEY h = nullptr;
        const LSTATUS status = RegCreateKeyExW(parent ? parent : m_root, path, 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, &h, disposition);
        if (status == ERROR_SUCCESS) {
            RegCloseKey(h);
        }
        return status;
    }
    // The disposition of creating a key that must be creatable.
    DWORD made(const OLECHAR* path) {
        DWORD disposition = 0;
        EXPECT_EQ(make(path, &disposition), ERROR_SUCCESS) << testing_support::narrow(path, 8);
        return disposition;
    }
    LSTATUS open(const OLECHAR* path, HKEY parent = nullptr) {
        HKEY h = nullptr;
        const LSTATUS status = RegOpenKeyExW(parent ? parent : m_root, path, 0, KEY_READ, &h);
        if (status == ERROR_SUCCESS) {
            RegCloseKey(h);
        }
        return status;
    }
    // Stores the bytes exactly: what follows them is not a null the system would add.
    void set(const OLECHAR* name, DWORD type, const Bytes& data) {
        Bytes padded(data);
        padded.insert(padded.end(), {0xFF, 0xFF});
        ASSERT_EQ(RegSetValueExW(m_root, name, 0, type, padded.data(), DWORD(data.size())),
                  ERROR_SUCCESS);
    }
    LSTATUS query(const OLECHAR* name, DWORD* type, void* data, DWORD* size) {
        return RegQueryValueExW(m_root, name, nullptr, type, static_cast<BYTE*>(data), size);
    }
    LSTATUS query_a(const char* name, DWORD* type, void* data, DWORD* size) {
        return RegQueryValueExA(m_root, name, nullptr, type, static_cast<BYTE*>(data), size);
    }
    // The size a query without buffer reports, or ~0u when it fails.
    DWORD stored_size(const OLECHAR* name, DWORD* type = nullptr) {
        DWORD size = 12345;
        return query(name, type, nullptr, &size) == ERROR_SUCCESS ? size : ~0u;
    }
    DWORD narrow_size(const char* name) {
        DWORD size = 12345;
        return query_a(name, nullptr, nullptr, &size) == ERROR_SUCCESS ? size : ~0u;
    }
    // Subkey (or value) names in enumeration order.
    static Names names(HKEY h, bool values = false) {
        Names names;
        OLECHAR name[300];
        for (DWORD i = 0;; ++i) {
            DWORD n = 300;
            const LSTATUS status =
                values ? RegEnumValueW(h, i, name, &n, nullptr, nullptr, nullptr, nullptr)
                       : RegEnumKeyExW(h, i, name, &n, nullptr, nullptr, nullptr, nullptr);
            if (status != ERROR_SUCCESS) {
                EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
                return names;
            }
            names.emplace_back(name, n);
        }
    }

    HKEY m_root = nullptr;
    olestring m_path;
};

struct TypeCase {
    const char* name;
    DWORD type;
    Bytes data;
};

TEST_F(RegistryTest, ValuesKeepTypeAndBytesAndReportNeededSizes) {
    const TypeCase cases[] = {
        {"dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
        {"short dword", REG_DWORD, {1, 2}},
        {"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"odd binary", REG_BINARY, {0xFF, 0x00, 0x7F}},
        {"empty binary", REG_BINARY, {}},
        {"string", REG_SZ, bytes(OLESTR("text"), 5)},
        {"embedded null", REG_SZ, bytes(OLESTR("a\0b"), 4)},
        {"unterminated", REG_SZ, bytes(OLESTR("ab"), 2)},
        {"expand", REG_EXPAND_SZ, bytes(OLESTR("%PATH%;x"), 9)},
        {"multi", REG_MULTI_SZ, bytes(OLESTR("a\0bc\0"), 6)},
        {"none", REG_NONE, {9}},
        {"unknown type", 0x12345, {1, 2, 3}},
    };
    for (const TypeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const olestring name = wide(c.name);
        set(name.c_str(), c.type, c.data);
        const DWORD size = DWORD(c.data.size());
        DWORD type = 0;
        EXPECT_EQ(stored_size(name.c_str(), &type), size);
        EXPECT_EQ(type, c.type);

        // Too small: the needed size and the type come back, the buffer stays untouched.
        for (const bool fits : {true, size == 0}) {  // an empty value is never too big
            Bytes buffer(size + 1, 0xCC);
            DWORD capacity = fits ? size : size - 1;
            type = 0;
            EXPECT_EQ(query(name.c_str(), &type, buffer.data(), &capacity),
                      fits ? ERROR_SUCCESS : ERROR_MORE_DATA);
            EXPECT_EQ(capacity, size);
            EXPECT_EQ(type, c.type);
            buffer.pop_back();
            EXPECT_EQ(buffer, fits ? c.data : Bytes(size, 0xCC));
        }
    }
}

struct StringSizeCase {
    const char* name;
    DWORD type;
    const OLECHAR* text;  // what follows the counted bytes matters
    DWORD bytes;
    DWORD stored;
};

TEST_F(RegistryTest, StringSizesAreKeptAsGiven) {
    // (A string whose size leaves out a null that follows it in memory is not here: the system
    // adds that null by reading past the data, which our layer does not do.)
    const StringSizeCase cases[] = {
        {"null counted", REG_SZ, OLESTR("abc"), 8, 8},
        {"odd size", REG_SZ, OLESTR("abc"), 5, 5},
        {"text follows", REG_SZ, OLESTR("abxyz"), 6, 6},
        {"expand", REG_EXPAND_SZ, OLESTR("abxyz"), 6, 6},
        {"multi", REG_MULTI_SZ, OLESTR("ab\0\0"), 8, 8},
        {"binary", REG_BINARY, OLESTR("abc"), 6, 6},
        {"empty", REG_SZ, OLESTR("abc"), 0, 0},
    };
    for (const StringSizeCase& c : cases) {
        const olestring name = wide(c.name);
        ASSERT_EQ(RegSetValueExW(m_root, name.c_str(), 0, c.type, data_of(c.text), c.bytes),
                  ERROR_SUCCESS);
        EXPECT_EQ(stored_size(name.c_str()), c.stored) << c.name;
    }

    // Reading an unterminated string puts a null after it when the buffer has room for one.
    auto fourth_unit_read = [this](const OLECHAR* name, DWORD capacity) {
        olestring buffer(8, OLECHAR('X'));
        EXPECT_EQ(query(name, nullptr, &buffer[0], &capacity), ERROR_SUCCESS);
        return buffer[3];
    };
    for (DWORD capacity : {16u, 8u, 7u}) {
        EXPECT_EQ(fourth_unit_read(OLESTR("text follows"), capacity),
                  capacity >= 8 ? 0 : OLECHAR('X'))
            << capacity;
    }
    EXPECT_EQ(fourth_unit_read(OLESTR("binary"), 16), OLECHAR('X'));
}

TEST_F(RegistryTest, MissingValuesAndBadArguments) {
    // Without a buffer the size is cleared before the lookup; with one it is left alone. Only
    // the narrow query resets the type.
    BYTE buffer[4];
    for (bool with_buffer : {false, true}) {
        DWORD type = 77, size = 99;
        BYTE* data = with_buffer ? buffer : nullptr;
        EXPECT_EQ(query(OLESTR("nope"), &type, data, &size), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(size, with_buffer ? 99u : 0u);
        EXPECT_EQ(type, 77u);
        size = 99;
        EXPECT_EQ(query_a("nope", &type, data, &size), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(size, with_buffer ? 99u : 0u);
        EXPECT_EQ(type, DWORD(REG_NONE));
    }
    DWORD reserved = 0, size = 4;
    EXPECT_EQ(query(nullptr, nullptr, buffer, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(query_a(nullptr, nullptr, buffer, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(m_root, nullptr, &reserved, nullptr, nullptr, &size),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteValueW(m_root, OLESTR("nope")), ERROR_FILE_NOT_FOUND);

    // A size without data is a fault; no data at all is an empty value.
    EXPECT_EQ(RegSetValueExW(m_root, OLESTR("v"), 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    EXPECT_EQ(RegSetValueExA(m_root, "v", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    EXPECT_EQ(stored_size(OLESTR("v")), ~0u);
    EXPECT_EQ(RegSetValueExW(m_root, OLESTR("v"), 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(stored_size(OLESTR("v")), 0u);

    // The default value is named by null and by the empty string alike.
    EXPECT_EQ(stored_size(nullptr), ~0u);
    set(nullptr, REG_SZ, bytes(OLESTR("d"), 2));
    EXPECT_EQ(stored_size(OLESTR("")), 4u);
    EXPECT_EQ(narrow_size(nullptr), 2u);
    EXPECT_EQ(names(m_root, true), (Names{OLESTR(""), OLESTR("v")}));
    EXPECT_EQ(RegDeleteValueA(m_root, ""), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(m_root, nullptr), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheFirstSpelling) {
    make(OLESTR("MiXed\\Sub"));
    EXPECT_EQ(made(OLESTR("mixed")), DWORD(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(names(m_root), Names{OLESTR("MiXed")});
    EXPECT_EQ(open(OLESTR("mIxEd\\SUB")), ERROR_SUCCESS);

    set(OLESTR("Value"), REG_DWORD, {1, 0, 0, 0});
    set(OLESTR("VALUE"), REG_DWORD, {2, 0, 0, 0});
    EXPECT_EQ(names(m_root, true), Names{OLESTR("Value")});
    DWORD v = 0, size = 4;
    ASSERT_EQ(query(OLESTR("vAlUe"), nullptr, &v, &size), ERROR_SUCCESS);
    EXPECT_EQ(v, 2u);

    // Beyond ASCII: one-to-one case pairs only.
    const struct {
        const OLECHAR* created;
        const OLECHAR* looked_up;
        bool same;
    } pairs[] = {
        {OLESTR("\u00e9t\u00e9"), OLESTR("\u00c9T\u00c9"), true},
        {OLESTR("\u00ff"), OLESTR("\u0178"), true},
        {OLESTR("\u0434"), OLESTR("\u0414"), true},
        {OLESTR("\uff41"), OLESTR("\uff21"), true},
        {OLESTR("\u00df"), OLESTR("SS"), false},
        {OLESTR("\u0131"), OLESTR("I"), false},
        {OLESTR("\u03c2"), OLESTR("\u03a3"), false},
    };
    for (const auto& p : pairs) {
        make(p.created);
        EXPECT_EQ(open(p.looked_up), p.same ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND)
            << testing_support::narrow(p.created, olestring(p.created).size());
    }
}

TEST_F(RegistryTest, PathsAndTheHandlesOpenAndCreateGive) {
    EXPECT_EQ(made(OLESTR("a\\\\b\\")), DWORD(REG_CREATED_NEW_KEY));  // empty parts are skipped
    EXPECT_EQ(names(m_root), Names{OLESTR("a")});
    EXPECT_EQ(made(OLESTR("a\\b\\c\\d")), DWORD(REG_CREATED_NEW_KEY));
    EXPECT_EQ(made(OLESTR("A\\B\\C\\")), DWORD(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(open(OLESTR("a\\b\\c\\d\\e")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(open(OLESTR("\\a")), ERROR_BAD_PATHNAME);
    EXPECT_EQ(make(OLESTR("\\x")), ERROR_BAD_PATHNAME);
    const olestring too_long(257, OLECHAR('k'));
    EXPECT_EQ(make(too_long.substr(1).c_str()), ERROR_SUCCESS);
    EXPECT_EQ(make(too_long.c_str()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(open(too_long.c_str()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(open((OLESTR("missing\\") + too_long).c_str()), ERROR_FILE_NOT_FOUND);
    const BYTE one[4] = {1};
    EXPECT_EQ(RegSetValueExW(m_root, olestring(16384, 'v').c_str(), 0, REG_DWORD, one, 4),
              ERROR_INVALID_PARAMETER);

    HKEY h = reinterpret_cast<HKEY>(ULONG_PTR(1));
    EXPECT_EQ(RegOpenKeyExW(m_root, OLESTR("missing"), 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(RegOpenKeyExW(m_root, OLESTR("a"), 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExW(m_root, OLESTR("x"), 1, nullptr, 0, 0, nullptr, &h, nullptr),
              ERROR_INVALID_PARAMETER);
    // A predefined key without subkey comes back as it is; any other key as a new handle,
    // which Wine reports as created.
    for (const OLECHAR* empty : {static_cast<const OLECHAR*>(nullptr), OLESTR("")}) {
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, empty, 0, KEY_READ, &h), ERROR_SUCCESS);
        EXPECT_EQ(h, HKEY_CURRENT_USER);
    }
    ASSERT_EQ(RegOpenKeyExA(m_root, "", 0, KEY_READ, &h), ERROR_SUCCESS);
    EXPECT_NE(h, m_root);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    DWORD disposition = 0;
    h = create(nullptr, &disposition);
    EXPECT_NE(h, m_root);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    EXPECT_EQ(RegSetValueExW(h, OLESTR("v"), 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(stored_size(OLESTR("v")), 0u);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
}

// The answers of every function to a handle (that should not work).
std::vector<LSTATUS> answers_to(HKEY h) {
    HKEY out = nullptr;
    OLECHAR name[8];
    DWORD name_size = 8, size = 4;
    BYTE data[4] = {};
    return {
        RegOpenKeyExW(h, OLESTR("x"), 0, KEY_READ, &out),
        RegCreateKeyExW(h, OLESTR("x"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
        RegQueryValueExW(h, OLESTR("x"), nullptr, nullptr, data, &size),
        RegQueryValueExA(h, "x", nullptr, nullptr, nullptr, &size),
        RegSetValueExW(h, OLESTR("x"), 0, REG_BINARY, data, 4),
        RegSetValueExA(h, "x", 0, REG_BINARY, data, 4),
        RegDeleteValueW(h, OLESTR("x")),
        RegDeleteKeyW(h, OLESTR("")),
        RegDeleteTreeW(h, nullptr),
        RegEnumKeyExW(h, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr),
        RegEnumValueW(h, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr),
    };
}

TEST_F(RegistryTest, InvalidAndDeletedHandles) {
    // Checked at once: the system reuses the values of closed handles.
    HKEY closed = create(OLESTR("closed"));
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(closed, nullptr, nullptr, nullptr, nullptr, &size),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    auto expect_all = [](HKEY h, LSTATUS answer, LSTATUS close) {
        const std::vector<LSTATUS> answers = answers_to(h);
        EXPECT_EQ(answers, std::vector<LSTATUS>(answers.size(), answer));
        EXPECT_EQ(RegCloseKey(h), close);
    };
    expect_all(nullptr, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE);
    expect_all(reinterpret_cast<HKEY>(ULONG_PTR(0x12340)), ERROR_INVALID_HANDLE,
               ERROR_INVALID_HANDLE);

    // A deleted key stays deleted for its handles, even once a key of its name is made again.
    HKEY gone = create(OLESTR("gone"));
    HKEY inner = create(OLESTR("tree\\a\\b"));
    ASSERT_EQ(RegDeleteKeyW(m_root, OLESTR("gone")), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeW(m_root, OLESTR("tree")), ERROR_SUCCESS);
    make(OLESTR("gone"));
    expect_all(gone, ERROR_KEY_DELETED, ERROR_SUCCESS);
    expect_all(inner, ERROR_KEY_DELETED, ERROR_SUCCESS);
}

TEST_F(RegistryTest, DeleteRules) {
    make(OLESTR("parent\\child"));
    EXPECT_EQ(RegDeleteKeyW(m_root, OLESTR("parent")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, OLESTR("")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(m_root, OLESTR("missing")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(m_root, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyW(m_root, OLESTR("\\parent\\child")), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegDeleteKeyW(m_root, OLESTR("PARENT\\Child")), ERROR_SUCCESS);
    EXPECT_EQ(names(m_root), Names{OLESTR("parent")});

    HKEY self = create(OLESTR("self"));
    EXPECT_EQ(RegDeleteKeyW(self, OLESTR("")), ERROR_SUCCESS);  // the key of the handle
    EXPECT_EQ(open(OLESTR("self")), ERROR_FILE_NOT_FOUND);
    RegCloseKey(self);

    make(OLESTR("tree\\a\\b"));
    make(OLESTR("tree\\c"));
    EXPECT_EQ(RegDeleteTreeW(m_root, OLESTR("tree\\missing")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeA(m_root, "TREE"), ERROR_SUCCESS);
    EXPECT_EQ(open(OLESTR("tree")), ERROR_FILE_NOT_FOUND);

    // Without a subkey the tree below goes; the key and its handle stay.
    for (const OLECHAR* empty : {static_cast<const OLECHAR*>(nullptr), OLESTR("")}) {
        make(OLESTR("kept\\sub\\deeper"));
        HKEY key = create(OLESTR("kept"));
        ASSERT_EQ(RegSetValueExW(key, OLESTR("v"), 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteTreeW(key, empty), ERROR_SUCCESS);
        EXPECT_EQ(names(key), Names());
        EXPECT_EQ(names(key, true), Names());
        EXPECT_EQ(open(OLESTR("kept")), ERROR_SUCCESS);
        RegCloseKey(key);
    }
}

TEST_F(RegistryTest, EnumerationIsSortedIgnoringCaseAndBounded) {
    for (const OLECHAR* name : {OLESTR("zk"), OLESTR("Bk"), OLESTR("a")}) {
        make(name);
        set(name, REG_BINARY, {1, 2, 3, 4, 5});
    }
    EXPECT_EQ(names(m_root), (Names{OLESTR("a"), OLESTR("Bk"), OLESTR("zk")}));
    EXPECT_EQ(names(m_root, true), (Names{OLESTR("a"), OLESTR("Bk"), OLESTR("zk")}));

    // A name needs room for its null; without it the count stays as it was. Keys have no class.
    OLECHAR name[8];
    char narrow[8];
    OLECHAR class_name[8] = {OLECHAR('X')};
    DWORD class_size = 8;
    for (DWORD size : {2u, 3u}) {
        const LSTATUS expected = size == 2 ? ERROR_MORE_DATA : ERROR_SUCCESS;
        DWORD n = size, m = size;
        EXPECT_EQ(RegEnumKeyExW(m_root, 1, name, &n, nullptr, class_name, &class_size, nullptr),
                  expected);
        EXPECT_EQ(RegEnumKeyExA(m_root, 1, narrow, &m, nullptr, nullptr, nullptr, nullptr),
                  expected);
        EXPECT_EQ(n + m, 4u);
    }
    EXPECT_EQ(olestring(name), OLESTR("Bk"));
    EXPECT_STREQ(narrow, "Bk");
    EXPECT_EQ(class_size, 0u);
    EXPECT_EQ(class_name[0], 0);
    DWORD size = 8;
    EXPECT_EQ(RegEnumKeyExA(m_root, 3, narrow, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    // Values: a short name buffer still reports type and data size; a short data buffer
    // reports them after copying the name.
    DWORD type = 0, data_size = 99;
    BYTE data[4];
    size = 2;
    EXPECT_EQ(RegEnumValueW(m_root, 1, name, &size, nullptr, &type, nullptr, &data_size),
              ERROR_MORE_DATA);
    EXPECT_EQ(std::vector<DWORD>({size, type, data_size}), std::vector<DWORD>({2, REG_BINARY, 5}));
    size = 8;
    data_size = 4;
    EXPECT_EQ(RegEnumValueW(m_root, 1, name, &size, nullptr, &type, data, &data_size),
              ERROR_MORE_DATA);
    EXPECT_EQ(olestring(name, size), OLESTR("Bk"));
    EXPECT_EQ(data_size, 5u);
    DWORD reserved = 0;
    EXPECT_EQ(RegEnumValueW(m_root, 0, nullptr, &size, nullptr, &type, nullptr, &data_size),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegEnumValueW(m_root, 0, name, &size, &reserved, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegEnumKeyExW(m_root, 0, name, &size, &reserved, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, ClassesRootIsTheMachineClassesKey) {
    const olestring name = OLESTR("CjPlatformTests.ClassesRoot");
    const olestring machine_path = OLESTR("Software\\Classes\\") + name;
    RegDeleteTreeW(HKEY_CLASSES_ROOT, name.c_str());

    HKEY classes = create((name + OLESTR("\\CLSID")).c_str(), nullptr, HKEY_CLASSES_ROOT);
    ASSERT_EQ(RegSetValueExW(classes, nullptr, 0, REG_SZ, data_of(OLESTR("x")), 4), ERROR_SUCCESS);
    DWORD disposition = 0;
    HKEY machine =
        create((machine_path + OLESTR("\\clsid")).c_str(), &disposition, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    ASSERT_EQ(RegSetValueExW(machine, OLESTR("m"), 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(names(machine, true), (Names{OLESTR(""), OLESTR("m")}));
    EXPECT_EQ(names(classes, true), (Names{OLESTR(""), OLESTR("m")}));
    RegCloseKey(machine);
    RegCloseKey(classes);

    // Only opening below the classes root forgives a leading backslash.
    EXPECT_EQ(open((OLESTR("\\") + name).c_str(), HKEY_CLASSES_ROOT), ERROR_SUCCESS);
    EXPECT_EQ(make((OLESTR("\\") + name).c_str(), nullptr, HKEY_CLASSES_ROOT), ERROR_BAD_PATHNAME);
    // The user's classes are not part of the view.
    EXPECT_EQ(open((OLESTR("Software\\Classes\\") + name).c_str(), HKEY_CURRENT_USER),
              ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, machine_path.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(open(name.c_str(), HKEY_CLASSES_ROOT), ERROR_FILE_NOT_FOUND);
}

struct NarrowRead {
    const char* name;
    DWORD capacity;
    LSTATUS status;
    DWORD size;
    const char* buffer;  // all 8 bytes afterwards
};

TEST_F(RegistryTest, NarrowAndWideFunctionsMeet) {
    // Narrow strings are widened on the way in.
    ASSERT_EQ(RegSetValueExA(m_root, "Counted", 0, REG_SZ, data_of("hello"), 6), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(m_root, "Multi", 0, REG_MULTI_SZ, data_of("a\0bc\0\0"), 7),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(m_root, "Binary", 0, REG_BINARY, data_of("hello"), 5), ERROR_SUCCESS);
    EXPECT_EQ(stored_size(OLESTR("COUNTED")), 12u);
    EXPECT_EQ(stored_size(OLESTR("multi")), 14u);
    EXPECT_EQ(stored_size(OLESTR("binary")), 5u);
    OLECHAR wide_text[8] = {};
    DWORD size = sizeof wide_text;
    ASSERT_EQ(query(OLESTR("counted"), nullptr, wide_text, &size), ERROR_SUCCESS);
    EXPECT_EQ(olestring(wide_text, size / sizeof(OLECHAR)), olestring(OLESTR("hello"), 6));

    // And narrowed on the way out: sizes are those of the narrow text.
    set(OLESTR("unterminated"), REG_SZ, bytes(OLESTR("abx"), 3));
    set(OLESTR("odd"), REG_SZ, Bytes{'a', 0, 'b', 0, 'c'});
    set(OLESTR("empty"), REG_SZ, {});
    set(OLESTR("dword"), REG_DWORD, {'1', '2', '3', '4'});
    EXPECT_EQ(narrow_size("odd"), 2u);
    const NarrowRead reads[] = {
        {"counted", 8, ERROR_SUCCESS, 6, "hello\0XX"},
        {"multi", 8, ERROR_SUCCESS, 7, "a\0bc\0\0\0X"},
        {"unterminated", 4, ERROR_SUCCESS, 3, "abx\0XXXX"},
        {"unterminated", 3, ERROR_SUCCESS, 3, "abxXXXXX"},
        {"unterminated", 2, ERROR_MORE_DATA, 3, "XXXXXXXX"},
        {"empty", 8, ERROR_SUCCESS, 0, "XXXXXXXX"},
        {"binary", 4, ERROR_MORE_DATA, 5, "XXXXXXXX"},
        {"dword", 4, ERROR_SUCCESS, 4, "1234XXXX"},
    };
    for (const NarrowRead& r : reads) {
        Bytes buffer(8, 'X');
        DWORD type = 0;
        size = r.capacity;
        SCOPED_TRACE(std::string(r.name) + " " + std::to_string(r.capacity));
        EXPECT_EQ(query_a(r.name, &type, buffer.data(), &size), r.status);
        EXPECT_EQ(size, r.size);
        EXPECT_EQ(buffer, bytes(r.buffer, 8));
        EXPECT_NE(type, DWORD(REG_NONE));
    }

    // Bytes beyond ASCII come back as they went in.
    const char accented[] = "\xc3\xa9t\xc3\xa9";
    ASSERT_EQ(RegSetValueExA(m_root, "accented", 0, REG_SZ, data_of(accented), sizeof accented),
              ERROR_SUCCESS);
    char narrow_text[16] = {};
    size = sizeof narrow_text;
    ASSERT_EQ(query_a("accented", nullptr, narrow_text, &size), ERROR_SUCCESS);
    EXPECT_EQ(bytes(narrow_text, size), bytes(accented, sizeof accented));

    // Narrow key functions reach the same keys.
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(m_root, "Narrow\\Key", 0, nullptr, 0, 0, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(h);
    ASSERT_EQ(RegOpenKeyExA(m_root, "NARROW", 0, KEY_READ, &h), ERROR_SUCCESS);
    EXPECT_EQ(names(h), Names{OLESTR("Key")});
    RegCloseKey(h);
    EXPECT_EQ(RegDeleteKeyA(m_root, "narrow\\KEY"), ERROR_SUCCESS);
    EXPECT_EQ(open(OLESTR("narrow\\key")), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ThreadsShareOneConsistentStore) {
    constexpr int kThreads = 4;
    constexpr DWORD kValues = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            HKEY h = create(wide("t" + std::to_string(t)).c_str());
            for (DWORD i = 0; i < kValues; ++i) {
                RegSetValueExW(h, wide("v" + std::to_string(i)).c_str(), 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&i), 4);
                names(m_root);  // readers interleave with writers
            }
            RegCloseKey(h);
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    const Names keys = names(m_root);
    ASSERT_EQ(keys.size(), size_t(kThreads));
    for (const olestring& key : keys) {
        HKEY h = create(key.c_str());
        EXPECT_EQ(names(h, true).size(), size_t(kValues));
        RegCloseKey(h);
    }
}

}  // namespace
