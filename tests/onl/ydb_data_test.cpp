// The YDB data object stand-in where the tests of its users do not reach: the prefix InitData
// lays down, reads past the end, element widths, positioning and sizing.
#include <gtest/gtest.h>

#include "ydb_fixture.h"

namespace {

using namespace ydb_testing;

class YdbDataObjectTest : public YdbTest {};

TEST_F(YdbDataObjectTest, ReadsPastTheEndFailAndLeaveThePosition) {
    auto d = holding({1, 2, 3});
    void* buffer = reinterpret_cast<void*>(1);
    EXPECT_LT(d->ReadElements(&buffer, 1, 4, YDB_ELEM_U32), 0);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(position(d), 0u);
    ASSERT_EQ(d->ReadElements(&buffer, 3, 1, YDB_ELEM_U8), S_OK);
    platform::UniqueTaskMem<BYTE> owned(static_cast<BYTE*>(buffer));
    EXPECT_EQ(owned.get()[2], 3);
    EXPECT_LT(d->ReadElements(&buffer, 1, 1, YDB_ELEM_U8), 0);
}

TEST_F(YdbDataObjectTest, WidthMustBeTheTypeCodesWidth) {
    auto d = fresh();
    const uint64_t v = 0;
    void* buffer = nullptr;
    for (ULONG code = 0; code < 10; ++code) {
        const ULONG good = YDB_ElementWidth(code);
        const ULONG bad = good == 4 ? 2 : 4;
        EXPECT_EQ(d->WriteElements(&v, 1, bad, code), E_INVALIDARG) << code;
        EXPECT_EQ(d->ReadElements(&buffer, 1, bad, code), E_INVALIDARG) << code;
        EXPECT_EQ(d->WriteElements(&v, 1, good, code), good != 0 ? S_OK : E_INVALIDARG) << code;
    }
}

TEST_F(YdbDataObjectTest, InitDataLaysDownPrefixAndDataHeader) {
    auto d = holding({1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                      16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30});
    ASSERT_EQ(d->InitData(1, 4, 0x1234, 0, 0xFFFF), S_OK);
    const Bytes expected = Bytes{'Y', 'D', 'B', 1} + le({1, 0, 0}) + le({4, 0x1234, 0, 0xFFFF}, 2);
    EXPECT_EQ(contents(d), expected);
    EXPECT_EQ(position(d), 24u);
    EXPECT_EQ(d->InitData(1, 0x10000, 0, 0, 0), E_INVALIDARG);
    EXPECT_EQ(contents(d), expected);
}

TEST_F(YdbDataObjectTest, SeekAndSizeStayWithinTheData) {
    auto d = holding({1, 2, 3, 4});
    ULONG pos = 0;
    EXPECT_EQ(d->Seek(5, 0, &pos), E_INVALIDARG);
    EXPECT_EQ(d->Seek(4, 0, &pos), S_OK);
    EXPECT_EQ(d->Seek(static_cast<ULONG>(-1), 1, &pos), S_OK);
    EXPECT_EQ(pos, 3u);
    EXPECT_EQ(d->Seek(static_cast<ULONG>(-4), 2, &pos), S_OK);
    EXPECT_EQ(pos, 0u);
    EXPECT_EQ(d->Seek(0, 3, &pos), E_INVALIDARG);

    seek(d, 4);
    ASSERT_EQ(d->SetByteCount(2), S_OK);
    EXPECT_EQ(position(d), 2u);
    ASSERT_EQ(d->SetByteCount(5), S_OK);
    EXPECT_EQ(contents(d), (Bytes{1, 2, 0, 0, 0}));
    EXPECT_EQ(d->SetByteCount(YDB_DATA_MAX_BYTES + 1), E_OUTOFMEMORY);
}

}  // namespace
