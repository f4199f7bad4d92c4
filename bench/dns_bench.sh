#!/usr/bin/env bash
# DNS benchmark: TixDnsQuery.ResolveTXT beside dig (batch mode) and dnspython, against one
# dnsmasq started here, 10,000 lookups of the 2048-bit DKIM key record each.
#   bench/dns_bench.sh [BUILD_DIR] [RUNS] [COUNT]
# BUILD_DIR (default build-bench beside the sources) is configured as a Release build when it
# has no cache yet; dns_bench is built in it. Each row is the median of RUNS runs (default 3).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build-bench}
runs=${2:-3}
count=${3:-10000}
state=$(mktemp -d /tmp/ix-dns-bench.XXXXXX)
cleanup() {
  "$root/tests/peers/dnsmasq/stop.sh" "$state" >/dev/null || true
  rm -rf "$state"
}
trap cleanup EXIT

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DIX_BUILD_TESTS=OFF -DIX_BUILD_APP=OFF > /dev/null
fi
cmake --build "$build" --target dns_bench > "$state/build.log" || { cat "$state/build.log" >&2; exit 1; }
"$root/tests/peers/dnsmasq/start.sh" "$state" > /dev/null
/usr/bin/python3 "$here/dns_bench.py" "$state/dnsmasq.env" "$build/bench/dns_bench" "$count" "$runs" sel._domainkey.ix.test
