#!/usr/bin/env bash
# Stops the dnsmasq that start.sh STATE_DIR started, by its PID, and removes its temporary
# directory and STATE_DIR/dnsmasq.env. Does nothing when none is running.
set -euo pipefail
# shellcheck source=../common/peers.sh
. "$(cd "$(dirname "$0")" && pwd)/../common/peers.sh"
peers_stop dnsmasq "${1:-}"
