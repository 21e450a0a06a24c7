#!/usr/bin/env bash
# From a fresh Debian machine to a full test run: installs what is missing, checks formatting,
# builds every preset and runs the tests of every runnable one (Windows builds under Wine).
# Exits non-zero if anything fails; the last lines are the test runner's own summary.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || exit 1

failed=()

echo "== format check"
if ! git ls-files '*.h' '*.cpp' | xargs clang-format --dry-run -Werror; then
    failed+=(format)
fi

build() {
    cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}

# The 32-bit Windows build exists to check record layouts; it compiles and links only.
echo "== build mingw32"
build mingw32 || failed+=(mingw32)

for preset in linux-asan linux-tsan mingw64 linux; do
    echo "== build and test $preset"
    if ! build "$preset"; then
        failed+=("$preset")
        continue
    fi
    ctest --preset "$preset" || failed+=("$preset")
done

# A short run of every benchmark keeps them working; their figures are not checked here.
for bench in build/linux/bin/bench_*; do
    [[ -x $bench ]] || continue
    echo "== benchmark $(basename "$bench")"
    "$bench" --benchmark_min_time=0.01 >/dev/null 2>&1 || failed+=("$(basename "$bench")")
done

# Untrusted input of every kind (debug-service messages, names arguments, registration scripts,
# the registry store's file, simulator scenarios), briefly; scripts/fuzz.sh runs longer.
echo "== fuzz (clang, 20 s per target)"
scripts/fuzz.sh 20 || failed+=(fuzz)

if ((${#failed[@]})); then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
