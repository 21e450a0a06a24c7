// Gen_ExStream: one element call per value with the type code's width, composite values as a
// sequence of calls, sticky failure, Touch on every state query, and IStream contents.
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "engsys/memory_ydb_data.h"
#include "ydb_fixture.h"

namespace {

using namespace ydb_testing;
using testing_support::ydb_element_calls;

class YdbExStreamTest : public YdbTest {};

struct ScalarCase {
    const char* name;
    std::function<void(Gen_ExStream&)> write;
    std::function<bool(Gen_ExStream&)> readsBack;
    ULONG width;
    ULONG code;
};

template <class T>
ScalarCase scalar(const char* name, T value, ULONG width, ULONG code) {
    return {name, [value](Gen_ExStream& s) { s << value; },
            [value](Gen_ExStream& s) {
                T got{};
                s >> got;
                return got == value;
            },
            width, code};
}

TEST_F(YdbExStreamTest, EveryScalarIsOneCallWithItsCodeAndWidth) {
    const ScalarCase cases[] = {
        scalar<int64_t>("i64", -5, 8, 8),       scalar<uint64_t>("u64", 1ull << 40, 8, 8),
        scalar<double>("f64", 2.5, 8, 7),       scalar<float>("f32", -1.25f, 4, 6),
        scalar<int32_t>("i32", -70000, 4, 4),   scalar<uint32_t>("u32", 0xDEADBEEF, 4, 5),
        scalar<int16_t>("i16", -3, 2, 2),       scalar<uint16_t>("u16", 0xBEEF, 2, 3),
        scalar<uint8_t>("u8", 200, 1, 1),       scalar<char>("char", 'x', 1, 0),
        scalar<signed char>("schar", -7, 1, 0),
    };
    for (const ScalarCase& c : cases) {
        auto d = fresh();
        Gen_ExStream s(d.get());
        c.write(s);
        seek(d, 0);
        EXPECT_TRUE(c.readsBack(s)) << c.name;
        EXPECT_TRUE(s.good()) << c.name;
        const auto calls = ydb_element_calls(d);
        ASSERT_EQ(calls.size(), 2u) << c.name;
        for (ULONG i = 0; i < 2; ++i) {  // write, count, width, code
            EXPECT_EQ((std::vector<ULONG>{calls[i].write, calls[i].count, calls[i].width,
                                          calls[i].typeCode}),
                      (std::vector<ULONG>{1 - i, 1, c.width, c.code}))
                << c.name;
        }
    }
}

TEST_F(YdbExStreamTest, CompositesAreSequencesOfElementCalls) {
    auto d = fresh();
    Gen_ExStream s(d.get());
    Gen_ExIdent ident;
    ident.m_Major = 1;
    ident.m_Minor = 2;
    for (int i = 0; i < 16; ++i) {
        ident.m_Bytes[i] = static_cast<uint8_t>(i);
    }
    s << ident << true << Gen_ExVersion{3, 4};
    // The 20-byte record: two 16-bit words and sixteen u8 elements, never one block; a boolean
    // goes as a character, not as u8. (type code, count) of each call:
    std::vector<std::pair<ULONG, ULONG>> calls;
    for (const auto& call : ydb_element_calls(d)) {
        calls.emplace_back(call.typeCode, call.count);
    }
    EXPECT_EQ(calls, (std::vector<std::pair<ULONG, ULONG>>{
                         {3, 1}, {3, 1}, {1, 16}, {0, 1}, {3, 1}, {3, 1}}));
    EXPECT_EQ(contents(d).size(), 25u);

    seek(d, 0);
    Gen_ExIdent back;
    Gen_ExBool32 flag{0x7F7F7F00};
    Gen_ExVersion version;
    s >> back >> flag >> version;
    EXPECT_TRUE(s.good());
    EXPECT_EQ((std::vector<int>{back.m_Minor, back.m_Bytes[15], flag.m_Value, version.m_Minor}),
              (std::vector<int>{2, 15, 1, 4}));
}

TEST_F(YdbExStreamTest, FailureIsStickyAndGoodStillTouches) {
    auto d = fresh();
    auto c = control(d);
    Gen_ExStream s(d.get());
    ASSERT_EQ(c->FailCall(2, 1, E_FAIL), S_OK);
    s << uint32_t{1} << uint32_t{2};
    EXPECT_FALSE(s.ok());
    ASSERT_EQ(c->ClearLog(), S_OK);
    uint32_t target = 77;
    Gen_ExBool32 flag{5};
    s << uint32_t{3};
    s >> target >> flag;
    EXPECT_FALSE(s.writeArray("ab", 2, 0));
    EXPECT_EQ(s.position() + s.byteCount(), 0u);
    EXPECT_FALSE(s.commit());
    EXPECT_TRUE(ydb_element_calls(d).empty());
    const auto callsAt = [&](ULONG position) {
        ULONG n = 1;
        EXPECT_EQ(c->GetCallCount(position, &n), S_OK);
        return n;
    };
    EXPECT_EQ((std::vector<ULONG>{callsAt(1), callsAt(9), callsAt(13), callsAt(14)}),
              (std::vector<ULONG>{0, 0, 0, 0}));
    EXPECT_EQ((std::vector<int64_t>{target, flag.m_Value}), (std::vector<int64_t>{77, 5}));
    EXPECT_FALSE(s.good());
    EXPECT_FALSE(s.good());
    EXPECT_EQ(callsAt(14), 2u);
    EXPECT_EQ(contents(d).size(), 4u);

    // Only attach makes a stream good again; a null object makes it bad.
    s.attach(d.get());
    EXPECT_TRUE(s.good());
    s.attach(nullptr);
    EXPECT_FALSE(s.good());
    Gen_ExStream none(nullptr);
    none << uint32_t{1};
    EXPECT_FALSE(none.good());
}

TEST_F(YdbExStreamTest, FailedByteCountMarksTheStreamBad) {
    auto d = holding({1, 2, 3});
    Gen_ExStream s(d.get());
    EXPECT_EQ(s.byteCount(), 3u);
    ASSERT_EQ(control(d)->FailCall(1, 0, E_FAIL), S_OK);
    EXPECT_EQ(s.byteCount(), 0u);
    EXPECT_FALSE(s.ok());
}

TEST_F(YdbExStreamTest, IStreamContentsTravelWithTheirLength) {
    const BYTE text[] = {'h', 'e', 'l', 'l', 'o'};
    const auto memory = [](const BYTE* bytes, UINT n) {
        return platform::ComPtr<IStream>::attach(SHCreateMemStream(bytes, n));
    };
    platform::ComPtr<IStream> source = memory(text, sizeof text);
    ASSERT_TRUE(source);
    auto d = fresh();
    Gen_ExStream s(d.get());
    s << source.get();
    ASSERT_TRUE(s.good());
    EXPECT_EQ(contents(d), (le({5}) + Bytes{'h', 'e', 'l', 'l', 'o'}));

    seek(d, 0);
    platform::ComPtr<IStream> target = memory(nullptr, 0), untouched = memory(nullptr, 0);
    s >> target.get();
    ASSERT_TRUE(s.good());
    STATSTG stat{};
    ASSERT_EQ(target->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 5u);

    // An announced length beyond the data is refused before anything is allocated or written.
    auto bad = holding(le({0xFFFFFFF0u}) + Bytes{'x'});
    Gen_ExStream r(bad.get());
    r >> untouched.get();
    EXPECT_FALSE(r.good());
    ASSERT_EQ(untouched->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 0u);
}

}  // namespace

namespace {

// A data object without the direct face (every real one outside our stand-in): reads come back
// in task memory, and the values and failures are those of the direct path.
TEST_F(YdbExStreamTest, ObjectWithoutDirectFaceReadsTheSameValues) {
    auto d = fresh();
    {
        Gen_ExStream s(d.get());
        s << int64_t{-5} << 2.5 << uint32_t{0xDEADBEEF} << true << uint16_t{0xBEEF};
    }
    engsys::MemoryYdbData plain(contents(d));
    platform::ComPtr<IYDB_DataDirect> direct;
    ASSERT_EQ(platform::ComPtr<IYDB_Data>(&plain).query(direct), E_NOINTERFACE);

    Gen_ExStream s(&plain);
    int64_t i64 = 0;
    double f64 = 0;
    uint32_t u32 = 0;
    Gen_ExBool32 flag;
    uint16_t u16 = 0;
    s >> i64 >> f64 >> u32 >> flag >> u16;
    EXPECT_TRUE(s.good());
    EXPECT_EQ(i64, -5);
    EXPECT_EQ(f64, 2.5);
    EXPECT_EQ(u32, 0xDEADBEEFu);
    EXPECT_EQ(flag.m_Value, 1);
    EXPECT_EQ(u16, 0xBEEF);
    // Past the end: the stream fails and the target keeps its value.
    uint32_t untouched = 7;
    s >> untouched;
    EXPECT_FALSE(s.good());
    EXPECT_EQ(untouched, 7u);
}

// The lock of one message nests and is the caller's to give back; a stray unlock is refused.
TEST_F(YdbExStreamTest, SequenceLockNestsAndRefusesAStrayUnlock) {
    auto d = fresh();
    platform::ComPtr<IYDB_DataDirect> direct;
    ASSERT_EQ(d.query(direct), S_OK);
    EXPECT_EQ(direct->UnlockSequence(), E_UNEXPECTED);
    ASSERT_EQ(direct->LockSequence(), S_OK);
    ASSERT_EQ(direct->LockSequence(), S_OK);
    ULONG size = 1;
    EXPECT_EQ(d->GetByteCount(&size), S_OK);  // the holder's own calls go through
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(direct->UnlockSequence(), S_OK);
    EXPECT_EQ(direct->UnlockSequence(), S_OK);
    EXPECT_EQ(direct->UnlockSequence(), E_UNEXPECTED);
}

}  // namespace
