// The registrar: the component's own script in both directions, and the script language's
// keywords, values and errors, run in a sandbox key so that nothing real is registered.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "component/embedded_script.h"
#include "platform/registrar/registrar.h"
#include "platform/module.h"
#include "support/registry_read.h"

namespace {

using cj_registrar::Mode;
using olestring = std::basic_string<OLECHAR>;
using testing_support::key_exists;
using testing_support::string_value;
using testing_support::subkeys;

const OLECHAR kClassKey[] = OLESTR("HKCR\\CLSID\\{483CF5CF-1E62-49d0-AE9D-66B708239993}");
const OLECHAR kModulePath[] = OLESTR("C:\\Program Files\\Sym\\CollectionJobSymAcc.dll");

class RegistrarTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string name = std::string("Software\\CjComponentTests\\") +
                                 info->test_suite_name() + "." + info->name();
        m_path.assign(name.begin(), name.end());
        (void)RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, m_sandbox.put(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        m_sandbox.reset();
        (void)RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    }

    HRESULT run(const char* script, Mode mode) {
        return cj_registrar::RunScript(script, std::strlen(script), mode,
                                       {{OLESTR("MODULE"), kModulePath}}, m_sandbox.get());
    }
    HRESULT component(Mode mode) { return run(kEmbeddedRegistrationScript, mode); }

    HKEY sandbox() const { return m_sandbox.get(); }
    void add_key(const OLECHAR* path) {
        platform::UniqueRegKey key;
        ASSERT_EQ(RegCreateKeyExW(sandbox(), path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
    }
    olestring value(const OLECHAR* path, const OLECHAR* name = nullptr) const {
        return string_value(sandbox(), path, name);
    }

  private:
    olestring m_path;
    platform::UniqueRegKey m_sandbox;
};

TEST_F(RegistrarTest, ComponentScriptWritesClassAndBothProgIds) {
    ASSERT_EQ(component(Mode::Register), S_OK);
    const olestring cls = kClassKey;
    const struct {
        olestring path;
        const OLECHAR* name;
        olestring expected;
    } cases[] = {
        {cls, nullptr, OLESTR("CCollectionJobSymAcc Class")},
        {cls + OLESTR("\\ProgID"), nullptr, OLESTR("CCollectionJobSymAcc.CCollectionJobSymAcc.1")},
        {cls + OLESTR("\\VersionIndependentProgID"), nullptr,
         OLESTR("CCollectionJobSymAcc.CCollectionJobSymAcc")},
        {cls + OLESTR("\\InprocServer32"), nullptr, kModulePath},
        {cls + OLESTR("\\InprocServer32"), OLESTR("ThreadingModel"), OLESTR("Free")},
        {OLESTR("HKCR\\CCollectionJobSymAcc.CCollectionJobSymAcc.1"), nullptr,
         OLESTR("CCollectionJobSymAcc Class")},
        {OLESTR("HKCR\\CCollectionJobSymAcc.CCollectionJobSymAcc.1\\CLSID"), nullptr,
         OLESTR("{483CF5CF-1E62-49d0-AE9D-66B708239993}")},
        {OLESTR("HKCR\\CCollectionJobSymAcc.CCollectionJobSymAcc"), nullptr,
         OLESTR("CCollectionJobSymAcc Class")},
        {OLESTR("HKCR\\CCollectionJobSymAcc.CCollectionJobSymAcc\\CurVer"), nullptr,
         OLESTR("CCollectionJobSymAcc.CCollectionJobSymAcc.1")},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(value(c.path.c_str(), c.name) == c.expected)
            << std::string(c.path.begin(), c.path.end());
    }
}

TEST_F(RegistrarTest, UnregisteringRemovesTheClassKeyWholeAndKeepsClsid) {
    add_key(OLESTR("HKCR\\CLSID\\{00000000-1111-2222-3333-444444444444}"));  // another class
    ASSERT_EQ(component(Mode::Register), S_OK);
    add_key((olestring(kClassKey) + OLESTR("\\Implemented Categories\\{X}")).c_str());
    add_key(OLESTR("HKCR\\CCollectionJobSymAcc.CCollectionJobSymAcc.1\\Insertable"));

    ASSERT_EQ(component(Mode::Unregister), S_OK);
    EXPECT_FALSE(key_exists(sandbox(), kClassKey));
    EXPECT_TRUE(
        key_exists(sandbox(), OLESTR("HKCR\\CLSID\\{00000000-1111-2222-3333-444444444444}")));
    EXPECT_FALSE(key_exists(sandbox(), OLESTR("HKCR\\CCollectionJobSymAcc.CCollectionJobSymAcc")));
    // A key that someone else extended stays, with only the script's own subkey removed.
    EXPECT_EQ(subkeys(sandbox(), OLESTR("HKCR\\CCollectionJobSymAcc.CCollectionJobSymAcc.1")),
              std::vector<olestring>{OLESTR("Insertable")});

    // CLSID stays also when nothing is left in it, and a second removal finds nothing to do.
    (void)RegDeleteTreeW(sandbox(), OLESTR("HKCR\\CLSID\\{00000000-1111-2222-3333-444444444444}"));
    EXPECT_EQ(component(Mode::Unregister), S_OK);
    EXPECT_TRUE(key_exists(sandbox(), OLESTR("HKCR\\CLSID")));
}

TEST_F(RegistrarTest, RegisteringAgainReplacesTheClassKey) {
    ASSERT_EQ(component(Mode::Register), S_OK);
    add_key((olestring(kClassKey) + OLESTR("\\LocalServer32")).c_str());  // a stale registration
    ASSERT_EQ(component(Mode::Register), S_OK);
    EXPECT_EQ(subkeys(sandbox(), kClassKey),
              (std::vector<olestring>{OLESTR("InprocServer32"), OLESTR("ProgID"),
                                      OLESTR("VersionIndependentProgID")}));
    EXPECT_TRUE(value((olestring(kClassKey) + OLESTR("\\InprocServer32")).c_str()) == kModulePath);
}

TEST_F(RegistrarTest, ValuesQuotesAndVariables) {
    const char script[] =
        "HKEY_CURRENT_USER { Values = s 'it''s 100%% %MODULE%' { val Mask = d '0xFFFFFFFF' "
        "val 'Two words' = s '' } }";
    ASSERT_EQ(run(script, Mode::Register), S_OK);
    EXPECT_TRUE(value(OLESTR("HKCU\\Values")) == olestring(OLESTR("it's 100% ")) + kModulePath);
    EXPECT_TRUE(value(OLESTR("HKCU\\Values"), OLESTR("Two words")).empty());
    DWORD data = 0;
    DWORD bytes = sizeof data;
    DWORD type = 0;
    platform::UniqueRegKey key;
    ASSERT_EQ(RegOpenKeyExW(sandbox(), OLESTR("HKCU\\Values"), 0, KEY_READ, key.put()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueExW(key.get(), OLESTR("Mask"), nullptr, &type,
                               reinterpret_cast<BYTE*>(&data), &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(data, 0xFFFFFFFFu);
    key.reset();

    // Named values of a key that stays are removed one by one.
    add_key(OLESTR("HKCU\\Values\\Foreign"));
    ASSERT_EQ(run(script, Mode::Unregister), S_OK);
    EXPECT_TRUE(key_exists(sandbox(), OLESTR("HKCU\\Values\\Foreign")));
    EXPECT_TRUE(value(OLESTR("HKCU\\Values"), OLESTR("Two words")) == OLESTR("<missing>"));
}

TEST_F(RegistrarTest, BadScriptsChangeNothing) {
    const struct {
        const char* script;
        HRESULT expected;
    } cases[] = {
        {"HKCR { A = s 'x' } HKXX { B }", DISP_E_EXCEPTION},  // unknown root
        {"HKCR { A = s 'unterminated }", DISP_E_EXCEPTION},
        {"HKCR { A = s 'x' ", DISP_E_EXCEPTION},             // missing brace
        {"HKCR { A = q 'x' }", DISP_E_EXCEPTION},            // unknown value type
        {"HKCR { A = d '0x100000000' }", DISP_E_EXCEPTION},  // more than 32 bits
        {"HKCR { A = d '12z' }", DISP_E_EXCEPTION},
        {"HKCR { val A = s 'x' }", DISP_E_EXCEPTION},    // a value needs a key
        {"HKCR { A = s '%MODULE' }", DISP_E_EXCEPTION},  // unterminated variable
        {"HKCR { A = s '%OTHER%' }", E_INVALIDARG},      // no such variable
        {"HKCR { = }", DISP_E_EXCEPTION},
        {"HKCR { NoRemove A { '' } }", DISP_E_EXCEPTION},  // the parent by another name
    };
    std::string deep = "HKCR";
    for (int i = 0; i < 100000; ++i) {
        deep += " { K";
    }
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.script, Mode::Register), c.expected) << c.script;
        EXPECT_TRUE(subkeys(sandbox(), OLESTR("")).empty()) << c.script;
    }
    EXPECT_EQ(run(deep.c_str(), Mode::Register), DISP_E_EXCEPTION);
    const char withNul[] = "HKCR { A\0B }";  // the registry would see the name cut short
    EXPECT_EQ(cj_registrar::RunScript(withNul, sizeof withNul - 1, Mode::Register, {}, sandbox()),
              DISP_E_EXCEPTION);
    EXPECT_TRUE(subkeys(sandbox(), OLESTR("")).empty());
}

TEST_F(RegistrarTest, FailedRegistrationIsUndone) {
    // A key name longer than the registry allows fails after the first keys were written.
    const std::string longName(300, 'n');
    const std::string script = "HKCR { Good = s 'x' { Sub } Bad { " + longName + " } }";
    const HRESULT hr = run(script.c_str(), Mode::Register);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_FALSE(key_exists(sandbox(), OLESTR("HKCR\\Good")));
    EXPECT_FALSE(key_exists(sandbox(), OLESTR("HKCR\\Bad")));
}

}  // namespace
