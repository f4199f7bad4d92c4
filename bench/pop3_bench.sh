#!/usr/bin/env bash
# POP3 benchmark: TixPop3 beside Python's poplib and curl, against one Dovecot started here.
#   bench/pop3_bench.sh [BUILD_DIR] [RUNS]
# BUILD_DIR (default build-bench beside the sources) is configured as a Release build when it
# has no cache yet; pop3_bench is built in it. Each row is the median of RUNS runs (default 3).
# Rows: listing 2000 messages of about 20 KB (STAT, TOP n 0, UIDL n), retrieving them (40 MB),
# retrieving 20 messages of 5 MB (100 MB), each plain and over TLS; and one 50 MB message.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/with_dovecot.sh" "${1:-$here/../build-bench}" pop3_bench "bulk big huge" "${2:-3}"
