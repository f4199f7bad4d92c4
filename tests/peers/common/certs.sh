#!/usr/bin/env bash
# Makes the certificates the TLS peers present, in DIR (made if missing):
#   ca.pem / ca.key          a test certificate authority
#   server.pem / server.key  a server certificate signed by it, for localhost and 127.0.0.1
#   self.pem / self.key      a self-signed server certificate for localhost and 127.0.0.1
#   expired.pem / .key       signed by the CA, for localhost and 127.0.0.1, already expired
#   other.pem / other.key    signed by the CA, for another host name only (other.invalid)
# Usage: certs.sh DIR. Existing files are kept.
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
[ -f ca.pem ] && exit 0

cat > ext.cnf <<'CNF'
[ix_server]
basicConstraints = CA:FALSE
keyUsage = digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
[ix_other]
basicConstraints = CA:FALSE
keyUsage = digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:other.invalid
[ix_ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
CNF
{ cat /etc/ssl/openssl.cnf; cat ext.cnf; } > req.cnf

quiet() { "$@" > /dev/null 2>&1 || { echo "certs.sh: failed: $*" >&2; "$@"; exit 1; }; }

quiet openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/O=ix tests/CN=ix Test CA" \
  -keyout ca.key -out ca.pem -extensions ix_ca -config req.cnf

sign() { # name extension common-name options
  local name=$1 ext=$2; shift 2
  quiet openssl req -newkey rsa:2048 -nodes -subj "/O=ix tests/CN=$1" -keyout "$name.key" -out "$name.csr"
  quiet openssl x509 -req -in "$name.csr" -CA ca.pem -CAkey ca.key -set_serial "0x$(openssl rand -hex 8)" \
    -extfile ext.cnf -extensions "$ext" -out "$name.pem" $2
  rm -f "$name.csr"
}
sign server ix_server localhost "-days 3650"
sign other ix_other other.invalid "-days 3650"
# Expired: valid for one day, ten days ago.
if openssl x509 -help 2>&1 | grep -q -- '-not_before'; then
  sign expired ix_server localhost "-not_before $(date -u -d '-10 days' +%Y%m%d%H%M%SZ) -not_after $(date -u -d '-9 days' +%Y%m%d%H%M%SZ)"
else
  quiet openssl req -newkey rsa:2048 -nodes -subj "/O=ix tests/CN=localhost" -keyout expired.key -out expired.csr
  mkdir -p ca-db && : > ca-db/index.txt && echo 01 > ca-db/serial
  cat > ca-db/ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = $dir/ca-db/index.txt
serial = $dir/ca-db/serial
new_certs_dir = $dir/ca-db
default_md = sha256
policy = any
copy_extensions = none
[any]
commonName = supplied
organizationName = optional
CNF
  quiet openssl ca -batch -config ca-db/ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem \
    -startdate "$(date -u -d '-10 days' +%Y%m%d%H%M%SZ)" -enddate "$(date -u -d '-9 days' +%Y%m%d%H%M%SZ)" \
    -extfile ext.cnf -extensions ix_server -notext
  rm -f expired.csr
fi
quiet openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/O=ix tests/CN=localhost" \
  -keyout self.key -out self.pem -addext "subjectAltName=DNS:localhost,IP:127.0.0.1"
chmod 600 ./*.key
chmod 644 ./*.pem
