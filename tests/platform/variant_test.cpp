// VARIANT clearing and copying: type validation, deep copies and reference counts.
#include <gtest/gtest.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "platform/raii.h"
#include "platform/winapi.h"
#include "support/counting_unknown.h"
#include "support/wstr.h"

namespace {

using platform::UniqueVariant;
using testing_support::bstr_text;
using testing_support::CountingUnknown;
using testing_support::olestring;

// A variant holding a reference of its own to obj.
UniqueVariant holding(CountingUnknown& obj, VARTYPE vt = VT_UNKNOWN) {
    UniqueVariant v;
    v->vt = vt;
    v->punkVal = &obj;
    obj.AddRef();
    return v;
}

TEST(VariantTest, LayoutMatchesTheBinaryContract) {
    EXPECT_EQ(sizeof(VARIANT), 8 + 2 * sizeof(void*));
    EXPECT_EQ(offsetof(VARIANT, lVal), 8u);
    EXPECT_EQ(offsetof(VARIANT, parray), 8u);
    EXPECT_EQ(sizeof(SAFEARRAYBOUND), 8u);
    EXPECT_EQ(offsetof(SAFEARRAY, pvData), sizeof(void*) == 8 ? 16u : 12u);
}

TEST(VariantTest, ClearAndCopyValidateTheType) {
    const std::pair<std::vector<VARTYPE>, HRESULT> groups[] = {
        {{VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R8, VT_BOOL, VT_ERROR, VT_I1, VT_UI8, VT_UINT,
          VT_I4 | VT_BYREF, VT_BSTR | VT_BYREF},
         S_OK},
        {{15, VT_VOID, VT_HRESULT, VT_I4 | VT_VECTOR, VT_I4 | VT_RESERVED, VT_EMPTY | VT_ARRAY,
          VT_NULL | VT_BYREF, 0x0FFF},
         DISP_E_BADVARTYPE},
    };
    for (const auto& [types, expected] : groups) {
        for (VARTYPE vt : types) {
            VARIANT src{};
            src.vt = vt;
            LONG referent = 0;
            if (vt & VT_BYREF) {
                src.plVal = &referent;
            }
            UniqueVariant dest;
            EXPECT_EQ(VariantCopy(dest.get(), &src), expected) << vt;
            EXPECT_EQ(VariantClear(&src), expected) << vt;
        }
    }
}

TEST(VariantTest, CopyOfBstrIsDeepAndByteExactAndOfNullIsEmpty) {
    const OLECHAR text[] = {'a', 0, 'b'};
    for (BSTR s : {SysAllocStringLen(text, 3), BSTR(nullptr)}) {
        UniqueVariant src;
        src->vt = VT_BSTR;
        src->bstrVal = s;
        UniqueVariant dest;
        ASSERT_EQ(dest.copy_from(src.get()), S_OK);
        EXPECT_EQ(dest.vt(), VT_BSTR);
        ASSERT_NE(dest->bstrVal, nullptr);
        EXPECT_NE(dest->bstrVal, src->bstrVal);
        EXPECT_EQ(SysStringLen(dest->bstrVal), s ? 3u : 0u);
        EXPECT_EQ(bstr_text(dest->bstrVal), bstr_text(src->bstrVal));
    }
}

TEST(VariantTest, InterfaceCopiesAddAndClearsRelease) {
    CountingUnknown obj;
    for (VARTYPE vt : {VT_UNKNOWN, VT_DISPATCH}) {
        UniqueVariant src = holding(obj, vt);
        {
            UniqueVariant dest;
            ASSERT_EQ(dest.copy_from(src.get()), S_OK);
            EXPECT_EQ(obj.refs(), 3u);
        }
        EXPECT_EQ(obj.refs(), 2u);
    }
    EXPECT_EQ(obj.refs(), 1u);
}

TEST(VariantTest, CopyClearsWhatTheDestinationHeld) {
    CountingUnknown old;
    UniqueVariant dest = holding(old);
    UniqueVariant src;
    src->vt = VT_I4;
    src->lVal = 42;
    ASSERT_EQ(dest.copy_from(src.get()), S_OK);
    EXPECT_EQ(old.refs(), 1u);
    // Copying onto itself changes nothing.
    ASSERT_EQ(VariantCopy(dest.get(), dest.get()), S_OK);
    EXPECT_EQ(dest.vt(), VT_I4);
    EXPECT_EQ(dest->lVal, 42);
}

TEST(VariantTest, ReferencesAreCopiedShallowAndNotFreed) {
    BSTR owned = SysAllocString(OLESTR("kept"));
    UniqueVariant src;
    src->vt = VT_BSTR | VT_BYREF;
    src->pbstrVal = &owned;
    UniqueVariant dest;
    ASSERT_EQ(dest.copy_from(src.get()), S_OK);
    EXPECT_EQ(dest->pbstrVal, &owned);
    dest.reset();
    src.reset();
    EXPECT_EQ(bstr_text(owned), olestring(OLESTR("kept")));
    SysFreeString(owned);
}

TEST(VariantTest, ArrayCopyIsDeep) {
    UniqueVariant src;
    src->vt = VT_ARRAY | VT_BSTR;
    src->parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
    LONG idx = 0;
    platform::UniqueBstr text = platform::UniqueBstr::from(OLESTR("n"));
    ASSERT_EQ(SafeArrayPutElement(src->parray, &idx, text.get()), S_OK);
    UniqueVariant dest;
    ASSERT_EQ(dest.copy_from(src.get()), S_OK);
    ASSERT_NE(dest->parray, src->parray);
    const BSTR copied = static_cast<BSTR*>(dest->parray->pvData)[0];
    EXPECT_NE(copied, static_cast<BSTR*>(src->parray->pvData)[0]);
    EXPECT_EQ(bstr_text(copied), OLESTR("n"));
}

TEST(VariantTest, ClearOfLockedArrayFailsButEmptiesTheVariant) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 0, 2);
    ASSERT_EQ(SafeArrayLock(psa), S_OK);
    VARIANT v{};
    v.vt = VT_ARRAY | VT_I4;
    v.parray = psa;
    EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(v.vt, VT_EMPTY);
    ASSERT_EQ(SafeArrayUnlock(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

}  // namespace
