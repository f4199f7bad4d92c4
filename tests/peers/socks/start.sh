#!/usr/bin/env bash
# Starts the SOCKS test peers on 127.0.0.1 high ports, in a fresh temporary directory:
#   - a greeting server (the destination reached through every proxy),
#   - Dante (danted): SOCKS 4 and 5 without authentication, loopback destinations only,
#   - microsocks: SOCKS 5 without authentication, and a second one with user and password,
#   - OpenSSH: a loopback sshd with generated host and user keys, and `ssh -D` in front of it
#     (SOCKS 4, 4a and 5; forwarding restricted to loopback destinations).
# usage: start.sh STATE_DIR
# Writes STATE_DIR/socks.env: KEY=VALUE lines with the ports, the credentials, the PIDs and the
# temporary directory. stop.sh STATE_DIR stops every process by its PID and removes the directory.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../common/peers.sh
. "$here/../common/peers.sh"
peers_begin socks "${1:-}" "$here/stop.sh"

for tool in python3 danted microsocks ssh ssh-keygen; do need "$tool"; done
[ -x /usr/sbin/sshd ] || fail "/usr/sbin/sshd is not installed (openssh-server)"

# --- the destination ------------------------------------------------------------------------
python3 "$here/greeting_server.py" "$dir/greeting.port" >"$dir/greeting.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$dir/greeting.port" ] && break; sleep 0.05; done
[ -s "$dir/greeting.port" ] || fail "the greeting server did not start"
greeting_port=$(cat "$dir/greeting.port")

# --- Dante ----------------------------------------------------------------------------------
dante_port=$(free_port)
{
  echo "logoutput: $dir/danted.log"
  echo "internal: 127.0.0.1 port = $dante_port"
  echo "external: 127.0.0.1"
  echo "clientmethod: none"
  echo "socksmethod: none"
  if [ "$(id -u)" -eq 0 ]; then
    echo "user.privileged: root"
    echo "user.unprivileged: nobody"
  fi
  printf 'client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n'
  printf 'socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8\n  command: connect\n}\n'
  printf 'socks block {\n  from: 0.0.0.0/0 to: 0.0.0.0/0\n  log: error\n}\n'
} >"$dir/danted.conf"
danted -f "$dir/danted.conf" -p "$dir/danted.pid" >"$dir/danted.out" 2>&1 &
pids+=($!)

# --- microsocks -----------------------------------------------------------------------------
microsocks_port=$(free_port)
microsocks -i 127.0.0.1 -p "$microsocks_port" >"$dir/microsocks.log" 2>&1 &
pids+=($!)
microsocks_auth_port=$(free_port)
microsocks_user=ixuser
microsocks_password=ix-Secret-42
microsocks -i 127.0.0.1 -p "$microsocks_auth_port" -u "$microsocks_user" -P "$microsocks_password" \
  >"$dir/microsocks-auth.log" 2>&1 &
pids+=($!)

# --- sshd and ssh -D ------------------------------------------------------------------------
ssh_port=$(free_port)
ssh_socks_port=$(free_port)
ssh-keygen -q -t ed25519 -N '' -f "$dir/ssh_host_ed25519_key"
ssh-keygen -q -t ed25519 -N '' -f "$dir/id_ed25519"
cp "$dir/id_ed25519.pub" "$dir/authorized_keys"
[ "$(id -u)" -ne 0 ] || mkdir -p /run/sshd
cat >"$dir/sshd_config" <<CONF
Port $ssh_port
ListenAddress 127.0.0.1
HostKey $dir/ssh_host_ed25519_key
PidFile $dir/sshd.pid
AuthorizedKeysFile $dir/authorized_keys
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PermitRootLogin prohibit-password
AllowTcpForwarding local
PermitOpen 127.0.0.1:* localhost:*
GatewayPorts no
X11Forwarding no
PermitTTY no
LogLevel ERROR
CONF
/usr/sbin/sshd -D -e -f "$dir/sshd_config" >"$dir/sshd.log" 2>&1 &
pids+=($!)
wait_listening "$ssh_port" sshd
ssh -F /dev/null -N -D "127.0.0.1:$ssh_socks_port" -p "$ssh_port" -i "$dir/id_ed25519" \
  -o BatchMode=yes -o StrictHostKeyChecking=no -o UserKnownHostsFile="$dir/known_hosts" \
  -o ExitOnForwardFailure=yes -o LogLevel=ERROR "$(id -un)@127.0.0.1" >"$dir/ssh.log" 2>&1 &
# Stopped first, so that sshd's session child ends with it.
pids=($! "${pids[@]}")

wait_listening "$greeting_port" "greeting server"
wait_listening "$dante_port" danted
wait_listening "$microsocks_port" microsocks
wait_listening "$microsocks_auth_port" "microsocks with authentication"
wait_listening "$ssh_socks_port" "ssh -D"

cat >"$state" <<STATE
IX_PEER_DIR=$dir
GREETING_PORT=$greeting_port
DANTE_PORT=$dante_port
MICROSOCKS_PORT=$microsocks_port
MICROSOCKS_AUTH_PORT=$microsocks_auth_port
MICROSOCKS_USER=$microsocks_user
MICROSOCKS_PASSWORD=$microsocks_password
SSH_SOCKS_PORT=$ssh_socks_port
PIDS=$(IFS=,; echo "${pids[*]}")
STATE
echo "socks peers: started in $dir (state in $state)"
