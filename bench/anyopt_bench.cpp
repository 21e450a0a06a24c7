// Name reforming of one collection job's names in the merging state, against the same sort and
// merge on plain structs (no VARIANTs, no SAFEARRAYs) in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <random>
#include <tuple>
#include <vector>

#include "base/st/symcjacc/symcjanyopt.h"
#include "platform/raii.h"

namespace {

using platform::UniqueVariant;

struct Plain {
    int start, cnt, area, typ, unit, orig, reformed;
};

// Four address spaces, short ranges that overlap often: a typical job of many small variables.
std::vector<Plain> sample(int n) {
    std::mt19937 rng(1234u + static_cast<unsigned>(n));
    std::vector<Plain> v;
    for (int i = 0; i < n; ++i) {
        v.push_back({static_cast<int>(rng() % static_cast<unsigned>(n * 4)),
                     1 + static_cast<int>(rng() % 8), 1 + static_cast<int>(rng() % 2),
                     2 + static_cast<int>(rng() % 2), 0, i, -1});
    }
    return v;
}

UniqueVariant names_of(const std::vector<Plain>& plain) {
    UniqueVariant names;
    const ULONG count = static_cast<ULONG>(plain.size());
    names->vt = VT_ARRAY | VT_VARIANT;
    names->parray = SafeArrayCreateVector(VT_VARIANT, 0, count);
    for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
        const Plain& p = plain[static_cast<size_t>(i)];
        UniqueVariant name;
        makeAnyPtrName({p.start, p.cnt, 0, p.area, p.typ, p.unit, 0, -1}, name.get());
        SafeArrayPutElement(names->parray, &i, name.get());
    }
    return names;
}

void BM_ProcessNames(benchmark::State& state) {
    UniqueVariant names = names_of(sample(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        CAnyPtrOptimizer opt;
        opt.setState(CAnyPtrOptimizer::STATE_MERGE);
        UniqueVariant reformed, lookup;
        benchmark::DoNotOptimize(opt.processNames(names.get(), reformed.get(), lookup.get()));
    }
}

void BM_PlainSortAndMerge(benchmark::State& state) {
    const std::vector<Plain> input = sample(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::vector<Plain> recs = input;
        std::sort(recs.begin(), recs.end(), [](const Plain& a, const Plain& b) {
            return std::tie(a.unit, a.typ, a.area, a.start, a.cnt) <
                   std::tie(b.unit, b.typ, b.area, b.start, b.cnt);
        });
        std::vector<Plain> reformed{recs.front()};
        for (Plain& r : recs) {
            Plain& cur = reformed.back();
            const int end = std::max(cur.start + cur.cnt, r.start + r.cnt);
            if (r.area == cur.area && r.typ == cur.typ && r.unit == cur.unit &&
                r.start <= cur.start + cur.cnt && end - cur.start <= 0xFFFF) {
                cur.cnt = end - cur.start;
            } else {
                reformed.push_back(r);
            }
            r.reformed = static_cast<int>(reformed.size() - 1);
        }
        std::vector<size_t> pos(recs.size());
        for (size_t k = 0; k < recs.size(); ++k) {
            pos[static_cast<size_t>(recs[k].orig)] = k;
        }
        std::vector<std::array<int, 4>> rows(recs.size());
        for (size_t i = 0; i < recs.size(); ++i) {
            const Plain& r = recs[pos[i]];
            rows[i] = {r.reformed, r.start - reformed[static_cast<size_t>(r.reformed)].start, r.cnt,
                       0};
        }
        benchmark::DoNotOptimize(rows.data());
        benchmark::DoNotOptimize(reformed.data());
    }
}

BENCHMARK(BM_ProcessNames)->Arg(16)->Arg(256)->Arg(1024);
BENCHMARK(BM_PlainSortAndMerge)->Arg(16)->Arg(256)->Arg(1024);

}  // namespace
