#!/usr/bin/env bash
# The main job from a fresh Debian machine: installs what is missing, builds the native preset
# and runs the simulator (cjsim) on its default scenario. Arguments go to cjsim, for example a
# scenario file, --trace or --dot jobs.dot. The exit code is the simulator's: 0 when the
# verification passed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target cjsim >/dev/null
# The simulator registers the callback-table class it needs from beside itself at start.
exec build/linux/bin/cjsim "$@"
