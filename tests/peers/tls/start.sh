#!/usr/bin/env bash
# Starts the TLS test peers on 127.0.0.1 high ports, in a fresh temporary directory, with the
# certificates of ../common/certs.sh (plus a client certificate signed by the same test CA):
#   - gnutls-serv (GnuTLS), echo servers: TLS 1.2 and 1.3; TLS 1.2 only; one that requires a
#     client certificate,
#   - openssl s_server with records of at most 512 bytes, answering each line reversed (-rev).
# usage: start.sh STATE_DIR
# Writes STATE_DIR/tls.env: KEY=VALUE lines with the ports, the certificate directory, the PIDs
# and the temporary directory. stop.sh STATE_DIR stops every process by its PID.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../common/peers.sh
. "$here/../common/peers.sh"
peers_begin tls "${1:-}" "$here/stop.sh"

for tool in python3 openssl gnutls-serv; do need "$tool"; done

certs=$dir/certs
bash "$peers_common/certs.sh" "$certs" || fail "cannot make the certificates"
# A client certificate from the same test authority, for the server that requires one.
openssl req -newkey rsa:2048 -nodes -subj "/O=ix tests/CN=ix test client" \
  -keyout "$certs/client.key" -out "$certs/client.csr" >/dev/null 2>&1 || fail "client key"
printf 'basicConstraints = CA:FALSE\nextendedKeyUsage = clientAuth\nsubjectAltName = email:client@example.org\n' \
  >"$certs/client.ext"
openssl x509 -req -in "$certs/client.csr" -CA "$certs/ca.pem" -CAkey "$certs/ca.key" -days 3650 \
  -set_serial "0x$(openssl rand -hex 8)" -extfile "$certs/client.ext" -out "$certs/client.pem" \
  >/dev/null 2>&1 || fail "client certificate"

# gnutls NAME CERT [options...]: an echo server presenting CERT; its port goes to NAME_PORT.
gnutls() {
  local name=$1 cert=$2 port
  shift 2
  port=$(free_port)
  gnutls-serv --echo --quiet -p "$port" --x509certfile "$certs/$cert.pem" \
    --x509keyfile "$certs/$cert.key" "$@" >"$dir/$name.log" 2>&1 &
  pids+=($!)
  printf -v "${name}_port" '%s' "$port"
}
gnutls gnutls server -a
gnutls gnutls12 server -a --priority "NORMAL:-VERS-TLS1.3"
gnutls gnutls_client_cert server -r --verify-client-cert --x509cafile "$certs/ca.pem"

openssl_port=$(free_port)
openssl s_server -accept "127.0.0.1:$openssl_port" -cert "$certs/server.pem" \
  -key "$certs/server.key" -max_send_frag 512 -rev -quiet >"$dir/openssl.log" 2>&1 </dev/null &
pids+=($!)

for port in "$gnutls_port" "$gnutls12_port" "$gnutls_client_cert_port" "$openssl_port"; do
  wait_listening "$port" "tls peer"
done

cat >"$state" <<STATE
IX_PEER_DIR=$dir
CERT_DIR=$certs
GNUTLS_PORT=$gnutls_port
GNUTLS12_PORT=$gnutls12_port
GNUTLS_CLIENT_CERT_PORT=$gnutls_client_cert_port
OPENSSL_PORT=$openssl_port
PIDS=$(IFS=,; echo "${pids[*]}")
STATE
echo "tls peers: started in $dir (state in $state)"
