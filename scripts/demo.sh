#!/usr/bin/env bash
# The main job: installs what is missing, builds the POP3 sample window, starts a local Dovecot
# serving the demo mailbox (user "IvoryTester", password "samplepasswd") over implicit TLS with a
# self-signed certificate, and opens the window on it. The server listens on localhost:995 when
# that port can be bound, else on a free high port that the window is given. Without a display
# the window runs under Xvfb and walks through the session by itself (connect, accept the
# certificate, read the HTML newsletter with its attachments at 1280 x 900), saving
# screenshots. Closing the window stops the server.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
dir=${IX_DEMO_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$dir" --target ixpop3sample -j "$(nproc)"

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
peers="$root/tests/peers"
state="$dir/demo-dovecot"
if $sudo /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 995)); s.close()' 2> /dev/null; then
  port=995
else
  port=$(/usr/bin/python3 "$peers/common/free_port.py" 1)
  echo "demo: port 995 is taken or may not be bound here; the demo server uses port $port"
fi
stop_server() { $sudo "$peers/dovecot/stop.sh" "$state"; }
trap stop_server EXIT
$sudo "$peers/dovecot/start.sh" "$state" --cert self --tls-port "$port" --profiles demo

app="$dir/src/app/ixpop3sample"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: press Connect, answer Yes to the certificate question, then pick a message and press View"
  "$app" --port "$port"
else
  shots="$dir/demo-screenshots"
  echo "demo: no display; the window runs under Xvfb and walks through the session by itself"
  xvfb-run -a -s "-screen 0 1400x1050x24" "$app" --port "$port" --walkthrough "$shots"
  echo "demo: screenshots are in $shots"
fi
