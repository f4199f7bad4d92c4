#!/usr/bin/env bash
# Growth of the hostile header rows of message_bench counted in instructions (callgrind), so that
# linear work shows as 4x and 16x whatever the caches and the allocator do to the CPU times.
#   bench/hostile_growth.sh [BUILD_DIR]
# BUILD_DIR (default build-bench beside the sources) is configured as a Release build when it
# has no cache yet. Needs valgrind.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build-bench}
command -v valgrind >/dev/null || { echo "valgrind is missing: run scripts/setup.sh" >&2; exit 1; }
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DIX_BUILD_TESTS=OFF -DIX_BUILD_APP=OFF > /dev/null
fi
cmake --build "$build" --target message_bench > /dev/null
work=$(mktemp -d /tmp/ix-hostile.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Instructions spent inside function $2 (inclusive) in callgrind output $1.
instructions() {
  callgrind_annotate --inclusive=yes "$1" 2>/dev/null | awk -v f="$2" '!done && index($0, f) { gsub(",", "", $1); print $1; done = 1 }'
}

names=("Subject of failing encoded words" "address list folded over lines" "file name in RFC 2231 pieces")
printf '%-34s %5s %14s %6s %14s %6s\n' "hostile header (instructions)" size LoadMessage ratio GMime ratio
for index in 0 1 2; do
  base=0
  gbase=0
  for factor in 1 4 16; do
    out=$work/callgrind.$index.$factor
    valgrind --tool=callgrind --callgrind-out-file="$out" \
      "$build/bench/message_bench" hostile-once "$index" "$factor" > /dev/null 2>&1
    ours=$(instructions "$out" "ix::TixMailMessage::LoadMessage(")
    theirs=$(instructions "$out" "GMimeReadHeader(")
    [ "$factor" = 1 ] && { base=$ours; gbase=$theirs; }
    awk -v n="${names[$index]}" -v f="$factor" -v o="$ours" -v ob="$base" -v t="$theirs" -v tb="$gbase" \
      'BEGIN { printf "%-34s %4dx %14d %6.1f %14d %6.1f\n", n, f, o, o / ob, t, t / tb }'
  done
done
