#!/usr/bin/env bash
# Stops the SOCKS test peers that start.sh STATE_DIR started, each by its PID, and removes
# their temporary directory and STATE_DIR/socks.env. Does nothing when none is running.
set -euo pipefail
state=${1:?usage: stop.sh STATE_DIR}/socks.env
[ -f "$state" ] || exit 0
dir=$(sed -n 's/^IX_PEER_DIR=//p' "$state")
IFS=, read -r -a pids <<<"$(sed -n 's/^PIDS=//p' "$state")"
# Running, and not merely a zombie waiting for its new parent to reap it.
alive() {
  [ -r "/proc/$1/stat" ] && [ "$(sed 's/.*) //' "/proc/$1/stat" | cut -c1)" != Z ]
}
for pid in "${pids[@]}"; do
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do alive "$pid" || break; sleep 0.1; done
  ! alive "$pid" || kill -9 "$pid" 2>/dev/null || true
done
case "$dir" in
  */ix-socks-peers.*) rm -rf "$dir" ;;
esac
rm -f "$state"
echo "socks peers: stopped"
