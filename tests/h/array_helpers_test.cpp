// Bounds, range copies and VARIANT-held arrays, with the traces of every refusal.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "h/safearrayhlp.h"
#include "h/variantarrayhlp.h"
#include "platform/raii.h"
#include "support/counting_unknown.h"
#include "support/record_array.h"
#include "support/trace_capture.h"
#include "support/wstr.h"

namespace {

using platform::UniqueSafeArray;
using platform::UniqueVariant;
using testing_support::bstr_text;
using testing_support::TraceCapture;

UniqueSafeArray i4_array(LONG lower, std::vector<LONG> values) {
    UniqueSafeArray psa(SafeArrayCreateVector(VT_I4, lower, static_cast<ULONG>(values.size())));
    for (size_t i = 0; i < values.size(); ++i) {
        LONG index = lower + static_cast<LONG>(i);
        SafeArrayPutElement(psa.get(), &index, &values[i]);
    }
    return psa;
}

std::vector<LONG> i4_values(SAFEARRAY* psa) {
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(psa, 1, &lower);
    SafeArrayGetUBound(psa, 1, &upper);
    std::vector<LONG> r;
    for (LONG i = lower; i <= upper; ++i) {
        LONG v = 0;
        SafeArrayGetElement(psa, &i, &v);
        r.push_back(v);
    }
    return r;
}

class ArrayHelperTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(capture.ready());
        capture.levels(1, 1, 1u << 4);
    }
    std::vector<std::string> errors() const { return capture.texts(4); }
    TraceCapture capture;
};

TEST_F(ArrayHelperTest, BoundsPerDimension) {
    SAFEARRAYBOUND created[2] = {{3, 1}, {2, -4}};
    UniqueSafeArray psa(SafeArrayCreate(VT_I4, 2, created));
    SAFEARRAYBOUND bounds[2] = {{77, 77}, {77, 77}};
    EXPECT_EQ(SafeArrayGetBounds(psa.get(), 0, bounds), S_OK);
    EXPECT_EQ(bounds[0].cElements, 77u);  // nothing written
    ASSERT_EQ(SafeArrayGetBounds(psa.get(), 2, bounds), S_OK);
    EXPECT_EQ(bounds[0].cElements, 3u);
    EXPECT_EQ(bounds[0].lLbound, 1);
    EXPECT_EQ(bounds[1].cElements, 2u);
    EXPECT_EQ(bounds[1].lLbound, -4);
    EXPECT_EQ(SafeArrayGetBounds(psa.get(), 3, bounds), DISP_E_BADINDEX);
    EXPECT_EQ(errors(), (std::vector<std::string>{"error on SafeArrayGetLBound, dim 3"}));
}

// Offsets count from each array's lower bound: src holds 10, 20, 30 from 1, dst four zeros from -2.
TEST_F(ArrayHelperTest, RangeCopyChecksBothRanges) {
    struct {
        int dstOffset, srcOffset, count;
        HRESULT hr;
        const char* trace;
        std::vector<LONG> dst;
    } const cases[] = {
        {1, 0, 3, S_OK, nullptr, {0, 10, 20, 30}},
        {0, 1, 2, S_OK, nullptr, {20, 30, 0, 0}},  // ends exactly at the last element
        {0, 1, 3, DISP_E_BADINDEX, "error on index check, src-offset 1, count 3, size 3", {}},
        {0, -1, 1, DISP_E_BADINDEX, "error on index check, src-offset -1, count 1, size 3", {}},
        {3, 0, 2, DISP_E_BADINDEX, "error on index check, dst-offset 3, count 2, size 4", {}},
        {0, 0, 0, S_OK, nullptr, {0, 0, 0, 0}},
        {0, 0, -2, S_OK, nullptr, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        capture.clear();
        UniqueSafeArray src = i4_array(1, {10, 20, 30});
        UniqueSafeArray dst = i4_array(-2, {0, 0, 0, 0});
        EXPECT_EQ(SafeArrayCopyRange(dst.get(), c.dstOffset, src.get(), c.srcOffset, 1, c.count),
                  c.hr);
        EXPECT_EQ(errors(),
                  c.trace ? std::vector<std::string>{c.trace} : std::vector<std::string>{});
        if (c.hr == S_OK) {
            EXPECT_EQ(i4_values(dst.get()), c.dst);
        }
    }
}

TEST_F(ArrayHelperTest, RangeCopyOfStringsAndInterfacesKeepsOwnershipStraight) {
    UniqueSafeArray src(SafeArrayCreateVector(VT_BSTR, 0, 2));
    UniqueSafeArray dst(SafeArrayCreateVector(VT_BSTR, 0, 2));
    for (LONG i = 0; i < 2; ++i) {
        platform::UniqueBstr s = platform::UniqueBstr::from(i == 0 ? OLESTR("a") : OLESTR("bc"));
        SafeArrayPutElement(src.get(), &i, s.get());
    }
    ASSERT_EQ(SafeArrayCopyRange(dst.get(), 0, src.get(), 0, 1, 2), S_OK);
    BSTR* copied = static_cast<BSTR*>(dst.get()->pvData);
    EXPECT_EQ(bstr_text(copied[1]), testing_support::olestring(OLESTR("bc")));
    EXPECT_NE(copied[1], static_cast<BSTR*>(src.get()->pvData)[1]);

    testing_support::CountingUnknown obj;
    {
        UniqueSafeArray from(SafeArrayCreateVector(VT_UNKNOWN, 0, 1));
        UniqueSafeArray to(SafeArrayCreateVector(VT_UNKNOWN, 0, 1));
        LONG zero = 0;
        SafeArrayPutElement(from.get(), &zero, static_cast<IUnknown*>(&obj));
        ASSERT_EQ(SafeArrayCopyRange(to.get(), 0, from.get(), 0, 1, 1), S_OK);
        EXPECT_EQ(obj.refs(), 3u);  // one per array, the fetched copy released
    }
    EXPECT_EQ(obj.refs(), 1u);
}

// The copies pass one index per element and move elements as bytes: arrays of more dimensions
// (whose further indices would be read from past the caller's) and arrays of records are refused
// before an element is touched, on either side and through either helper.
TEST_F(ArrayHelperTest, CopiesRefuseArraysOfMoreDimensionsAndOfRecords) {
    SAFEARRAYBOUND twoDims[2] = {{2, 0}, {2, 0}};
    UniqueVariant sq;
    sq->vt = VT_ARRAY | VT_VARIANT;
    sq->parray = SafeArrayCreate(VT_VARIANT, 2, twoDims);
    testing_support::RecordArray records(4);
    ASSERT_TRUE(records.ready());
    UniqueVariant names;
    const ULONG four = 4;
    ASSERT_EQ(VariantSafeArrayCreateVector(names.get(), VT_VARIANT, &four), S_OK);
    VARIANT* const nm = names.get();
    VARIANT* const rec = records.variant();
    const char* const dims21 = "error on dimension check, src-dims 2, dst-dims 1";
    const char* const dims12 = "error on dimension check, src-dims 1, dst-dims 2";
    const char* const type = "error on element type check";
    const struct {
        VARIANT *dst, *src;
        int count;
        HRESULT hr;
        const char* trace;  // the start of the one error traced
    } cases[] = {
        // clang-format off
        // dst       src       count  hr                 trace
        {nm,       sq.get(), 2,     DISP_E_BADINDEX,   dims21},
        {nm,       sq.get(), 1,     DISP_E_BADINDEX,   dims21},
        {sq.get(), nm,       2,     DISP_E_BADINDEX,   dims12},
        {sq.get(), nm,       1,     DISP_E_BADINDEX,   dims12},
        {nm,       rec,      2,     DISP_E_BADVARTYPE, type},
        {nm,       rec,      1,     DISP_E_BADVARTYPE, type},
        {rec,      nm,       1,     DISP_E_BADVARTYPE, type},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        capture.clear();
        EXPECT_EQ(VariantSafeArrayCopyRange(c.dst, 0, c.src, 0, 1, c.count), c.hr);
        ASSERT_EQ(errors().size(), 1u);
        EXPECT_EQ(errors()[0].rfind(c.trace, 0), 0u) << errors()[0];
    }
    UniqueVariant first;
    LONG zero = 0;
    ASSERT_EQ(VariantSafeArrayGetElement(nm, &zero, first.get()), S_OK);
    EXPECT_EQ(first.vt(), VT_EMPTY);  // nothing was stored
    // Mixed element kinds, array to array.
    EXPECT_EQ(SafeArrayCopyRange(nm->parray, 0, records.array(), 0, 1, 1), DISP_E_BADVARTYPE);
    UniqueSafeArray numbers = i4_array(0, {1, 2});
    EXPECT_EQ(SafeArrayCopyRange(nm->parray, 0, numbers.get(), 0, 1, 2), DISP_E_BADVARTYPE);
}

// Near the ends of LONG's range: bounds whose end passes it (the upper bound wraps) are refused
// rather than counted, and no index is reckoned past it.
TEST_F(ArrayHelperTest, BoundsAndIndicesAtTheEndsOfTheLongRange) {
    struct {
        LONG lower;
        ULONG count;
        HRESULT hr;
    } bounds[] = {
        // lower         count  hr
        {INT_MAX - 2, 10, DISP_E_BADINDEX},
        {INT_MAX - 2, 3, S_OK},
        {INT_MIN, 3, S_OK},
    };
    for (const auto& b : bounds) {
        capture.clear();
        UniqueSafeArray psa(SafeArrayCreateVector(VT_I4, b.lower, b.count));
        SAFEARRAYBOUND got = {};
        ASSERT_EQ(SafeArrayGetBounds(psa.get(), 1, &got), b.hr) << b.lower;
        if (b.hr == S_OK) {
            EXPECT_EQ(got.cElements, b.count);
            EXPECT_EQ(got.lLbound, b.lower);
        } else {
            EXPECT_EQ(errors(), (std::vector<std::string>{"error on bounds check, dim 1"}));
        }
    }
    // Elements of a dimension ending at INT_MAX cannot be reached (as on Windows); the copy stops
    // at the first.
    capture.clear();
    UniqueSafeArray high(SafeArrayCreateVector(VT_I4, INT_MAX - 1, 2));
    UniqueSafeArray low = i4_array(INT_MIN, {1, 2, 3});
    EXPECT_EQ(SafeArrayCopyRange(low.get(), 0, high.get(), 0, 1, 2), DISP_E_BADINDEX);
    EXPECT_EQ(errors(),
              (std::vector<std::string>{"error on SafeArrayGetElement, src-offset 2147483646"}));

    UniqueVariant src;
    src->vt = VT_ARRAY | VT_I4;
    src->parray = low.release();
    UniqueVariant one;
    ASSERT_EQ(VariantSafeArrayCopyRange(one.get(), 0, src.get(), 2, 1, 1), S_OK);
    EXPECT_EQ(one->lVal, 3);
    capture.clear();
    EXPECT_EQ(VariantSafeArrayCopyRange(one.get(), 0, src.get(), -1, 1, 1), DISP_E_BADINDEX);
    EXPECT_EQ(errors(), (std::vector<std::string>{"error on SafeArrayGetElement, src-type 8195"}));
}

// One element: from a plain VARIANT into an array of VARIANT, and out of a number array into a
// VARIANT of its type; a string does not go into a number array.
TEST_F(ArrayHelperTest, SingleElementsBetweenPlainVariantsAndArrays) {
    UniqueVariant variants;
    ULONG four = 4;
    ASSERT_EQ(VariantSafeArrayCreateVector(variants.get(), VT_VARIANT, &four), S_OK);
    EXPECT_EQ(variants.vt(), VT_ARRAY | VT_VARIANT);
    UniqueVariant text;
    text->vt = VT_BSTR;
    text->bstrVal = SysAllocString(OLESTR("name"));
    ASSERT_EQ(VariantSafeArrayCopyRange(variants.get(), 3, text.get(), 0, 1, 1), S_OK);
    UniqueVariant stored;
    LONG three = 3;
    ASSERT_EQ(VariantSafeArrayGetElement(variants.get(), &three, stored.get()), S_OK);
    EXPECT_EQ(stored.vt(), VT_BSTR);
    EXPECT_EQ(bstr_text(stored->bstrVal), testing_support::olestring(OLESTR("name")));

    UniqueVariant numbers;
    numbers->vt = VT_ARRAY | VT_I4;
    numbers->parray = i4_array(1, {5, 8}).release();
    UniqueVariant one;
    ASSERT_EQ(VariantSafeArrayCopyRange(one.get(), 0, numbers.get(), 1, 1, 1), S_OK);
    EXPECT_EQ(one.vt(), VT_I4);
    EXPECT_EQ(one->lVal, 8);
    EXPECT_EQ(VariantSafeArrayCopyRange(numbers.get(), 0, text.get(), 0, 1, 1),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(errors(), (std::vector<std::string>{
                            "error on SafeArrayPutElement, src-type 8, dst-type 8195, indices 1"}));
}

TEST_F(ArrayHelperTest, VariantRangeCopyRefusals) {
    UniqueVariant plain;
    plain->vt = VT_I4;
    UniqueVariant other;
    other->vt = VT_I4;
    EXPECT_EQ(VariantSafeArrayCopyRange(other.get(), 0, plain.get(), 0, 1, 0), S_OK);
    EXPECT_TRUE(errors().empty());

    EXPECT_EQ(VariantSafeArrayCopyRange(other.get(), 0, plain.get(), 0, 1, 2), DISP_E_BADVARTYPE);
    EXPECT_EQ(errors(),
              (std::vector<std::string>{"error on safe-array check, src-type 3, dst-type 3",
                                        "unexpected fall-trough"}));
    capture.clear();
    EXPECT_EQ(VariantSafeArrayCopyRange(other.get(), 0, plain.get(), 0, 2, 1), DISP_E_BADINDEX);
    EXPECT_EQ(VariantSafeArrayCopyRange(other.get(), 0, plain.get(), 0, 1, -1), DISP_E_BADINDEX);
    EXPECT_EQ(errors(),
              (std::vector<std::string>{"unexpected fall-trough", "unexpected fall-trough"}));
}

TEST_F(ArrayHelperTest, CreatingInAVariantClearsItFirst) {
    testing_support::CountingUnknown obj;
    UniqueVariant v;
    v->vt = VT_UNKNOWN;
    v->punkVal = &obj;
    obj.AddRef();
    ASSERT_EQ(VariantSafeArrayCreate(v.get(), VT_I4, 1, 2, 5), S_OK);
    EXPECT_EQ(obj.refs(), 1u);
    EXPECT_EQ(v.vt(), VT_ARRAY | VT_I4);
    SAFEARRAYBOUND bounds[1];
    ASSERT_EQ(VariantSafeArrayGetBounds(v.get(), 1, bounds), S_OK);
    EXPECT_EQ(bounds[0].cElements, 5u);
    EXPECT_EQ(bounds[0].lLbound, 2);
    // One bound record cannot describe two dimensions.
    EXPECT_EQ(VariantSafeArrayCreate(v.get(), VT_I4, 2, 0, 5), E_INVALIDARG);
    EXPECT_EQ(VariantSafeArrayCreate(v.get(), VT_EMPTY, 1, 0, 5), E_OUTOFMEMORY);
}

TEST_F(ArrayHelperTest, VariantsWithoutArrays) {
    const VARTYPE types[][2] = {{VT_I4, 1},
                                {VT_EMPTY, 1},
                                {VT_ARRAY | VT_I4, 0},
                                {VT_VECTOR | VT_I4, 0},
                                {VT_BYREF | VT_I4, 1}};
    for (const auto& t : types) {
        VARIANT v;
        VariantInit(&v);
        v.vt = t[0];
        EXPECT_EQ(VariantIsNoArray(&v), t[1] != 0) << t[0];
    }
    UniqueVariant plain;
    SAFEARRAYBOUND bounds[1];
    LONG index = 0;
    LONG value = 0;
    EXPECT_EQ(VariantSafeArrayGetBounds(plain.get(), 1, bounds), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantSafeArrayGetElement(plain.get(), &index, &value), DISP_E_BADVARTYPE);
}

}  // namespace
