// Random name sets through the optimizer: every lookup row must point into a reformed name that
// holds the requested range, and the merging state must leave nothing mergeable behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "anyptr_names.h"
#include "base/st/symcjacc/symcjanyopt.h"

namespace {

using anyptr_test::lookup_rows;
using anyptr_test::names_of;
using anyptr_test::Range;
using anyptr_test::reformed_ranges;
using anyptr_test::Row;
using platform::UniqueVariant;

// Few address spaces and short ranges make overlaps common; some sets use the whole 16-bit
// field so that merges run into the Cnt limit.
std::vector<Range> random_names(std::mt19937& rng) {
    const bool wide = rng() % 4 == 0;
    const int count = static_cast<int>(rng() % 40);
    std::vector<Range> names;
    for (int i = 0; i < count; ++i) {
        Range r;
        r.typ = static_cast<int>(rng() % 3);
        r.area = static_cast<int>(rng() % 2) * 0x8001;
        r.unit = static_cast<int>(rng() % 2);
        if (wide) {
            r.start = static_cast<int>(rng() % 0x10000);
            r.cnt = static_cast<int>(rng() % 0x10000);
        } else {
            r.start = static_cast<int>(rng() % 60);
            r.cnt = static_cast<int>(rng() % 12);
        }
        names.push_back(r);
    }
    return names;
}

void check_outcome(DWORD state, const std::vector<Range>& requested,
                   const std::vector<Range>& reformed, const std::vector<Row>& rows) {
    ASSERT_EQ(rows.size(), requested.size());
    std::vector<bool> used(reformed.size(), false);
    for (size_t i = 0; i < rows.size(); ++i) {
        const Range& req = requested[i];
        const Row& row = rows[i];
        ASSERT_GE(row[0], 0) << "row " << i;
        ASSERT_LT(static_cast<size_t>(row[0]), reformed.size()) << "row " << i;
        const Range& ref = reformed[static_cast<size_t>(row[0])];
        used[static_cast<size_t>(row[0])] = true;
        EXPECT_TRUE(req.same_space(ref)) << "row " << i << ": " << req << " in " << ref;
        EXPECT_EQ(ref.start + row[1], req.start) << "row " << i;
        EXPECT_GE(row[1], 0) << "row " << i;
        EXPECT_LE(row[1] + row[2], ref.cnt) << "row " << i << ": " << req << " in " << ref;
        EXPECT_EQ(row[2], req.cnt) << "row " << i;
        EXPECT_EQ(row[3], 0) << "row " << i;
    }
    for (size_t k = 0; k < reformed.size(); ++k) {
        EXPECT_TRUE(used[k]) << "reformed name " << k << " is read for nothing";
    }
    for (size_t a = 0; a < reformed.size(); ++a) {
        for (size_t b = a + 1; b < reformed.size(); ++b) {
            const Range& x = reformed[a];
            const Range& y = reformed[b];
            if (!x.same_space(y)) {
                continue;
            }
            if (state == 1) {
                EXPECT_FALSE(x.start == y.start && x.cnt == y.cnt) << x << " twice";
                continue;
            }
            const bool meet = x.start <= y.end() && y.start <= x.end();
            const long long unionCnt = std::max(x.end(), y.end()) - std::min(x.start, y.start);
            EXPECT_FALSE(meet && unionCnt <= 0xFFFF) << x << " and " << y << " not merged";
        }
    }
}

TEST(AnyPtrPropertyTest, EveryLookupRowPointsAtItsValuesInRandomNameSets) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    const int kCases = 3000;
    for (int n = 0; n < kCases; ++n) {
        const std::vector<Range> requested = random_names(rng);
        const DWORD state = 1 + rng() % 2;
        const LONG lower = static_cast<LONG>(rng() % 5) - 2;
        UniqueVariant names = names_of(requested, lower);
        CAnyPtrOptimizer opt;
        opt.setState(state);
        UniqueVariant reformed, lookup;
        ASSERT_EQ(opt.processNames(names.get(), reformed.get(), lookup.get()), S_OK)
            << "case " << n;
        ASSERT_EQ(opt.state(), state) << "case " << n;
        const std::vector<Range> reformedRanges = reformed_ranges(reformed.get());
        SCOPED_TRACE(testing::Message() << "case " << n << ", state " << state);
        check_outcome(state, requested, reformedRanges, lookup_rows(lookup.get()));
        if (HasFailure()) {
            return;
        }
    }
}

}  // namespace
