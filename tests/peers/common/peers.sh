#!/usr/bin/env bash
# Shared pieces of the start.sh / stop.sh scripts of peers that run several processes from a
# temporary directory and record them in STATE_DIR/NAME.env (IX_PEER_DIR and PIDS lines).
# Sourced, not run.

peers_common=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# peers_begin NAME STATE_DIR STOP_SCRIPT: sets `state` (STATE_DIR/NAME.env), stops the peers a
# former start left running, and makes the temporary directory `dir` with an empty `pids` list.
peers_begin() {
  peers_name=$1
  state=$(mkdir -p "${2:?usage: start.sh STATE_DIR}" && cd "$2" && pwd)/$1.env
  [ -f "$state" ] && "$3" "$(dirname "$state")"
  dir=$(mktemp -d "${TMPDIR:-/tmp}/ix-$1-peers.XXXXXX")
  pids=()
}

# fail MESSAGE: stops what has started, shows the ends of its logs, removes `dir`, exits 1.
fail() {
  echo "$peers_name peers: $*" >&2
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  tail -n 20 "$dir"/*.log "$dir"/*.out >&2 2>/dev/null || true
  rm -rf "$dir"
  exit 1
}

need() {
  command -v "$1" >/dev/null || fail "$1 is not installed (scripts/setup.sh installs it)"
}

free_port() {
  python3 "$peers_common/free_port.py"
}

# wait_listening PORT WHAT: fails unless something listens on 127.0.0.1:PORT within 10 s.
wait_listening() {
  python3 "$peers_common/wait_port.py" "$1" 10 || fail "nothing listens on 127.0.0.1:$1 ($2)"
}

# peers_stop NAME STATE_DIR: stops every PID of STATE_DIR/NAME.env (SIGTERM, then SIGKILL after
# 5 s) and removes the temporary directory and the state file. Nothing to do when none is running.
peers_stop() {
  local state=${2:?usage: stop.sh STATE_DIR}/$1.env dir pid
  [ -f "$state" ] || return 0
  dir=$(sed -n 's/^IX_PEER_DIR=//p' "$state")
  IFS=, read -r -a pids <<<"$(sed -n 's/^PIDS=//p' "$state")"
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do peers_alive "$pid" || break; sleep 0.1; done
    ! peers_alive "$pid" || kill -9 "$pid" 2>/dev/null || true
  done
  case "$dir" in
    */ix-"$1"-peers.*) rm -rf "$dir" ;;
  esac
  rm -f "$state"
  echo "$1 peers: stopped"
}

# Running, and not merely a zombie waiting for its new parent to reap it.
peers_alive() {
  [ -r "/proc/$1/stat" ] && [ "$(sed 's/.*) //' "/proc/$1/stat" | cut -c1)" != Z ]
}
