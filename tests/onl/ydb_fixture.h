// Common ground of the YDB service tests: COM on the test thread, the data object class served
// in the process, and byte-image helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "onl/ydbservice/gen_exstream.h"
#include "engsys/ydbdata_class.h"

namespace ydb_testing {

using Bytes = std::vector<BYTE>;

class YdbTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        m_class = std::make_unique<testing_support::YdbDataClass>();
        ASSERT_TRUE(m_class->ready());
    }
    void TearDown() override {
        m_class.reset();
        CoUninitialize();
    }

    static platform::ComPtr<IYDB_Data> fresh() {
        auto data = testing_support::YdbDataClass::create();
        EXPECT_TRUE(data);
        return data;
    }
    static platform::ComPtr<IYDB_DataControl> control(const platform::ComPtr<IYDB_Data>& d) {
        return testing_support::YdbDataClass::control(d);
    }
    static Bytes contents(const platform::ComPtr<IYDB_Data>& d) {
        return testing_support::ydb_contents(d.get());
    }
    static void seek(const platform::ComPtr<IYDB_Data>& d, ULONG position) {
        ULONG ignored = 0;
        ASSERT_EQ(d->Seek(position, 0, &ignored), S_OK);
    }
    static ULONG position(const platform::ComPtr<IYDB_Data>& d) {
        ULONG pos = 0xFFFFFFFF;
        EXPECT_EQ(d->GetPosition(&pos), S_OK);
        return pos;
    }
    // A data object holding exactly these bytes, positioned at its start.
    static platform::ComPtr<IYDB_Data> holding(const Bytes& bytes) {
        auto d = fresh();
        EXPECT_EQ(d->WriteContents(bytes.data(), static_cast<ULONG>(bytes.size()), 0, 0), S_OK);
        return d;
    }

    std::unique_ptr<testing_support::YdbDataClass> m_class;
};

// Pieces of an expected image: little-endian words of 4 (or `width`) bytes, joined by +.
inline Bytes le(std::initializer_list<uint32_t> words, int width = 4) {
    Bytes b;
    for (uint32_t w : words) {
        for (int i = 0; i < width; ++i) {
            b.push_back(static_cast<BYTE>(w >> (8 * i)));
        }
    }
    return b;
}
inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace ydb_testing
