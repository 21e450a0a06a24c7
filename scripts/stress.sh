#!/usr/bin/env bash
# Runs the client stress test for a number of seconds (default 60) under ThreadSanitizer and
# under AddressSanitizer with UndefinedBehaviorSanitizer, building what it needs in those presets.
# A seed given as the second argument repeats a run's choices (each run prints its seed).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
export CJ_STRESS_SECONDS="$seconds"
if [ -n "${2:-}" ]; then
    export CJ_STRESS_SEED="$2"
fi
status=0
for preset in linux-tsan linux-asan; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target stress_tests
    echo "== stress under $preset for ${seconds}s"
    if ! (cd "build/$preset" && BSTTRACE_SINK=none ./bin/stress_tests); then
        status=1
    fi
done
exit $status
