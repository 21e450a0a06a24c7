// Random name sets through the optimizer: every lookup row must point into a reformed name that
// holds the requested range, and the merging state must leave nothing mergeable behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "anyptr_names.h"

namespace {

using namespace anyptr_test;

// Few address spaces and short ranges make overlaps common; every fourth set spreads over the
// whole 16-bit fields so that merges run into the Cnt limit.
std::vector<Range> random_names(std::mt19937& rng) {
    const unsigned span = rng() % 4 == 0 ? 0x10000 : 60;
    std::vector<Range> names(rng() % 40);
    for (Range& r : names) {
        r = {static_cast<int>(rng() % span), static_cast<int>(rng() % (span == 60 ? 12 : span)),
             static_cast<int>(rng() % 3), static_cast<int>(rng() % 2) * 0x8001,
             static_cast<int>(rng() % 2)};
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
        ASSERT_TRUE(row[0] >= 0 && static_cast<size_t>(row[0]) < reformed.size()) << "row " << i;
        const Range& ref = reformed[static_cast<size_t>(row[0])];
        used[static_cast<size_t>(row[0])] = true;
        EXPECT_TRUE(req.same_space(ref) && ref.start + row[1] == req.start && row[1] >= 0 &&
                    row[1] + row[2] <= ref.cnt && row[2] == req.cnt && row[3] == 0)
            << "row " << i << " (" << row[1] << ", " << row[2] << "): " << req << " in " << ref;
    }
    EXPECT_EQ(std::count(used.begin(), used.end(), false), 0) << "a reformed name read for nothing";
    for (size_t a = 0; a < reformed.size(); ++a) {
        for (size_t b = a + 1; b < reformed.size(); ++b) {
            const Range& x = reformed[a];
            const Range& y = reformed[b];
            const bool meet = x.start <= y.end() && y.start <= x.end();
            const long long merged = std::max(x.end(), y.end()) - std::min(x.start, y.start);
            const bool mergeable = state == 1 ? x == y : meet && merged <= 0xFFFF;
            EXPECT_FALSE(x.same_space(y) && mergeable) << x << " and " << y;
        }
    }
}

TEST(AnyPtrPropertyTest, EveryLookupRowPointsAtItsValuesInRandomNameSets) {
    const unsigned seed = std::random_device{}();
    std::mt19937 rng(seed);
    for (int n = 0; n < 3000 && !HasFailure(); ++n) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << ", case " << n);
        const std::vector<Range> requested = random_names(rng);
        const DWORD state = 1 + rng() % 2;
        UniqueVariant names = names_of(requested, static_cast<LONG>(rng() % 5) - 2);
        UniqueVariant reformed, lookup;
        CAnyPtrOptimizer opt;
        opt.setState(state);
        ASSERT_EQ(opt.processNames(names.get(), reformed.get(), lookup.get()), S_OK);
        ASSERT_EQ(opt.state(), state);
        check_outcome(state, requested, reformed_ranges(reformed.get()), lookup_rows(lookup.get()));
    }
}

}  // namespace
