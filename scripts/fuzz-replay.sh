#!/usr/bin/env bash
# Builds every libFuzzer target with clang in build-fuzz/ and replays each target's corpus
# (fuzz/corpus/<target>/) once, without mutating it. Fails when an input crashes a target or a
# corpus has no target.
set -euo pipefail
. "$(dirname "$0")/fuzz-common.sh"
root=$fuzz_root
dir=${IX_FUZZ_BUILD_DIR:-$root/build-fuzz}
fuzz_build "$dir"
status=0
for corpus in "$root"/fuzz/corpus/*/; do
  target=$(basename "$corpus")
  if [ ! -x "$dir/fuzz/$target" ]; then
    echo "fuzz-replay: no fuzz target for corpus $corpus" >&2
    status=1
    continue
  fi
  if "$dir/fuzz/$target" -runs=0 -artifact_prefix="$dir/fuzz/$target-" "$corpus" >"$dir/fuzz/$target.log" 2>&1; then
    echo "fuzz-replay: $target: $(find "$corpus" -type f | wc -l) inputs replayed"
  else
    cat "$dir/fuzz/$target.log" >&2
    echo "fuzz-replay: $target FAILED" >&2
    status=1
  fi
done
exit $status
