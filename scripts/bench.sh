#!/usr/bin/env bash
# Builds the benchmarks in the linux and mingw64 presets, runs each program natively and under
# Wine, and prints one table: every case with its component, its baseline and its ratio to that
# baseline (median over the repetitions, measured in the same run) on Linux and under Wine.
#   scripts/bench.sh [filter-regex]    BENCH_REPETITIONS (5), BENCH_MIN_TIME (0.2 s),
#                                      BENCH_PRESETS ("linux mingw64")
set -euo pipefail
cd "$(dirname "$0")/.."

filter=${1:-.}
reps=${BENCH_REPETITIONS:-5}
min_time=${BENCH_MIN_TIME:-0.2}
presets=${BENCH_PRESETS:-linux mingw64}
results=build/bench-results
mkdir -p "$results"
rm -f "$results"/*.json

for preset in $presets; do
    [[ -f build/$preset/build.ninja ]] || cmake --preset "$preset" >/dev/null
    mapfile -t targets < <(ninja -C "build/$preset" -t targets all |
        sed -n 's/^\(bench_[A-Za-z0-9_]*\): .*/\1/p' | sort -u)
    if ((${#targets[@]} == 0)); then
        echo "no benchmarks in the $preset build (Google Benchmark missing?)" >&2
        continue
    fi
    cmake --build --preset "$preset" --target "${targets[@]}" >/dev/null
    for target in "${targets[@]}"; do
        program=build/$preset/bin/$target
        run=()
        if [[ $preset == mingw* ]]; then
            program+=.exe
            run=("build/$preset/wine-run.sh")
        fi
        echo "== $preset $target" >&2
        "${run[@]}" "$program" --benchmark_filter="$filter" --benchmark_repetitions="$reps" \
            --benchmark_report_aggregates_only=true --benchmark_min_time="$min_time" \
            --benchmark_format=json >"$results/$preset.$target.json" 2>/dev/null ||
            echo "   $target failed under $preset" >&2
    done
done

python3 - "$results" <<'PY'
import glob, json, os, sys

components = {
    "bench_anyopt": "ANY-pointer optimizer",
    "bench_ivar": "IVar add-and-join",
    "bench_upp": "exchange stream + data object",
    "bench_ydb": "YDB add-and-join",
    "bench_ydb_values": "UpdateYDBValues",
    "bench_trace": "trace",
}
cases = {}  # (target, case) -> {"key": ..., preset: ratio}
baselines = {}  # (target, key) -> baseline case name
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.json"))):
    preset, target = os.path.basename(path)[:-5].split(".", 1)
    try:
        with open(path) as f:
            runs = json.load(f)["benchmarks"]
    except (ValueError, KeyError):
        continue
    for b in runs:
        if b.get("aggregate_name") != "median":
            continue
        label = b.get("label", "")
        if label.startswith("baseline "):
            baselines[(target, label[9:])] = b["run_name"]
        elif label.startswith("vs ") and "ratio" in b:
            row = cases.setdefault((target, b["run_name"]), {"key": label[3:]})
            row[preset] = b["ratio"]

header = ("case", "component", "baseline", "Linux", "Wine")
rows = [header]
for (target, case), row in cases.items():
    fmt = lambda p: "%.2fx" % row[p] if p in row else "-"
    rows.append((case, components.get(target, target[6:]),
                 baselines.get((target, row["key"]), row["key"]), fmt("linux"), fmt("mingw64")))
widths = [max(len(r[i]) for r in rows) for i in range(len(header))]
for n, r in enumerate(rows):
    print("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")
    if n == 0:
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
PY
