#!/usr/bin/env bash
# The main job from a fresh Debian machine: installs what the simulator needs when it is missing
# (a compiler, CMake, Ninja), builds it with the native preset and runs it (cjsim) on its default
# scenario. Arguments go to cjsim, for example a scenario file, --trace or --dot jobs.dot. The
# exit code is the simulator's (0 when the verification passed), or the build's when it failed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --simulator
# Quiet when it works; the whole output when it does not.
log=$(mktemp)
status=0
{ cmake --preset linux && cmake --build --preset linux --target cjsim; } >"$log" 2>&1 || status=$?
if ((status != 0)); then
    cat "$log" >&2
    rm -f "$log"
    echo "simulate.sh: the build failed (exit $status); its output is above" >&2
    exit "$status"
fi
rm -f "$log"
exec build/linux/bin/cjsim "$@"
