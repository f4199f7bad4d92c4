#!/usr/bin/env bash
# Starts dnsmasq on 127.0.0.1 at a free high port, in a fresh temporary directory, as the
# authoritative server of the test zone ix.test (it never forwards: no upstream servers, no
# /etc/hosts, no system resolver). The zone:
#   www.ix.test         A 192.0.2.10, AAAA 2001:db8::10
#   ix.test             MX 10 mx1.ix.test, MX 20 mx2.ix.test (their A records: 192.0.2.21, .22)
#   alias2.ix.test      CNAME alias.ix.test, CNAME www.ix.test (a chain)
#   multi.ix.test       TXT "first string" "second string"
#   sel._domainkey.ix.test  TXT: a DKIM key record of a fresh 2048-bit RSA key, in three strings
#   ed._domainkey.ix.test   TXT: a DKIM key record of a fresh Ed25519 key (RFC 8463)
#   revoked._domainkey.ix.test  TXT "v=DKIM1; k=rsa; p=" (a revoked key)
#   two._domainkey.ix.test  TXT: a record naming p twice (invalid), and the sel record
#   big.ix.test         24 TXT records of 60 bytes: too many for a 512-byte UDP reply
# Every record has TTL 300. A name outside ix.test is refused.
# usage: start.sh STATE_DIR
# Writes STATE_DIR/dnsmasq.env: the port, the DKIM record's three strings, the Ed25519 record, the
# PID and the temporary directory (which holds the keys: dkim.key in PEM, dkim-ed25519.key as
# base64 of the 32-byte private key). stop.sh STATE_DIR stops it by its PID and removes the directory.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../common/peers.sh
. "$here/../common/peers.sh"
peers_begin dnsmasq "${1:-}" "$here/stop.sh"

for tool in dnsmasq openssl python3; do need "$tool"; done

# The DKIM key record: "v=DKIM1; k=rsa; p=" and the base64 public key, cut into three strings.
openssl genrsa -out "$dir/dkim.key" 2048 2>/dev/null
key=$(openssl rsa -in "$dir/dkim.key" -pubout -outform DER 2>/dev/null | openssl base64 -A)
dkim="v=DKIM1; k=rsa; p=$key"
third=$(( (${#dkim} + 2) / 3 ))
dkim1=${dkim:0:third}
dkim2=${dkim:third:third}
dkim3=${dkim:2*third}

# The Ed25519 key record: the raw 32-byte public key (the last 32 bytes of its DER forms).
openssl genpkey -algorithm ed25519 -out "$dir/dkim-ed25519.pem" 2>/dev/null
openssl pkey -in "$dir/dkim-ed25519.pem" -outform DER 2>/dev/null | tail -c 32 | openssl base64 -A >"$dir/dkim-ed25519.key"
ed25519="v=DKIM1; k=ed25519; p=$(openssl pkey -in "$dir/dkim-ed25519.pem" -pubout -outform DER 2>/dev/null |
  tail -c 32 | openssl base64 -A)"

port=$(python3 "$peers_common/free_port.py")
{
  echo "port=$port"
  echo "listen-address=127.0.0.1"
  echo "bind-interfaces"
  echo "no-resolv"
  echo "no-hosts"
  echo "no-poll"
  echo "local=/ix.test/"
  echo "local-ttl=300"
  [ "$(id -u)" -ne 0 ] || echo "user=root"
  echo "host-record=www.ix.test,192.0.2.10,2001:db8::10"
  echo "host-record=mx1.ix.test,192.0.2.21"
  echo "host-record=mx2.ix.test,192.0.2.22"
  echo "mx-host=ix.test,mx2.ix.test,20"
  echo "mx-host=ix.test,mx1.ix.test,10"
  echo "cname=alias.ix.test,www.ix.test"
  echo "cname=alias2.ix.test,alias.ix.test"
  echo 'txt-record=multi.ix.test,"first string","second string"'
  echo "txt-record=sel._domainkey.ix.test,\"$dkim1\",\"$dkim2\",\"$dkim3\""
  echo "txt-record=ed._domainkey.ix.test,\"$ed25519\""
  echo 'txt-record=revoked._domainkey.ix.test,"v=DKIM1; k=rsa; p="'
  echo 'txt-record=two._domainkey.ix.test,"v=DKIM1; p=AAAA; p=BBBB"'
  echo "txt-record=two._domainkey.ix.test,\"$dkim1\",\"$dkim2\",\"$dkim3\""
  for n in $(seq -w 1 24); do
    echo "txt-record=big.ix.test,\"record $n $(printf 'x%.0s' $(seq 1 50))\""
  done
} >"$dir/dnsmasq.conf"
dnsmasq --keep-in-foreground --conf-file="$dir/dnsmasq.conf" --pid-file= \
  --log-facility="$dir/dnsmasq.log" >"$dir/dnsmasq.out" 2>&1 &
pids+=($!)

# Ready once it answers a query of the zone over TCP.
python3 - "$port" <<'PY' || fail "dnsmasq does not answer on 127.0.0.1:$port"
import socket, struct, sys, time
port = int(sys.argv[1])
query = bytes.fromhex("abcd0100000100000000000003777777026978047465737400000100 01".replace(" ", ""))
deadline = time.monotonic() + 10
while time.monotonic() < deadline:
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
            s.sendall(struct.pack(">H", len(query)) + query)
            if len(s.recv(2)) == 2:
                sys.exit(0)
    except OSError:
        time.sleep(0.05)
sys.exit(1)
PY

cat >"$state" <<STATE
IX_PEER_DIR=$dir
DNS_PORT=$port
DKIM_STRING_1=$dkim1
DKIM_STRING_2=$dkim2
DKIM_STRING_3=$dkim3
DKIM_ED25519_RECORD=$ed25519
PIDS=$(IFS=,; echo "${pids[*]}")
STATE
echo "dnsmasq peers: started in $dir (state in $state)"
