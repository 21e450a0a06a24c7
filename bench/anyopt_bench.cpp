// Name reforming of one collection job's names in the merging state, against two baselines in
// the same run: the same sort and merge on plain structs (no VARIANTs, no SAFEARRAYs), and the
// floor (that sort and merge plus reading the names and building the reformed names and the
// lookup table through direct SAFEARRAY data access, one lock per array).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <random>
#include <tuple>
#include <vector>

#include "base/st/symcjacc/symcjanyopt.h"
#include "bench/ratio.h"
#include "platform/raii.h"

namespace {

using platform::SafeArrayDataAccess;
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

// Sorts and merges `recs` in place as the merging state does; returns the reformed ranges, each
// record's `reformed` set to the one that covers it.
std::vector<Plain> sort_and_merge(std::vector<Plain>& recs) {
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
    return reformed;
}

// The lookup rows in the order of the requested names.
std::vector<std::array<int, 4>> lookup_rows(const std::vector<Plain>& recs,
                                            const std::vector<Plain>& reformed) {
    std::vector<size_t> pos(recs.size());
    for (size_t k = 0; k < recs.size(); ++k) {
        pos[static_cast<size_t>(recs[k].orig)] = k;
    }
    std::vector<std::array<int, 4>> rows(recs.size());
    for (size_t i = 0; i < recs.size(); ++i) {
        const Plain& r = recs[pos[i]];
        rows[i] = {r.reformed, r.start - reformed[static_cast<size_t>(r.reformed)].start, r.cnt, 0};
    }
    return rows;
}

int be16(const BYTE* p) {
    return (p[0] << 8) | p[1];
}

void put_be16(BYTE* p, int v) {
    p[0] = static_cast<BYTE>((v >> 8) & 0xFF);
    p[1] = static_cast<BYTE>(v & 0xFF);
}

void BM_PlainSortAndMerge(benchmark::State& state) {
    const std::vector<Plain> input = sample(static_cast<int>(state.range(0)));
    bench::LoopClock clock;
    for (auto _ : state) {
        std::vector<Plain> recs = input;
        const std::vector<Plain> reformed = sort_and_merge(recs);
        const std::vector<std::array<int, 4>> rows = lookup_rows(recs, reformed);
        benchmark::DoNotOptimize(rows.data());
        benchmark::DoNotOptimize(reformed.data());
    }
    bench::RecordBaseline(bench::Key("merge", state), clock, state);
}

// The work no implementation avoids: the sort and merge, the names read and the outputs built
// through one data access per array, nothing checked beyond what the reading needs.
void BM_Floor(benchmark::State& state) {
    UniqueVariant names = names_of(sample(static_cast<int>(state.range(0))));
    bench::LoopClock clock;
    for (auto _ : state) {
        std::vector<Plain> recs(names->parray->rgsabound[0].cElements);
        {
            SafeArrayDataAccess<const VARIANT> in(names->parray);
            for (size_t i = 0; i < recs.size(); ++i) {
                SafeArrayDataAccess<const DWORD> elements(in[i].parray);
                BYTE item[anyptr::kItemBytes];
                AnyPtrItemBytes(elements.data(), item);
                recs[i] = {be16(item + 10),
                           be16(item + 4),
                           be16(item + 8),
                           item[3],
                           be16(item + 6),
                           static_cast<int>(i),
                           -1};
            }
        }
        const std::vector<Plain> reformed = sort_and_merge(recs);
        const std::vector<std::array<int, 4>> rows = lookup_rows(recs, reformed);

        UniqueVariant outNames;
        outNames->vt = VT_ARRAY | VT_VARIANT;
        outNames->parray =
            SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(reformed.size()));
        {
            SafeArrayDataAccess<VARIANT> out(outNames->parray);
            for (size_t i = 0; i < reformed.size(); ++i) {
                const Plain& r = reformed[i];
                BYTE item[anyptr::kItemBytes] = {anyptr::kHeader, anyptr::kRestLength,
                                                 anyptr::kSyntaxId, static_cast<BYTE>(r.typ)};
                put_be16(item + 4, r.cnt);
                put_be16(item + 6, r.unit);
                put_be16(item + 8, r.area);
                put_be16(item + 10, r.start);
                SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 0, 3);
                {
                    SafeArrayDataAccess<DWORD> elements(psa);
                    AnyPtrItemElements(item, elements.data());
                }
                out[i].vt = VT_ARRAY | VT_I4;
                out[i].parray = psa;
            }
        }
        UniqueVariant table;
        SAFEARRAYBOUND bounds[2] = {{anyptr::kLookupColumns, 0},
                                    {static_cast<ULONG>(rows.size()), 0}};
        table->vt = VT_ARRAY | VT_I4;
        table->parray = SafeArrayCreate(VT_I4, 2, bounds);
        {
            SafeArrayDataAccess<std::array<int, 4>> out(table->parray);
            std::copy(rows.begin(), rows.end(), out.data());
        }
        benchmark::DoNotOptimize(outNames->parray);
        benchmark::DoNotOptimize(table->parray);
    }
    bench::RecordBaseline(bench::Key("floor", state), clock, state);
}

void BM_ProcessNames(benchmark::State& state) {
    UniqueVariant names = names_of(sample(static_cast<int>(state.range(0))));
    bench::LoopClock clock;
    for (auto _ : state) {
        CAnyPtrOptimizer opt;
        opt.setState(CAnyPtrOptimizer::STATE_MERGE);
        UniqueVariant reformed, lookup;
        benchmark::DoNotOptimize(opt.processNames(names.get(), reformed.get(), lookup.get()));
    }
    bench::ReportRatio(bench::Key("floor", state), clock, state);
    // The same run against the sort and merge alone.
    const double merge = bench::BaselineMedian(bench::Key("merge", state));
    if (merge > 0.0) {
        state.counters["vs_merge"] = clock.NanosPerIteration(state) / merge;
    }
}

// Baselines first: each case divides by the figure its baseline left.
BENCHMARK(BM_PlainSortAndMerge)->Arg(16)->Arg(256)->Arg(1024);
BENCHMARK(BM_Floor)->Arg(16)->Arg(256)->Arg(1024);
BENCHMARK(BM_ProcessNames)->Arg(16)->Arg(256)->Arg(1024);

}  // namespace
