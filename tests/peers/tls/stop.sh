#!/usr/bin/env bash
# Stops the TLS test peers that start.sh STATE_DIR started, each by its PID, and removes their
# temporary directory and STATE_DIR/tls.env. Does nothing when none is running.
set -euo pipefail
# shellcheck source=../common/peers.sh
. "$(cd "$(dirname "$0")" && pwd)/../common/peers.sh"
peers_stop tls "${1:-}"
