// The resource owners: reference counts and ownership transfers, and deep copies; the task
// allocator they hand memory out with.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <utility>

#include "platform/com_ptr.h"
#include "platform/raii.h"
#include "platform/winapi.h"
#include "support/counting_unknown.h"
#include "support/wstr.h"

namespace {

using platform::ComPtr;
using platform::SafeArrayDataAccess;
using platform::UniqueBstr;
using platform::UniqueSafeArray;
using platform::UniqueTaskMem;
using platform::UniqueVariant;
using testing_support::bstr_text;
using testing_support::CountingUnknown;
using testing_support::olestring;

TEST(ComPtrTest, ReferenceCountFollowsOwnership) {
    CountingUnknown obj;
    {
        ComPtr<IUnknown> a(&obj);
        EXPECT_EQ(obj.refs(), 2u);
        ComPtr<IUnknown> b = a;
        EXPECT_EQ(obj.refs(), 3u);
        ComPtr<IUnknown> c = std::move(b);
        EXPECT_FALSE(b);
        IUnknown* raw = c.detach();
        EXPECT_FALSE(c);
        ComPtr<IUnknown> d = ComPtr<IUnknown>::attach(raw);
        EXPECT_EQ(obj.refs(), 3u);  // neither move, detach nor attach counts

        EXPECT_EQ(*d.put(), nullptr);
        EXPECT_EQ(obj.refs(), 2u);
        ASSERT_EQ(a.copy_to(d.put()), S_OK);
        EXPECT_EQ(d.get(), &obj);
        EXPECT_EQ(obj.refs(), 3u);

        ComPtr<IUnknown> q;
        ASSERT_EQ(a.query(q), S_OK);
        EXPECT_EQ(q, a);
        EXPECT_EQ(obj.refs(), 4u);
        // A failed query releases what the target held and leaves it empty.
        EXPECT_EQ(a.query(IID_IDispatch, q), E_NOINTERFACE);
        EXPECT_FALSE(q);
        EXPECT_EQ(obj.refs(), 3u);
        EXPECT_EQ(ComPtr<IUnknown>().query(q), E_POINTER);
    }
    EXPECT_EQ(obj.refs(), 1u);
}

TEST(UniqueBstrTest, FromCopyReleaseResetPut) {
    EXPECT_FALSE(UniqueBstr::from(nullptr));
    EXPECT_FALSE(UniqueBstr().copy());
    const OLECHAR embedded[] = {'x', 0, 'y'};
    EXPECT_EQ(bstr_text(UniqueBstr::from(embedded, 3).get()), olestring(embedded, 3));
    UniqueBstr original(SysAllocStringByteLen("a\0b\0c", 5));  // an odd byte length
    UniqueBstr copy = original.copy();
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), original.get());
    EXPECT_EQ(SysStringByteLen(copy.get()), 5u);
    EXPECT_EQ(std::memcmp(copy.get(), "a\0b\0c", 5), 0);

    BSTR raw = copy.release();
    EXPECT_FALSE(copy);
    copy.reset(raw);
    EXPECT_EQ(copy.get(), raw);
    // The sanitizers report a leak if reset or put forgets the old string.
    copy.reset(SysAllocString(OLESTR("two")));
    EXPECT_EQ(bstr_text(copy.get()), OLESTR("two"));
    BSTR* slot = copy.put();
    EXPECT_EQ(*slot, nullptr);
    *slot = SysAllocString(OLESTR("three"));
    EXPECT_EQ(bstr_text(copy.get()), OLESTR("three"));
}

TEST(UniqueVariantTest, InterfaceCountsThroughCopyReleaseAndMove) {
    CountingUnknown obj;
    {
        VARIANT raw{};
        raw.vt = VT_UNKNOWN;
        raw.punkVal = &obj;
        obj.AddRef();
        UniqueVariant owner(raw);
        EXPECT_EQ(raw.vt, VT_EMPTY);
        EXPECT_EQ(obj.refs(), 2u);

        UniqueVariant copy;
        ASSERT_EQ(copy.copy_from(owner.get()), S_OK);
        EXPECT_EQ(copy->punkVal, &obj);
        EXPECT_EQ(obj.refs(), 3u);

        VARIANT out{};
        ASSERT_EQ(owner.copy_to(&out), S_OK);
        EXPECT_EQ(obj.refs(), 4u);
        EXPECT_EQ(VariantClear(&out), S_OK);
        EXPECT_EQ(obj.refs(), 3u);

        VARIANT handed = copy.release();
        EXPECT_EQ(copy.vt(), VT_EMPTY);
        EXPECT_EQ(handed.vt, VT_UNKNOWN);
        EXPECT_EQ(VariantClear(&handed), S_OK);
        EXPECT_EQ(obj.refs(), 2u);

        UniqueVariant moved(std::move(owner));
        EXPECT_EQ(owner.vt(), VT_EMPTY);
        EXPECT_EQ(moved->punkVal, &obj);
        UniqueVariant target;
        target->vt = VT_BSTR;
        target->bstrVal = SysAllocString(OLESTR("replaced"));
        target = std::move(moved);
        EXPECT_EQ(target.vt(), VT_UNKNOWN);
        EXPECT_EQ(obj.refs(), 2u);
    }
    EXPECT_EQ(obj.refs(), 1u);
}

TEST(UniqueTaskMemTest, Allocate) {
    constexpr SIZE_T kCount = 64;
    {
        // Dirty a block of the same size first, so that a reused block shows up.
        auto dirty = UniqueTaskMem<LONG>::allocate(kCount);
        std::memset(dirty.get(), 0xAB, kCount * sizeof(LONG));
    }
    auto mem = UniqueTaskMem<LONG>::allocate(kCount);
    for (SIZE_T i = 0; i < kCount; ++i) {
        ASSERT_EQ(mem.get()[i], 0) << i;
    }
    EXPECT_TRUE(UniqueTaskMem<LONG>::allocate(0));
    EXPECT_THROW(UniqueTaskMem<LONG>::allocate(static_cast<SIZE_T>(-1) / sizeof(LONG) + 1),
                 std::bad_alloc);
}

TEST(TaskMemTest, ReallocKeepsContentsAndEdgeSizes) {
    auto* p = static_cast<char*>(CoTaskMemAlloc(4));
    std::memcpy(p, "abc", 4);
    p = static_cast<char*>(CoTaskMemRealloc(p, 4096));
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "abc");
    CoTaskMemFree(p);
    void* zero = CoTaskMemAlloc(0);
    EXPECT_NE(zero, nullptr);
    EXPECT_EQ(CoTaskMemRealloc(zero, 0), nullptr);  // frees the block
    UniqueTaskMem<char> fresh(static_cast<char*>(CoTaskMemRealloc(nullptr, 16)));
    EXPECT_TRUE(fresh);
    CoTaskMemFree(nullptr);
}

TEST(SafeArrayDataAccessTest, LocksForItsScope) {
    UniqueSafeArray sa(SafeArrayCreateVector(VT_I4, 0, 3));
    ASSERT_TRUE(sa);
    {
        SafeArrayDataAccess<LONG> access(sa.get());
        ASSERT_EQ(access.hr(), S_OK);
        EXPECT_EQ(sa.get()->cLocks, 1u);
        EXPECT_EQ(SafeArrayDestroy(sa.get()), DISP_E_ARRAYISLOCKED);
        access[2] = 7;
    }
    EXPECT_EQ(sa.get()->cLocks, 0u);
    LONG index = 2, value = 0;
    ASSERT_EQ(SafeArrayGetElement(sa.get(), &index, &value), S_OK);
    EXPECT_EQ(value, 7);

    SafeArrayDataAccess<LONG> none(nullptr);
    EXPECT_TRUE(FAILED(none.hr()));
    EXPECT_EQ(none.data(), nullptr);
}

}  // namespace
