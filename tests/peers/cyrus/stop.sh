#!/usr/bin/env bash
# Stops the Cyrus master (and the services it started) of start.sh STATE_DIR, by its PID.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../common/peers.sh
. "$here/../common/peers.sh"
peers_stop cyrus "${1:?usage: stop.sh STATE_DIR}"
