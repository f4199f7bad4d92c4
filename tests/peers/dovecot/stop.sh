#!/usr/bin/env bash
# Stops the Dovecot that start.sh started in STATE_DIR, by its PID.
set -uo pipefail
state=$1
[ -f "$state/dovecot.env" ] || exit 0
# shellcheck disable=SC1091
. "$state/dovecot.env"
if kill -0 "$DOVECOT_PID" 2> /dev/null; then
  kill "$DOVECOT_PID"
  for _ in $(seq 1 100); do
    kill -0 "$DOVECOT_PID" 2> /dev/null || break
    sleep 0.05
  done
  kill -9 "$DOVECOT_PID" 2> /dev/null || true
fi
[ -n "${TOKENINFO_PID:-}" ] && kill "$TOKENINFO_PID" 2> /dev/null
rm -f "$state/dovecot.env"
