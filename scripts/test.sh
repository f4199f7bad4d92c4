#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer, UndefinedBehaviorSanitizer and -Werror,
# then runs every test (unit and peer) and replays every fuzz corpus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
dir=${IX_TEST_BUILD_DIR:-$root/build-test}
"$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Debug -DIX_SANITIZE=ON -DIX_WERROR=ON \
  -DIX_BUILD_BENCH=OFF
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$dir"
ctest --output-on-failure -j "$(nproc)" "$@"
if [ -x "$root/scripts/fuzz-replay.sh" ]; then
  "$root/scripts/fuzz-replay.sh"
fi
