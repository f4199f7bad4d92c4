#!/usr/bin/env bash
# POP3 benchmark: TixPop3 beside Python's poplib and curl, against one Dovecot started here.
#   bench/pop3_bench.sh [BUILD_DIR] [RUNS]
# BUILD_DIR (default build-bench beside the sources) is configured as a Release build when it
# has no cache yet; pop3_bench is built in it. Each row is the median of RUNS runs (default 3).
# Rows: listing 2000 messages of about 20 KB (STAT, TOP n 0, UIDL n), retrieving them (40 MB),
# retrieving 20 messages of 5 MB (100 MB), each plain and over TLS; and one 50 MB message.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build-bench}
runs=${2:-3}
state=$(mktemp -d /tmp/ix-pop3-bench.XXXXXX)
cleanup() {
  "$root/tests/peers/dovecot/stop.sh" "$state" || true
  rm -rf "$state"
}
trap cleanup EXIT

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DIX_BUILD_TESTS=OFF -DIX_BUILD_APP=OFF > /dev/null
fi
cmake --build "$build" --target pop3_bench > "$state/build.log" || { cat "$state/build.log" >&2; exit 1; }
"$root/tests/peers/dovecot/start.sh" "$state" --profiles "bulk big huge" > /dev/null
/usr/bin/python3 "$here/pop3_bench.py" "$state/dovecot.env" "$build/bench/pop3_bench" "$runs"
