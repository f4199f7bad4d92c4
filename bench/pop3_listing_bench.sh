#!/usr/bin/env bash
# Mailbox listing benchmark: sizes, UIDs and headers of the 2000 x 20 KB mailbox with
# TixPop3.ListMailBox (pipelined), with the one-at-a-time commands, with Python's poplib and with
# curl, against one Dovecot started here, plain and over TLS.
#   bench/pop3_listing_bench.sh [BUILD_DIR] [RUNS]
# BUILD_DIR as for bench/pop3_bench.sh; each row is the median of RUNS runs (default 3).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/with_dovecot.sh" "${1:-$here/../build-bench}" pop3_bench "bulk" "${2:-3}" pop3_listing_bench
