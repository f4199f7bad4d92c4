#!/usr/bin/env bash
# Stops the TLS test peers that start.sh STATE_DIR started, each by its PID, and removes their
# temporary directory and STATE_DIR/tls.env. Does nothing when none is running.
set -euo pipefail
state=${1:?usage: stop.sh STATE_DIR}/tls.env
[ -f "$state" ] || exit 0
dir=$(sed -n 's/^IX_PEER_DIR=//p' "$state")
IFS=, read -r -a pids <<<"$(sed -n 's/^PIDS=//p' "$state")"
for pid in "${pids[@]}"; do
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null || true
done
case "$dir" in
  */ix-tls-peers.*) rm -rf "$dir" ;;
esac
rm -f "$state"
echo "tls peers: stopped"
