#!/usr/bin/env bash
# Builds every libFuzzer target with clang in build-fuzz/ and replays each target's seed corpus
# (fuzz/corpus/<target>/) once, without mutating it. Fails when an input crashes a target or a
# corpus has no target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${IX_FUZZ_BUILD_DIR:-$root/build-fuzz}
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DIX_FUZZ=ON -DIX_BUILD_TESTS=OFF -DIX_BUILD_APP=OFF -DIX_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" --target fuzzers
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for corpus in "$root"/fuzz/corpus/*/; do
  target=$(basename "$corpus")
  if [ ! -x "$dir/fuzz/$target" ]; then
    echo "fuzz-replay: no fuzz target for corpus $corpus" >&2
    status=1
    continue
  fi
  if "$dir/fuzz/$target" -runs=0 "$corpus" >"$dir/fuzz/$target.log" 2>&1; then
    echo "fuzz-replay: $target: $(find "$corpus" -type f | wc -l) inputs replayed"
  else
    cat "$dir/fuzz/$target.log" >&2
    echo "fuzz-replay: $target FAILED" >&2
    status=1
  fi
done
exit $status
