#!/usr/bin/env bash
# What the Dovecot benchmarks share: builds one benchmark program in a Release build, starts a
# Dovecot with the given mailbox profiles in a temporary state directory, runs the benchmark's
# Python driver against it and stops it.
#   bench/with_dovecot.sh BUILD_DIR TARGET "PROFILES" RUNS [DRIVER]
# BUILD_DIR is configured as a Release build when it has no cache yet; the driver is
# bench/DRIVER.py (default TARGET), called with the Dovecot env file, the built program and RUNS.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$1
target=$2
profiles=$3
runs=$4
driver=${5:-$target}
state=$(mktemp -d "/tmp/ix-$target.XXXXXX")
cleanup() {
  "$root/tests/peers/dovecot/stop.sh" "$state" || true
  rm -rf "$state"
}
trap cleanup EXIT

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DIX_BUILD_TESTS=OFF -DIX_BUILD_APP=OFF > /dev/null
fi
cmake --build "$build" --target "$target" > "$state/build.log" || { cat "$state/build.log" >&2; exit 1; }
"$root/tests/peers/dovecot/start.sh" "$state" --profiles "$profiles" > /dev/null
/usr/bin/python3 "$here/$driver.py" "$state/dovecot.env" "$build/bench/$target" "$runs"
