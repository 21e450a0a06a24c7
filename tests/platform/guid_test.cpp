// GUID string forms: formatting, parsing and the error codes of malformed input.
#include <gtest/gtest.h>

#include <utility>

#include "platform/winapi.h"
#include "support/wstr.h"

namespace {

using testing_support::narrow;

PLATFORM_DEFINE_GUID(kSample, 0x483CF5CF, 0x1E62, 0x49d0, 0xAE, 0x9D, 0x66, 0xB7, 0x08, 0x23, 0x99,
                     0x93);

TEST(GuidTest, FormatsUppercaseBracedAndParsesBackEitherCase) {
    OLECHAR buf[CHARS_IN_GUID];
    EXPECT_EQ(StringFromGUID2(kSample, buf, CHARS_IN_GUID - 1), 0);  // no room for the null
    ASSERT_EQ(StringFromGUID2(kSample, buf, CHARS_IN_GUID), 39);
    EXPECT_EQ(narrow(buf, 38), "{483CF5CF-1E62-49D0-AE9D-66B708239993}");
    EXPECT_EQ(buf[38], 0);
    // A null string gives the null GUID.
    const std::pair<const OLECHAR*, GUID> texts[] = {
        {buf, kSample},
        {OLESTR("{483cf5cf-1e62-49d0-ae9d-66b708239993}"), kSample},
        {nullptr, GUID_NULL}};
    for (const auto& [text, expected] : texts) {
        CLSID clsid = {0xFFFFFFFF, 0, 0, {}};
        IID iid = clsid;
        ASSERT_EQ(CLSIDFromString(text, &clsid), S_OK);
        ASSERT_EQ(IIDFromString(text, &iid), S_OK);
        EXPECT_TRUE(IsEqualCLSID(clsid, expected));
        EXPECT_TRUE(iid == expected);
        EXPECT_FALSE(iid != expected);
    }
}

struct Malformed {
    const OLECHAR* text;
    HRESULT clsid_hr;
    HRESULT iid_hr;
};

class GuidMalformedTest : public ::testing::TestWithParam<Malformed> {};

TEST_P(GuidMalformedTest, IsRejectedWithTheSystemsCode) {
    CLSID clsid{};
    IID iid{};
    EXPECT_EQ(CLSIDFromString(GetParam().text, &clsid), GetParam().clsid_hr);
    EXPECT_EQ(IIDFromString(GetParam().text, &iid), GetParam().iid_hr);
}

// The last three have the wrong length: the IID parser answers E_INVALIDARG before it looks at
// the text.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Strings, GuidMalformedTest, ::testing::Values(
    //       text                                               CLSIDFromString   IIDFromString
    Malformed{OLESTR("{483CF5CF-1E62-49D0-AE9D-66B70823999G}"),  CO_E_CLASSSTRING, CO_E_IIDSTRING},
    Malformed{OLESTR("{483CF5CF+1E62-49D0-AE9D-66B708239993}"),  CO_E_CLASSSTRING, CO_E_IIDSTRING},
    Malformed{OLESTR("{483CF5CF-1E62-49D0-AE9D-66B708239993)"),  CO_E_CLASSSTRING, CO_E_IIDSTRING},
    Malformed{OLESTR("{483CF5CF-1E62-49D0-AE9D-66B70823999}"),   CO_E_CLASSSTRING, E_INVALIDARG},
    Malformed{OLESTR("{483CF5CF-1E62-49D0-AE9D-66B708239993}x"), CO_E_CLASSSTRING, E_INVALIDARG},
    Malformed{OLESTR("{"),                                       CO_E_CLASSSTRING, E_INVALIDARG}));
// clang-format on

}  // namespace
