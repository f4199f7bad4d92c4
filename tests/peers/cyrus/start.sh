#!/usr/bin/env bash
# Starts a Cyrus POP3 server (pop3d 3.6 under Cyrus's master) for the NTLM, CRAM-MD5 and APOP
# login tests: users in a sasldb, SASL mechanisms PLAIN LOGIN CRAM-MD5 DIGEST-MD5 NTLM, and one
# message per user delivered over LMTP with Cyrus's deliver. Everything lives in a temporary
# directory; POP3 listens on a free port of 127.0.0.1.
#   start.sh STATE_DIR
# STATE_DIR/cyrus.env gets CYRUS_PORT, CYRUS_REALM, CYRUS_USERS (user:password pairs), IX_PEER_DIR
# and PIDS. stop.sh STATE_DIR stops it.
#
# Cyrus's pop3d package would replace Dovecot's POP3 server, so it is not installed: setup.sh
# keeps its .deb (IX_CYRUS_POP3D_DEB) and this script unpacks pop3d from it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../common/peers.sh
. "$here/../common/peers.sh"
peers_begin cyrus "${1:-}" "$here/stop.sh"

bin=/usr/lib/cyrus/bin
deb=${IX_CYRUS_POP3D_DEB:-/opt/ix-peers/cyrus-pop3d.deb}
[ -x "$bin/master" ] || fail "cyrus-common is not installed (scripts/setup.sh installs it)"
need saslpasswd2
[ -f "$deb" ] || fail "$deb is missing (scripts/setup.sh downloads it)"
dpkg-deb -x "$deb" "$dir/deb"
pop3d=$dir/deb/usr/lib/cyrus/bin/pop3d

realm=ix-cyrus
port=$(free_port)
users=("ntlmuser:ntlm-Secret1" "tim:tanstaaftanstaaf")
mkdir -p "$dir/config" "$dir/spool" "$dir/socket" "$dir/sieve"

cat > "$dir/imapd.conf" <<CONF
configdirectory: $dir/config
defaultpartition: default
partition-default: $dir/spool
sievedir: $dir/sieve
servername: $realm
admins: cyrus
allowplaintext: yes
allowapop: yes
popminpoll: 0
failedloginpause: 0
sasl_pwcheck_method: auxprop
sasl_auxprop_plugin: sasldb
sasl_sasldb_path: $dir/sasldb2
sasl_mech_list: PLAIN LOGIN CRAM-MD5 DIGEST-MD5 NTLM
lmtpsocket: $dir/socket/lmtp
idlesocket: $dir/socket/idle
notifysocket: $dir/socket/notify
autocreate_post: yes
autocreate_quota: 0
CONF

cat > "$dir/cyrus.conf" <<CONF
START {
  recover cmd="$bin/ctl_cyrusdb -C $dir/imapd.conf -r"
}
SERVICES {
  pop3 cmd="$pop3d -C $dir/imapd.conf" listen="127.0.0.1:$port" prefork=0
  lmtpunix cmd="$bin/lmtpd -C $dir/imapd.conf" listen="$dir/socket/lmtp" prefork=0
}
EVENTS {
}
CONF

for entry in "${users[@]}"; do
  printf '%s' "${entry#*:}" | saslpasswd2 -f "$dir/sasldb2" -p -c -u "$realm" "${entry%%:*}"
done
chown -R cyrus:mail "$dir"
chmod 700 "$dir"

"$bin/master" -C "$dir/imapd.conf" -M "$dir/cyrus.conf" -p "$dir/master.pid" -D > "$dir/master.log" 2>&1 &
pids+=("$!")
wait_listening "$port" "Cyrus pop3d"

for entry in "${users[@]}"; do
  user=${entry%%:*}
  printf 'From: ix <ix@ix.test>\r\nTo: %s@ix.test\r\nSubject: Cyrus test message\r\n\r\nHello from Cyrus.\r\n' "$user" \
    | "$bin/deliver" -C "$dir/imapd.conf" -a "$user" "$user" || fail "deliver to $user failed"
done

{
  echo "CYRUS_PORT=$port"
  echo "CYRUS_REALM=$realm"
  echo "CYRUS_USERS=${users[*]}"
  echo "IX_PEER_DIR=$dir"
  echo "PIDS=$(IFS=,; echo "${pids[*]}")"
} > "$state"
echo "cyrus: pop3d on 127.0.0.1:$port, state $dir"
