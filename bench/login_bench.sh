#!/usr/bin/env bash
# Login benchmark: TixPop3 beside Python's poplib, Open to Close against one Dovecot started here.
#   bench/login_bench.sh [BUILD_DIR] [RUNS]
# BUILD_DIR (default build-bench beside the sources) is configured as a Release build when it
# has no cache yet; login_bench is built in it. Rows: USER/PASS, APOP, CRAM-MD5 and XOAUTH2,
# plain and over TLS, each the median of RUNS logins (default 50).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build-bench}
runs=${2:-50}
state=$(mktemp -d /tmp/ix-login-bench.XXXXXX)
cleanup() {
  "$root/tests/peers/dovecot/stop.sh" "$state" || true
  rm -rf "$state"
}
trap cleanup EXIT

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DIX_BUILD_TESTS=OFF -DIX_BUILD_APP=OFF > /dev/null
fi
cmake --build "$build" --target login_bench > "$state/build.log" || { cat "$state/build.log" >&2; exit 1; }
"$root/tests/peers/dovecot/start.sh" "$state" --profiles "few" > /dev/null
/usr/bin/python3 "$here/login_bench.py" "$state/dovecot.env" "$build/bench/login_bench" "$runs"
