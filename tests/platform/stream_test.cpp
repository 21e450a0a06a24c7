// The memory stream: reading at and past the end, seeking, growth and size.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/com_ptr.h"
#include "platform/winapi.h"

namespace {

using platform::ComPtr;

ComPtr<IStream> make_stream(const char* init) {
    return ComPtr<IStream>::attach(SHCreateMemStream(reinterpret_cast<const BYTE*>(init),
                                                     static_cast<UINT>(std::strlen(init))));
}

ULONGLONG seek(IStream* s, LONGLONG offset, DWORD origin, HRESULT expected = S_OK) {
    LARGE_INTEGER move;
    move.QuadPart = offset;
    ULARGE_INTEGER pos;
    pos.QuadPart = 0xDEAD;
    EXPECT_EQ(s->Seek(move, origin, &pos), expected);
    return pos.QuadPart;
}

ULONGLONG size_of(IStream* s) {
    STATSTG stat;
    EXPECT_EQ(s->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.type, static_cast<DWORD>(STGTY_STREAM));
    return stat.cbSize.QuadPart;
}

TEST(MemStreamTest, ReadsACopyOfItsInitialBytesThenNothing) {
    char init[] = "abcdef";
    ComPtr<IStream> s = make_stream(init);
    ASSERT_TRUE(s);
    init[0] = 'X';
    char buf[10] = {};
    ULONG n = 0;
    EXPECT_EQ(s->Read(buf, 4, &n), S_OK);
    EXPECT_EQ(std::string(buf, n), "abcd");
    EXPECT_EQ(s->Read(buf, 10, &n), S_OK);  // short read still succeeds
    EXPECT_EQ(std::string(buf, n), "ef");
    EXPECT_EQ(s->Read(buf, 10, &n), S_FALSE);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(s->Read(buf, 1, nullptr), S_FALSE);
    seek(s.get(), 0, STREAM_SEEK_SET);
    EXPECT_EQ(s->Read(buf, 1, &n), S_OK);
    EXPECT_EQ(buf[0], 'a');
    ComPtr<IStream> empty = ComPtr<IStream>::attach(SHCreateMemStream(nullptr, 0));
    ASSERT_TRUE(empty);
    EXPECT_EQ(size_of(empty.get()), 0u);
}

TEST(MemStreamTest, SeekOriginsAndLimits) {
    ComPtr<IStream> s = make_stream("abcdef");
    EXPECT_EQ(seek(s.get(), 2, STREAM_SEEK_SET), 2u);
    EXPECT_EQ(seek(s.get(), 3, STREAM_SEEK_CUR), 5u);
    EXPECT_EQ(seek(s.get(), -1, STREAM_SEEK_END), 5u);
    seek(s.get(), -1, STREAM_SEEK_SET, STG_E_INVALIDFUNCTION);
    EXPECT_EQ(seek(s.get(), 0, STREAM_SEEK_CUR), 5u);  // a refused seek does not move
    char c = 0;
    s->Read(&c, 1, nullptr);
    EXPECT_EQ(c, 'f');
}

TEST(MemStreamTest, WritesGrowAndZeroFillGaps) {
    ComPtr<IStream> s = make_stream("abc");
    seek(s.get(), 5, STREAM_SEEK_SET);
    ULONG written = 0;
    ASSERT_EQ(s->Write("xy", 2, &written), S_OK);
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(size_of(s.get()), 7u);
    seek(s.get(), 0, STREAM_SEEK_SET);
    char buf[8] = {};
    ULONG n = 0;
    s->Read(buf, 8, &n);
    EXPECT_EQ(std::string(buf, n), std::string("abc\0\0xy", 7));

    ULARGE_INTEGER size;
    size.QuadPart = 2;
    ASSERT_EQ(s->SetSize(size), S_OK);
    EXPECT_EQ(size_of(s.get()), 2u);
}

}  // namespace
