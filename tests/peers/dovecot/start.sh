#!/usr/bin/env bash
# Starts a Dovecot POP3 server for the tests, the benchmarks and the demo.
#   start.sh STATE_DIR [--cert server|self] [--plain-port N] [--tls-port N] [--profiles "few dots ..."]
#            [--mechanisms "plain login ..."]
# STATE_DIR gets the configuration, certificates (certs/), mailboxes (home/, expected/), logs and
# dovecot.env with DOVECOT_PLAIN_PORT, DOVECOT_TLS_PORT, DOVECOT_PID, DOVECOT_CA (the test CA).
# The login mechanisms are "plain login apop cram-md5 xoauth2" unless --mechanisms names others.
# XOAUTH2 checks its token with tokeninfo.py (TOKENINFO_PID), which takes "ix-token-<user>" for
# every user of the profiles.
# Runs as root (Dovecot drops to its own users); listens on 127.0.0.1 only. stop.sh STATE_DIR stops it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
state=$(mkdir -p "$1" && cd "$1" && pwd)
shift
cert=server
plain_port=""
tls_port=""
profiles="empty few dots large demo deletable"
mechanisms="plain login apop cram-md5 xoauth2"
while [ $# -gt 0 ]; do
  case $1 in
    --cert) cert=$2; shift 2 ;;
    --plain-port) plain_port=$2; shift 2 ;;
    --tls-port) tls_port=$2; shift 2 ;;
    --profiles) profiles=$2; shift 2 ;;
    --mechanisms) mechanisms=$2; shift 2 ;;
    *) echo "start.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
command -v dovecot > /dev/null || { echo "start.sh: dovecot is not installed (scripts/setup.sh)" >&2; exit 1; }
[ -f "$state/dovecot.env" ] && "$here/stop.sh" "$state" || true

"$here/../common/certs.sh" "$state/certs"
chmod 755 "$state" "$state/certs"
rm -rf "$state/home" "$state/expected" "$state/users" "$state/run" "$state/lib"
mkdir -p "$state/run" "$state/lib"
# shellcheck disable=SC2086
/usr/bin/python3 "$here/make_mailboxes.py" "$state" $profiles
chmod 644 "$state/users"
mapfile -t ports < <(/usr/bin/python3 "$here/../common/free_port.py" 3)
plain_port=${plain_port:-${ports[0]}}
tls_port=${tls_port:-${ports[1]}}
tokeninfo_port=${ports[2]}
mapfile -t users < <(cut -d: -f1 "$state/users")
/usr/bin/python3 "$here/tokeninfo.py" "$tokeninfo_port" "${users[@]}" > "$state/tokeninfo.out" 2>&1 &
tokeninfo_pid=$!
cat > "$state/dovecot-oauth2.conf.ext" <<CONF
tokeninfo_url = http://127.0.0.1:$tokeninfo_port/tokeninfo?access_token=
username_attribute = username
CONF

cat > "$state/dovecot.conf" <<CONF
protocols = pop3
listen = 127.0.0.1
base_dir = $state/run
state_dir = $state/lib
log_path = $state/dovecot.log
ssl = yes
ssl_cert = <$state/certs/$cert.pem
ssl_key = <$state/certs/$cert.key
ssl_dh = </usr/share/dovecot/dh.pem
disable_plaintext_auth = no
auth_mechanisms = $mechanisms
auth_failure_delay = 0
auth_username_format = %u
first_valid_uid = 1
first_valid_gid = 1
mail_location = maildir:~/Maildir
pop3_uidl_format = %08Xu%08Xv
mail_max_userip_connections = 100
passdb {
  driver = oauth2
  mechanisms = xoauth2
  args = $state/dovecot-oauth2.conf.ext
  result_failure = return-fail
}
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $state/users
}
userdb {
  driver = passwd-file
  args = username_format=%u $state/users
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $plain_port
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $tls_port
    ssl = yes
  }
}
# No growing delay after failed logins (auth penalty): tests fail logins on purpose.
service anvil {
  chroot =
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service stats {
  unix_listener stats-reader {
    mode = 0666
  }
  unix_listener stats-writer {
    mode = 0666
  }
}
CONF

dovecot -c "$state/dovecot.conf" -F > "$state/dovecot.out" 2>&1 &
pid=$!
cat > "$state/dovecot.env" <<ENV
DOVECOT_PLAIN_PORT=$plain_port
DOVECOT_TLS_PORT=$tls_port
DOVECOT_PID=$pid
TOKENINFO_PID=$tokeninfo_pid
DOVECOT_CA=$state/certs/ca.pem
DOVECOT_STATE=$state
ENV
for port in "$plain_port" "$tls_port" "$tokeninfo_port"; do
  if ! /usr/bin/python3 "$here/../common/wait_port.py" "$port" 20; then
    cat "$state/dovecot.out" "$state/dovecot.log" "$state/tokeninfo.out" >&2 || true
    kill "$pid" "$tokeninfo_pid" 2> /dev/null || true
    exit 1
  fi
done
echo "dovecot: pid $pid, POP3 on 127.0.0.1:$plain_port (STLS), POP3S on 127.0.0.1:$tls_port, cert $cert, state $state"
