#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build/fuzz and runs each, or only TARGET, for a bounded time (seconds, default 60) on its seed
# corpus from fuzz/corpus:  scripts/fuzz.sh [SECONDS [TARGET]]
# New inputs go to build/fuzz/work/TARGET; findings to build/fuzz/work/TARGET/artifacts.
# Runs keep a small quarantine and two frames of allocation stack, which doubles their speed;
# replay a finding with ASAN_OPTIONS=malloc_context_size=30 for its full stacks.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
all_targets=(upp_message ivar_names regscript registry_file scenario)
if [[ $# -ge 2 ]]; then
    if [[ " ${all_targets[*]} " != *" $2 "* ]]; then
        echo "unknown fuzz target $2 (one of: ${all_targets[*]})" >&2
        exit 2
    fi
    targets=("$2")
else
    targets=("${all_targets[@]}")
fi
build=build/fuzz
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all"
# Our libraries are shared; they and the programs share one sanitizer runtime.
link="$sanitize -shared-libasan"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCJ_BUILD_FUZZ=ON -DCJ_BUILD_TESTS=OFF -DCJ_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$sanitize -fsanitize=fuzzer-no-link -fno-omit-frame-pointer" \
    -DCMAKE_C_FLAGS="$sanitize -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="$link" -DCMAKE_SHARED_LINKER_FLAGS="$link" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

runtime="$(dirname "$(clang -print-file-name=libclang_rt.asan-x86_64.so)")"
status=0
for target in "${targets[@]}"; do
    work="$build/work/$target"
    mkdir -p "$work/corpus" "$work/artifacts"
    echo "== fuzz $target for ${seconds}s"
    if ! LD_LIBRARY_PATH="$runtime" \
        ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:verify_asan_link_order=0:quarantine_size_mb=4:malloc_context_size=2" \
        UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
        "$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
        "$work/corpus" "fuzz/corpus/$target"; then
        echo "fuzz $target: finding in $work/artifacts"
        status=1
    fi
done
exit $status
