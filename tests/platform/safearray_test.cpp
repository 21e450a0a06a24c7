// SAFEARRAY behaviour the component relies on: flags, bounds and index order, element ownership,
// locking, redimensioning and copies. Runs against our layer and against the system's.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <utility>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/raii.h"
#include "platform/winapi.h"
#include "support/counting_unknown.h"
#include "support/wstr.h"

namespace {

using platform::UniqueSafeArray;
using testing_support::bstr_text;
using testing_support::CountingUnknown;
using testing_support::olestring;
using Bounds = std::pair<LONG, LONG>;
using Longs = std::vector<LONG>;

Bounds bounds(SAFEARRAY* psa, UINT dim) {
    LONG lb = -99, ub = -99;
    EXPECT_EQ(SafeArrayGetLBound(psa, dim, &lb), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(psa, dim, &ub), S_OK);
    return {lb, ub};
}

// One index: value points at an LONG or VARIANT, or is the BSTR or interface itself.
HRESULT put(SAFEARRAY* psa, LONG i, void* value) {
    return SafeArrayPutElement(psa, &i, value);
}
HRESULT get(SAFEARRAY* psa, LONG i, void* out) {
    return SafeArrayGetElement(psa, &i, out);
}

// Every element of a 1-D VT_I4 array, read one by one.
Longs longs(SAFEARRAY* psa) {
    Longs got;
    const Bounds b = bounds(psa, 1);
    for (LONG i = b.first; i <= b.second; ++i) {
        LONG value = -1;
        EXPECT_EQ(get(psa, i, &value), S_OK) << i;
        got.push_back(value);
    }
    return got;
}

VARTYPE vartype(SAFEARRAY* psa) {
    VARTYPE vt = VT_ILLEGAL;
    EXPECT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
    return vt;
}

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
    ASSERT_TRUE(created && vector);
    EXPECT_EQ(SafeArrayGetElemsize(created.get()), c.elemsize);
    EXPECT_EQ(created.get()->fFeatures, c.features);
    EXPECT_EQ(vector.get()->fFeatures, c.features | FADF_CREATEVECTOR);
    EXPECT_EQ(vartype(created.get()), c.vt);
    EXPECT_EQ(vartype(vector.get()), c.vt);
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
    IID iid = {0x1ABC6A22, 0x24A3, 0x4E50, {0x9F, 0xAD, 0xF6, 0xBA, 0x6B, 0x92, 0x9E, 0xE3}};
    UniqueSafeArray ex(SafeArrayCreateVectorEx(VT_UNKNOWN, 0, 1, &iid));
    UniqueSafeArray plain(SafeArrayCreateVector(VT_UNKNOWN, 0, 1));
    const std::pair<SAFEARRAY*, IID> cases[] = {{ex.get(), iid}, {plain.get(), IID_IUnknown}};
    for (const auto& [psa, expected] : cases) {
        GUID got{};
        ASSERT_EQ(SafeArrayGetIID(psa, &got), S_OK);
        EXPECT_TRUE(IsEqualGUID(got, expected));
    }
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
    EXPECT_EQ(bounds(psa.get(), 1), Bounds(1, 2));
    EXPECT_EQ(bounds(psa.get(), 2), Bounds(10, 12));
    // The descriptor stores the last dimension first.
    const SAFEARRAYBOUND* b = psa.get()->rgsabound;
    EXPECT_EQ(Longs({LONG(b[0].cElements), b[0].lLbound, LONG(b[1].cElements), b[1].lLbound}),
              Longs({3, 10, 2, 1}));
    LONG out = 0;
    EXPECT_EQ(SafeArrayGetLBound(psa.get(), 0, &out), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(psa.get(), 3, &out), DISP_E_BADINDEX);
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
        EXPECT_EQ(bounds(psa.get(), 1).second, c.upper);
        LONG value = 7;
        const HRESULT reach = c.reachable ? S_OK : DISP_E_BADINDEX;
        EXPECT_EQ(put(psa.get(), c.lower, &value), reach);
        EXPECT_EQ(get(psa.get(), c.upper, &value), reach);
    }
}

TEST_F(TwoDimTest, FirstIndexVariesFastest) {
    platform::SafeArrayDataAccess<LONG> data(psa.get());
    ASSERT_EQ(data.hr(), S_OK);
    EXPECT_EQ(Longs(data.data(), data.data() + 6), Longs({110, 210, 111, 211, 112, 212}));
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
    EXPECT_EQ(bounds(psa.get(), 2), Bounds(20, 24));
    EXPECT_EQ(bounds(psa.get(), 1), Bounds(1, 2));
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
        ASSERT_EQ(put(psa.get(), i, &value), S_OK);
    }
    SAFEARRAYBOUND grown = {6, 1};
    ASSERT_EQ(SafeArrayRedim(psa.get(), &grown), S_OK);
    EXPECT_EQ(longs(psa.get()), Longs({50, 60, 70, 0, 0, 0}));
    SAFEARRAYBOUND shrunk = {2, 0};
    ASSERT_EQ(SafeArrayRedim(psa.get(), &shrunk), S_OK);
    EXPECT_EQ(longs(psa.get()), Longs({50, 60}));
}

TEST(SafeArrayTest, RedimShrinkReleasesRemovedElementsOnly) {
    CountingUnknown objs[4];
    UniqueSafeArray psa(SafeArrayCreateVector(VT_UNKNOWN, 0, 4));
    for (LONG i = 0; i < 4; ++i) {
        ASSERT_EQ(put(psa.get(), i, static_cast<IUnknown*>(&objs[i])), S_OK);
    }
    SAFEARRAYBOUND shrunk = {1, 0};
    ASSERT_EQ(SafeArrayRedim(psa.get(), &shrunk), S_OK);
    EXPECT_EQ(std::vector<ULONG>({objs[0].refs(), objs[1].refs(), objs[3].refs()}),
              std::vector<ULONG>({2, 1, 1}));
    // Growing again exposes empty cells, not the released pointers.
    SAFEARRAYBOUND grown = {3, 0};
    ASSERT_EQ(SafeArrayRedim(psa.get(), &grown), S_OK);
    IUnknown* got = reinterpret_cast<IUnknown*>(1);
    ASSERT_EQ(get(psa.get(), 2, &got), S_OK);
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
    platform::SafeArrayDataAccess<LONG> lock(psa.get());
    EXPECT_EQ(SafeArrayRedim(psa.get(), &bound), DISP_E_ARRAYISLOCKED);
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
    EXPECT_EQ(bounds(vector.get(), 1), Bounds(0, -1));
    SAFEARRAYBOUND bound = {0, 3};
    UniqueSafeArray created(SafeArrayCreate(VT_BSTR, 1, &bound));
    ASSERT_TRUE(created);
    EXPECT_EQ(platform::SafeArrayDataAccess<BSTR>(created.get()).hr(), S_OK);
    BSTR b = nullptr;
    EXPECT_EQ(get(created.get(), 3, &b), DISP_E_BADINDEX);
}

TEST(SafeArrayTest, BstrElementsAreCopiedInAndOutAndNullIsStoredEmpty) {
    UniqueSafeArray psa(SafeArrayCreateVector(VT_BSTR, 0, 2));
    BSTR* cells = static_cast<BSTR*>(psa.get()->pvData);
    platform::UniqueBstr source = platform::UniqueBstr::from(OLESTR("name"));
    ASSERT_EQ(put(psa.get(), 0, source.get()), S_OK);
    EXPECT_NE(cells[0], source.get());
    source.reset();
    EXPECT_EQ(bstr_text(cells[0]), OLESTR("name"));
    platform::UniqueBstr fetched;
    ASSERT_EQ(get(psa.get(), 0, fetched.put()), S_OK);
    EXPECT_NE(fetched.get(), cells[0]);
    EXPECT_EQ(bstr_text(fetched.get()), OLESTR("name"));

    // Replacing frees the old string (the sanitizers see a leak otherwise); null is stored as
    // the empty string, but an element never written is null and is handed out as null.
    ASSERT_EQ(put(psa.get(), 0, nullptr), S_OK);
    ASSERT_NE(cells[0], nullptr);
    EXPECT_EQ(SysStringLen(cells[0]), 0u);
    BSTR never = reinterpret_cast<BSTR>(1);
    ASSERT_EQ(get(psa.get(), 1, &never), S_OK);
    EXPECT_EQ(never, nullptr);
}

TEST(SafeArrayTest, InterfaceElementsHoldReferences) {
    CountingUnknown first, second;
    {
        UniqueSafeArray psa(SafeArrayCreateVector(VT_UNKNOWN, 0, 1));
        ASSERT_EQ(put(psa.get(), 0, static_cast<IUnknown*>(&first)), S_OK);
        EXPECT_EQ(first.refs(), 2u);
        ASSERT_EQ(put(psa.get(), 0, static_cast<IUnknown*>(&second)), S_OK);
        EXPECT_EQ(first.refs(), 1u);
        platform::ComPtr<IUnknown> fetched;
        ASSERT_EQ(get(psa.get(), 0, fetched.put()), S_OK);
        EXPECT_EQ(fetched.get(), &second);
        EXPECT_EQ(second.refs(), 3u);
    }
    EXPECT_EQ(second.refs(), 1u);
}

TEST(SafeArrayTest, VariantElementsAreDeepCopied) {
    CountingUnknown obj;
    {
        UniqueSafeArray psa(SafeArrayCreateVector(VT_VARIANT, 0, 2));
        platform::UniqueVariant text, unk;
        text->vt = VT_BSTR;
        text->bstrVal = SysAllocString(OLESTR("value"));
        unk->vt = VT_UNKNOWN;
        unk->punkVal = &obj;
        obj.AddRef();
        ASSERT_EQ(put(psa.get(), 0, text.get()), S_OK);
        ASSERT_EQ(put(psa.get(), 1, unk.get()), S_OK);
        EXPECT_EQ(obj.refs(), 3u);

        const VARIANT* cells = static_cast<VARIANT*>(psa.get()->pvData);
        EXPECT_NE(cells[0].bstrVal, text->bstrVal);
        EXPECT_EQ(bstr_text(cells[0].bstrVal), OLESTR("value"));
        platform::UniqueVariant fetched;
        ASSERT_EQ(get(psa.get(), 0, fetched.get()), S_OK);
        EXPECT_EQ(fetched.vt(), VT_BSTR);
        EXPECT_NE(fetched->bstrVal, cells[0].bstrVal);
        EXPECT_EQ(bstr_text(fetched->bstrVal), OLESTR("value"));
    }
    EXPECT_EQ(obj.refs(), 1u);
}

TEST(SafeArrayTest, CopyIsDeepAndDropsAllocationFlags) {
    CountingUnknown obj;
    UniqueSafeArray bstrs(SafeArrayCreateVector(VT_BSTR, 7, 2));
    platform::UniqueBstr text = platform::UniqueBstr::from(OLESTR("abc"));
    ASSERT_EQ(put(bstrs.get(), 8, text.get()), S_OK);
    UniqueSafeArray unks(SafeArrayCreateVector(VT_UNKNOWN, 0, 1));
    ASSERT_EQ(put(unks.get(), 0, static_cast<IUnknown*>(&obj)), S_OK);
    {
        UniqueSafeArray copy(SafeArrayCreateVector(VT_I4, 0, 1));  // released by copy_to
        ASSERT_EQ(bstrs.copy_to(copy), S_OK);
        EXPECT_EQ(copy.get()->fFeatures, FADF_HAVEVARTYPE | FADF_BSTR);
        EXPECT_EQ(bounds(copy.get(), 1), Bounds(7, 8));
        EXPECT_EQ(vartype(copy.get()), VT_BSTR);
        const BSTR* copied = static_cast<BSTR*>(copy.get()->pvData);
        EXPECT_NE(copied[1], static_cast<BSTR*>(bstrs.get()->pvData)[1]);
        EXPECT_EQ(bstr_text(copied[1]), OLESTR("abc"));
        EXPECT_EQ(copied[0], nullptr);

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
    for (LONG i = 0; i < 4; ++i) {
        LONG idx[2] = {i % 2, i / 2};
        ASSERT_EQ(SafeArrayPutElement(psa, idx, static_cast<IUnknown*>(&obj)), S_OK);
    }
    EXPECT_EQ(obj.refs(), 5u);
    ASSERT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(obj.refs(), 1u);
}

}  // namespace
