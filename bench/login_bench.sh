#!/usr/bin/env bash
# Login benchmark: TixPop3 beside Python's poplib, Open to Close against one Dovecot started here.
#   bench/login_bench.sh [BUILD_DIR] [RUNS]
# BUILD_DIR (default build-bench beside the sources) is configured as a Release build when it
# has no cache yet; login_bench is built in it. Rows: USER/PASS, APOP, CRAM-MD5 and XOAUTH2,
# plain and over TLS, each the median of RUNS logins (default 50).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/with_dovecot.sh" "${1:-$here/../build-bench}" login_bench "few" "${2:-50}"
