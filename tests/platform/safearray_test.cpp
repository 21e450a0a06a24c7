// SAFEARRAY behaviour the component relies on: flags, bounds and index order, element ownership,
// locking, redimensioning and copies. Runs against our layer and against the system's.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <vector>

#include "platform/raii.h"
#include "platform/winapi.h"
#include "support/counting_unknown.h"
#include "support/wstr.h"

namespace {

using platform::UniqueSafeArray;
using testing_support::bstr_text;
using testing_support::CountingUnknown;
using testing_support::olestring;

struct TypeCase {
    VARTYPE vt;
    UINT elemsize;
    USHORT features;  // as SafeArrayCreate sets them; vectors add FADF_CREATEVECTOR
};

class SafeArrayTypeTest : public ::testing::TestWithParam<TypeCase> {};

TEST_P(SafeArrayTypeTest, CreateSetsSizeFeaturesAndVartype) {
    const TypeCase& c = GetParam();
    SAFEARRAYBOUND bound = {3, 0};
    UniqueSafeArray created(SafeArrayCreate(c.vt, 1, &bound));
    UniqueSafeArray vector(SafeArrayCreateVector(c.vt, 0, 3));
    ASSERT_TRUE(created);
    ASSERT_TRUE(vector);

    EXPECT_EQ(SafeArrayGetElemsize(created.get()), c.elemsize);
    EXPECT_EQ(created.get()->fFeatures, c.features);
    EXPECT_EQ(vector.get()->fFeatures, c.features | FADF_CREATEVECTOR);
    VARTYPE vt = VT_EMPTY;
    ASSERT_EQ(SafeArrayGetVartype(created.get(), &vt), S_OK);
    EXPECT_EQ(vt, c.vt);
    ASSERT_EQ(SafeArrayGetVartype(vector.get(), &vt), S_OK);
    EXPECT_EQ(vt, c.vt);
}

INSTANTIATE_TEST_SUITE_P(
    Types, SafeArrayTypeTest,
    ::testing::Values(TypeCase{VT_UI1, 1, FADF_HAVEVARTYPE}, TypeCase{VT_I2, 2, FADF_HAVEVARTYPE},
                      TypeCase{VT_BOOL, 2, FADF_HAVEVARTYPE}, TypeCase{VT_I4, 4, FADF_HAVEVARTYPE},
                      TypeCase{VT_UI4, 4, FADF_HAVEVARTYPE}, TypeCase{VT_R4, 4, FADF_HAVEVARTYPE},
                      TypeCase{VT_ERROR, 4, FADF_HAVEVARTYPE}, TypeCase{VT_R8, 8, FADF_HAVEVARTYPE},
                      TypeCase{VT_I8, 8, FADF_HAVEVARTYPE}, TypeCase{VT_CY, 8, FADF_HAVEVARTYPE},
                      TypeCase{VT_DATE, 8, FADF_HAVEVARTYPE},
                      TypeCase{VT_DECIMAL, 16, FADF_HAVEVARTYPE},
                      TypeCase{VT_BSTR, sizeof(BSTR), FADF_HAVEVARTYPE | FADF_BSTR},
                      TypeCase{VT_UNKNOWN, sizeof(void*), FADF_HAVEIID | FADF_UNKNOWN},
                      TypeCase{VT_DISPATCH, sizeof(void*), FADF_HAVEIID | FADF_DISPATCH},
                      TypeCase{VT_VARIANT, sizeof(VARIANT), FADF_HAVEVARTYPE | FADF_VARIANT}));

TEST(SafeArrayTest, TypesWithoutElementsAreRefused) {
    SAFEARRAYBOUND bound = {3, 0};
    for (VARTYPE vt : {VT_EMPTY, VT_NULL, VT_VOID}) {
        EXPECT_EQ(SafeArrayCreate(vt, 1, &bound), nullptr) << vt;
        EXPECT_EQ(SafeArrayCreateVector(vt, 0, 3), nullptr) << vt;
    }
}

TEST(SafeArrayTest, DescriptorAloneCarriesNoOwnershipFlag) {
    // Only SafeArrayCreate adds FADF_BSTR; the Ex descriptor records the type alone.
    SAFEARRAY* psa = nullptr;
    ASSERT_EQ(SafeArrayAllocDescriptorEx(VT_BSTR, 1, &psa), S_OK);
    EXPECT_EQ(psa->fFeatures, FADF_HAVEVARTYPE);
    EXPECT_EQ(psa->cbElements, sizeof(BSTR));
    EXPECT_EQ(SafeArrayDestroyDescriptor(psa), S_OK);

    ASSERT_EQ(SafeArrayAllocDescriptor(2, &psa), S_OK);
    EXPECT_EQ(psa->fFeatures, 0);
    EXPECT_EQ(psa->cDims, 2);
    VARTYPE vt;
    EXPECT_EQ(SafeArrayGetVartype(psa, &vt), E_INVALIDARG);
    psa->cbElements = 4;
    psa->rgsabound[0] = {2, 0};
    psa->rgsabound[1] = {3, 0};
    ASSERT_EQ(SafeArrayAllocData(psa), S_OK);
    EXPECT_NE(psa->pvData, nullptr);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArrayTest, VectorExRecordsTheInterfaceId) {
    const IID iid = {0x1ABC6A22, 0x24A3, 0x4E50, {0x9F, 0xAD, 0xF6, 0xBA, 0x6B, 0x92, 0x9E, 0xE3}};
    UniqueSafeArray psa(SafeArrayCreateVectorEx(VT_UNKNOWN, 0, 1, const_cast<IID*>(&iid)));
    ASSERT_TRUE(psa);
    GUID got{};
    ASSERT_EQ(SafeArrayGetIID(psa.get(), &got), S_OK);
    EXPECT_TRUE(IsEqualGUID(got, iid));

    UniqueSafeArray plain(SafeArrayCreateVector(VT_UNKNOWN, 0, 1));
    ASSERT_EQ(SafeArrayGetIID(plain.get(), &got), S_OK);
    EXPECT_TRUE(IsEqualGUID(got, IID_IUnknown));
}

// Two dimensions: dimension 1 has 2 elements from 1, dimension 2 has 3 from 10; (i, j) holds
// i * 100 + j.
class TwoDimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, 10}};
        psa.reset(SafeArrayCreate(VT_I4, 2, bounds));
        ASSERT_TRUE(psa);
        for (LONG j = 10; j <= 12; ++j) {
            for (LONG i = 1; i <= 2; ++i) {
                LONG idx[2] = {i, j};
                LONG value = i * 100 + j;
                ASSERT_EQ(SafeArrayPutElement(psa.get(), idx, &value), S_OK);
            }
        }
    }
    UniqueSafeArray psa;
};

TEST_F(TwoDimTest, BoundsPerDimensionAndReversedDescriptor) {
    EXPECT_EQ(SafeArrayGetDim(psa.get()), 2u);
    LONG lb = 0, ub = 0;
    ASSERT_EQ(SafeArrayGetLBound(psa.get(), 1, &lb), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(psa.get(), 1, &ub), S_OK);
    EXPECT_EQ(lb, 1);
    EXPECT_EQ(ub, 2);
    ASSERT_EQ(SafeArrayGetLBound(psa.get(), 2, &lb), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(psa.get(), 2, &ub), S_OK);
    EXPECT_EQ(lb, 10);
    EXPECT_EQ(ub, 12);
    // The descriptor stores the last dimension first.
    EXPECT_EQ(psa.get()->rgsabound[0].cElements, 3u);
    EXPECT_EQ(psa.get()->rgsabound[0].lLbound, 10);
    EXPECT_EQ(psa.get()->rgsabound[1].cElements, 2u);
    EXPECT_EQ(psa.get()->rgsabound[1].lLbound, 1);
    EXPECT_EQ(SafeArrayGetLBound(psa.get(), 0, &lb), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(psa.get(), 3, &ub), DISP_E_BADINDEX);
}

// Bounds whose end passes LONG's range (probed under Wine): the array is created, its upper
// bound wraps to 32 bits, and none of its elements can be reached.
TEST(SafeArrayBoundsTest, EndsPastTheLongRangeWrapAndReachNoElement) {
    struct {
        LONG lower;
        ULONG count;
        LONG upper;
        bool reachable;
    } cases[] = {
        // lower        count  upper          reachable
        {INT_MAX - 2, 10, -2147483642, false}, {INT_MAX - 2, 3, INT_MAX, false},
        {INT_MAX - 2, 2, INT_MAX - 1, true},   {INT_MAX, 1, INT_MAX, false},
        {INT_MIN, 10, INT_MIN + 9, true},      {INT_MIN, 0, INT_MAX, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lower);
        SAFEARRAYBOUND bound = {c.count, c.lower};
        UniqueSafeArray psa(SafeArrayCreate(VT_I4, 1, &bound));
        ASSERT_TRUE(psa);
        LONG upper = 0;
        ASSERT_EQ(SafeArrayGetUBound(psa.get(), 1, &upper), S_OK);
        EXPECT_EQ(upper, c.upper);
        LONG first = c.lower;
        LONG value = 7;
        EXPECT_EQ(SafeArrayPutElement(psa.get(), &first, &value),
                  c.reachable ? S_OK : DISP_E_BADINDEX);
        LONG last = upper;
        EXPECT_EQ(SafeArrayGetElement(psa.get(), &last, &value),
                  c.reachable ? S_OK : DISP_E_BADINDEX);
    }
}

TEST_F(TwoDimTest, FirstIndexVariesFastest) {
    platform::SafeArrayDataAccess<LONG> data(psa.get());
    ASSERT_EQ(data.hr(), S_OK);
    const std::vector<LONG> expected = {110, 210, 111, 211, 112, 212};
    EXPECT_EQ(std::vector<LONG>(data.data(), data.data() + 6), expected);

    LONG idx[2] = {2, 11};
    void* cell = nullptr;
    ASSERT_EQ(SafeArrayPtrOfIndex(psa.get(), idx, &cell), S_OK);
    EXPECT_EQ(cell, data.data() + 3);
}

TEST_F(TwoDimTest, IndicesOutsideEitherDimensionAreBad) {
    const LONG bad[][2] = {{0, 10}, {3, 10}, {1, 9}, {1, 13}, {-1, -1}};
    for (const auto& b : bad) {
        LONG idx[2] = {b[0], b[1]};
        LONG value = 0;
        void* cell = nullptr;
        EXPECT_EQ(SafeArrayPutElement(psa.get(), idx, &value), DISP_E_BADINDEX);
        EXPECT_EQ(SafeArrayGetElement(psa.get(), idx, &value), DISP_E_BADINDEX);
        EXPECT_EQ(SafeArrayPtrOfIndex(psa.get(), idx, &cell), DISP_E_BADINDEX);
    }
    EXPECT_EQ(psa.get()->cLocks, 0u);  // failed element calls leave no lock behind
}

TEST_F(TwoDimTest, RedimGrowsTheLastDimensionKeepingCells) {
    SAFEARRAYBOUND grown = {5, 20};
    ASSERT_EQ(SafeArrayRedim(psa.get(), &grown), S_OK);
    LONG lb = 0, ub = 0;
    SafeArrayGetLBound(psa.get(), 2, &lb);
    SafeArrayGetUBound(psa.get(), 2, &ub);
    EXPECT_EQ(lb, 20);
    EXPECT_EQ(ub, 24);
    SafeArrayGetUBound(psa.get(), 1, &ub);
    EXPECT_EQ(ub, 2);  // the first dimension is untouched
    // Cells keep their position in memory, so old (i, j) is now (i, j - 10 + 20).
    for (LONG j = 20; j <= 24; ++j) {
        for (LONG i = 1; i <= 2; ++i) {
            LONG idx[2] = {i, j};
            LONG value = -1;
            ASSERT_EQ(SafeArrayGetElement(psa.get(), idx, &value), S_OK);
            EXPECT_EQ(value, j <= 22 ? i * 100 + j - 10 : 0) << i << "," << j;
        }
    }
}

TEST(SafeArrayTest, RedimOfAVectorKeepsDataAndZeroFills) {
    UniqueSafeArray psa(SafeArrayCreateVector(VT_I4, 5, 3));
    for (LONG i = 5; i < 8; ++i) {
        LONG value = i * 10;
        SafeArrayPutElement(psa.get(), &i, &value);
    }
    SAFEARRAYBOUND grown = {6, 1};
    ASSERT_EQ(SafeArrayRedim(psa.get(), &grown), S_OK);
    std::vector<LONG> got;
    for (LONG i = 1; i <= 6; ++i) {
        LONG value = -1;
        ASSERT_EQ(SafeArrayGetElement(psa.get(), &i, &value), S_OK);
        got.push_back(value);
    }
    EXPECT_EQ(got, (std::vector<LONG>{50, 60, 70, 0, 0, 0}));

    SAFEARRAYBOUND shrunk = {2, 0};
    ASSERT_EQ(SafeArrayRedim(psa.get(), &shrunk), S_OK);
    LONG ub = 0;
    SafeArrayGetUBound(psa.get(), 1, &ub);
    EXPECT_EQ(ub, 1);
    LONG idx = 1, value = 0;
    ASSERT_EQ(SafeArrayGetElement(psa.get(), &idx, &value), S_OK);
    EXPECT_EQ(value, 60);
}

TEST(SafeArrayTest, RedimShrinkReleasesRemovedElementsOnly) {
    CountingUnknown objs[4];
    UniqueSafeArray psa(SafeArrayCreateVector(VT_UNKNOWN, 0, 4));
    for (LONG i = 0; i < 4; ++i) {
        ASSERT_EQ(SafeArrayPutElement(psa.get(), &i, static_cast<IUnknown*>(&objs[i])), S_OK);
    }
    SAFEARRAYBOUND shrunk = {1, 0};
    ASSERT_EQ(SafeArrayRedim(psa.get(), &shrunk), S_OK);
    EXPECT_EQ(objs[0].refs(), 2u);
    EXPECT_EQ(objs[1].refs(), 1u);
    EXPECT_EQ(objs[3].refs(), 1u);
    // Growing again exposes empty cells, not the released pointers.
    SAFEARRAYBOUND grown = {3, 0};
    ASSERT_EQ(SafeArrayRedim(psa.get(), &grown), S_OK);
    LONG idx = 2;
    IUnknown* got = reinterpret_cast<IUnknown*>(1);
    ASSERT_EQ(SafeArrayGetElement(psa.get(), &idx, &got), S_OK);
    EXPECT_EQ(got, nullptr);
    psa.reset();
    EXPECT_EQ(objs[0].refs(), 1u);
}

TEST(SafeArrayTest, RedimRefusals) {
    UniqueSafeArray psa(SafeArrayCreateVector(VT_I4, 0, 2));
    SAFEARRAYBOUND bound = {4, 0};
    EXPECT_EQ(SafeArrayRedim(nullptr, &bound), E_INVALIDARG);
    EXPECT_EQ(SafeArrayRedim(psa.get(), nullptr), E_INVALIDARG);
    psa.get()->fFeatures |= FADF_FIXEDSIZE;
    EXPECT_EQ(SafeArrayRedim(psa.get(), &bound), DISP_E_ARRAYISLOCKED);
    psa.get()->fFeatures &= ~FADF_FIXEDSIZE;
    ASSERT_EQ(SafeArrayLock(psa.get()), S_OK);
    EXPECT_EQ(SafeArrayRedim(psa.get(), &bound), DISP_E_ARRAYISLOCKED);
    ASSERT_EQ(SafeArrayUnlock(psa.get()), S_OK);
}

TEST(SafeArrayTest, LocksCountAndBlockDestruction) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 0, 2);
    ASSERT_EQ(SafeArrayLock(psa), S_OK);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    EXPECT_EQ(data, psa->pvData);
    EXPECT_EQ(psa->cLocks, 2u);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayDestroyData(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayDestroyDescriptor(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
    EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);  // never below zero
    EXPECT_EQ(psa->cLocks, 0u);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArrayTest, NullArgumentsAreRefused) {
    UniqueSafeArray psa(SafeArrayCreateVector(VT_I4, 0, 1));
    LONG idx = 0, value = 0;
    void* ptr = nullptr;
    SAFEARRAY* out = nullptr;
    VARTYPE vt;
    const std::vector<std::pair<const char*, std::function<HRESULT()>>> calls = {
        {"GetLBound", [&] { return SafeArrayGetLBound(nullptr, 1, &value); }},
        {"GetLBound out", [&] { return SafeArrayGetLBound(psa.get(), 1, nullptr); }},
        {"GetUBound", [&] { return SafeArrayGetUBound(nullptr, 1, &value); }},
        {"GetElement", [&] { return SafeArrayGetElement(nullptr, &idx, &value); }},
        {"GetElement indices", [&] { return SafeArrayGetElement(psa.get(), nullptr, &value); }},
        {"GetElement out", [&] { return SafeArrayGetElement(psa.get(), &idx, nullptr); }},
        {"PutElement", [&] { return SafeArrayPutElement(nullptr, &idx, &value); }},
        {"PutElement indices", [&] { return SafeArrayPutElement(psa.get(), nullptr, &value); }},
        {"PtrOfIndex", [&] { return SafeArrayPtrOfIndex(nullptr, &idx, &ptr); }},
        {"Lock", [&] { return SafeArrayLock(nullptr); }},
        {"Unlock", [&] { return SafeArrayUnlock(nullptr); }},
        {"AccessData", [&] { return SafeArrayAccessData(nullptr, &ptr); }},
        {"AccessData out", [&] { return SafeArrayAccessData(psa.get(), nullptr); }},
        {"AllocData", [&] { return SafeArrayAllocData(nullptr); }},
        {"DestroyData", [&] { return SafeArrayDestroyData(nullptr); }},
        {"Copy out", [&] { return SafeArrayCopy(psa.get(), nullptr); }},
        {"GetVartype", [&] { return SafeArrayGetVartype(nullptr, &vt); }},
        {"AllocDescriptor no dims", [&] { return SafeArrayAllocDescriptor(0, &out); }},
    };
    for (const auto& [name, call] : calls) {
        EXPECT_EQ(call(), E_INVALIDARG) << name;
    }
    EXPECT_EQ(SafeArrayAllocDescriptor(1, nullptr), E_POINTER);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
    EXPECT_EQ(SafeArrayDestroyDescriptor(nullptr), S_OK);
    out = psa.get();
    EXPECT_EQ(SafeArrayCopy(nullptr, &out), S_OK);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
    EXPECT_EQ(SafeArrayGetElemsize(nullptr), 0u);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
}

TEST(SafeArrayTest, ZeroElementArraysAreValid) {
    UniqueSafeArray vector(SafeArrayCreateVector(VT_I4, 0, 0));
    ASSERT_TRUE(vector);
    LONG ub = 5;
    ASSERT_EQ(SafeArrayGetUBound(vector.get(), 1, &ub), S_OK);
    EXPECT_EQ(ub, -1);
    SAFEARRAYBOUND bound = {0, 3};
    UniqueSafeArray created(SafeArrayCreate(VT_BSTR, 1, &bound));
    ASSERT_TRUE(created);
    platform::SafeArrayDataAccess<BSTR> data(created.get());
    EXPECT_EQ(data.hr(), S_OK);
    LONG idx = 3;
    BSTR b = nullptr;
    EXPECT_EQ(SafeArrayGetElement(created.get(), &idx, &b), DISP_E_BADINDEX);
}

TEST(SafeArrayTest, BstrElementsAreCopiedInAndOutAndNullIsStoredEmpty) {
    UniqueSafeArray psa(SafeArrayCreateVector(VT_BSTR, 0, 2));
    platform::UniqueBstr source = platform::UniqueBstr::from(OLESTR("name"));
    LONG idx = 0;
    ASSERT_EQ(SafeArrayPutElement(psa.get(), &idx, source.get()), S_OK);
    BSTR stored = static_cast<BSTR*>(psa.get()->pvData)[0];
    EXPECT_NE(stored, source.get());
    source.reset();
    EXPECT_EQ(bstr_text(stored), olestring(OLESTR("name")));

    platform::UniqueBstr fetched;
    ASSERT_EQ(SafeArrayGetElement(psa.get(), &idx, fetched.put()), S_OK);
    EXPECT_NE(fetched.get(), stored);
    EXPECT_EQ(bstr_text(fetched.get()), olestring(OLESTR("name")));

    // Replacing frees the old string (the sanitizers see a leak otherwise); null is stored as
    // the empty string, but an element never written is null and is handed out as null.
    ASSERT_EQ(SafeArrayPutElement(psa.get(), &idx, nullptr), S_OK);
    stored = static_cast<BSTR*>(psa.get()->pvData)[0];
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(SysStringLen(stored), 0u);
    idx = 1;
    BSTR never = reinterpret_cast<BSTR>(1);
    ASSERT_EQ(SafeArrayGetElement(psa.get(), &idx, &never), S_OK);
    EXPECT_EQ(never, nullptr);
}

TEST(SafeArrayTest, InterfaceElementsHoldReferences) {
    CountingUnknown first, second;
    {
        UniqueSafeArray psa(SafeArrayCreateVector(VT_UNKNOWN, 0, 1));
        LONG idx = 0;
        ASSERT_EQ(SafeArrayPutElement(psa.get(), &idx, static_cast<IUnknown*>(&first)), S_OK);
        EXPECT_EQ(first.refs(), 2u);
        ASSERT_EQ(SafeArrayPutElement(psa.get(), &idx, static_cast<IUnknown*>(&second)), S_OK);
        EXPECT_EQ(first.refs(), 1u);
        EXPECT_EQ(second.refs(), 2u);
        IUnknown* fetched = nullptr;
        ASSERT_EQ(SafeArrayGetElement(psa.get(), &idx, &fetched), S_OK);
        EXPECT_EQ(fetched, &second);
        EXPECT_EQ(second.refs(), 3u);
        fetched->Release();
    }
    EXPECT_EQ(second.refs(), 1u);
}

TEST(SafeArrayTest, VariantElementsAreDeepCopied) {
    CountingUnknown obj;
    {
        UniqueSafeArray psa(SafeArrayCreateVector(VT_VARIANT, 0, 2));
        platform::UniqueVariant text;
        text->vt = VT_BSTR;
        text->bstrVal = SysAllocString(OLESTR("value"));
        platform::UniqueVariant unk;
        unk->vt = VT_UNKNOWN;
        unk->punkVal = &obj;
        obj.AddRef();
        LONG idx = 0;
        ASSERT_EQ(SafeArrayPutElement(psa.get(), &idx, text.get()), S_OK);
        idx = 1;
        ASSERT_EQ(SafeArrayPutElement(psa.get(), &idx, unk.get()), S_OK);
        EXPECT_EQ(obj.refs(), 3u);

        const VARIANT* cells = static_cast<VARIANT*>(psa.get()->pvData);
        EXPECT_NE(cells[0].bstrVal, text->bstrVal);
        EXPECT_EQ(bstr_text(cells[0].bstrVal), olestring(OLESTR("value")));

        platform::UniqueVariant fetched;
        idx = 0;
        ASSERT_EQ(SafeArrayGetElement(psa.get(), &idx, fetched.get()), S_OK);
        EXPECT_EQ(fetched.vt(), VT_BSTR);
        EXPECT_NE(fetched->bstrVal, cells[0].bstrVal);
        EXPECT_EQ(bstr_text(fetched->bstrVal), olestring(OLESTR("value")));
    }
    EXPECT_EQ(obj.refs(), 1u);
}

TEST(SafeArrayTest, CopyIsDeepAndDropsAllocationFlags) {
    CountingUnknown obj;
    UniqueSafeArray bstrs(SafeArrayCreateVector(VT_BSTR, 7, 2));
    LONG idx = 8;
    platform::UniqueBstr text = platform::UniqueBstr::from(OLESTR("abc"));
    SafeArrayPutElement(bstrs.get(), &idx, text.get());
    UniqueSafeArray unks(SafeArrayCreateVector(VT_UNKNOWN, 0, 1));
    idx = 0;
    SafeArrayPutElement(unks.get(), &idx, static_cast<IUnknown*>(&obj));
    {
        UniqueSafeArray copy(SafeArrayCreateVector(VT_I4, 0, 1));  // released by copy_to
        ASSERT_EQ(bstrs.copy_to(copy), S_OK);
        EXPECT_EQ(copy.get()->fFeatures, FADF_HAVEVARTYPE | FADF_BSTR);
        LONG lb = 0;
        SafeArrayGetLBound(copy.get(), 1, &lb);
        EXPECT_EQ(lb, 7);
        VARTYPE vt = VT_EMPTY;
        SafeArrayGetVartype(copy.get(), &vt);
        EXPECT_EQ(vt, VT_BSTR);
        BSTR original = static_cast<BSTR*>(bstrs.get()->pvData)[1];
        BSTR copied = static_cast<BSTR*>(copy.get()->pvData)[1];
        EXPECT_NE(copied, original);
        EXPECT_EQ(bstr_text(copied), olestring(OLESTR("abc")));
        EXPECT_EQ(static_cast<BSTR*>(copy.get()->pvData)[0], nullptr);

        UniqueSafeArray unkCopy;
        ASSERT_EQ(unks.copy_to(unkCopy), S_OK);
        EXPECT_EQ(obj.refs(), 3u);
    }
    EXPECT_EQ(obj.refs(), 2u);
}

TEST(SafeArrayTest, DestroyReleasesEveryElement) {
    CountingUnknown obj;
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    SAFEARRAY* psa = SafeArrayCreate(VT_UNKNOWN, 2, bounds);
    for (LONG i = 0; i < 2; ++i) {
        for (LONG j = 0; j < 2; ++j) {
            LONG idx[2] = {i, j};
            SafeArrayPutElement(psa, idx, static_cast<IUnknown*>(&obj));
        }
    }
    EXPECT_EQ(obj.refs(), 5u);
    ASSERT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(obj.refs(), 1u);
}

}  // namespace
