// GUID string forms: formatting, parsing and the error codes of malformed input.
#include <gtest/gtest.h>

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
    for (const OLECHAR* text :
         {static_cast<const OLECHAR*>(buf), OLESTR("{483cf5cf-1e62-49d0-ae9d-66b708239993}")}) {
        CLSID clsid{};
        IID iid{};
        ASSERT_EQ(CLSIDFromString(text, &clsid), S_OK);
        ASSERT_EQ(IIDFromString(text, &iid), S_OK);
        EXPECT_TRUE(IsEqualCLSID(clsid, kSample));
        EXPECT_TRUE(iid == kSample);
        EXPECT_FALSE(iid != kSample);
    }
    // A null string gives the null GUID.
    CLSID clsid = kSample;
    IID iid = kSample;
    EXPECT_EQ(CLSIDFromString(nullptr, &clsid), S_OK);
    EXPECT_EQ(IIDFromString(nullptr, &iid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, GUID_NULL));
    EXPECT_TRUE(IsEqualGUID(iid, GUID_NULL));
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

INSTANTIATE_TEST_SUITE_P(
    Strings, GuidMalformedTest,
    ::testing::Values(
        // Right length, wrong shape.
        Malformed{OLESTR("{483CF5CF-1E62-49D0-AE9D-66B70823999G}"), CO_E_CLASSSTRING,
                  CO_E_IIDSTRING},
        Malformed{OLESTR("{483CF5CF+1E62-49D0-AE9D-66B708239993}"), CO_E_CLASSSTRING,
                  CO_E_IIDSTRING},
        Malformed{OLESTR("{483CF5CF-1E62-49D0-AE9D-66B708239993)"), CO_E_CLASSSTRING,
                  CO_E_IIDSTRING},
        // Wrong length: the IID parser answers E_INVALIDARG before it looks at the text.
        Malformed{OLESTR("{483CF5CF-1E62-49D0-AE9D-66B70823999}"), CO_E_CLASSSTRING, E_INVALIDARG},
        Malformed{OLESTR("{483CF5CF-1E62-49D0-AE9D-66B708239993}x"), CO_E_CLASSSTRING,
                  E_INVALIDARG},
        Malformed{OLESTR("{"), CO_E_CLASSSTRING, E_INVALIDARG}));

}  // namespace
