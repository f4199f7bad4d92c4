#!/usr/bin/env bash
# Installs every Debian package listed in scripts/packages.txt that is not installed yet, and keeps
# the .deb of Cyrus's pop3d for the Cyrus test peer in /opt/ix-peers (installing that package
# would remove Dovecot's POP3 server; tests/peers/cyrus unpacks pop3d from it).
# Idempotent and non-interactive; runs apt-get update once, only when something is missing.
# Services of the new packages (Cyrus's master, the MTA that cyrus-common needs) are not started:
# while installing, a policy-rc.d refuses every start when the machine has none of its own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cyrus_deb=/opt/ix-peers/cyrus-pop3d.deb
mapfile -t wanted < <(grep -v -E '^\s*(#|$)' "$here/packages.txt")
missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
if [ ${#missing[@]} -eq 0 ] && [ -f "$cyrus_deb" ]; then
  echo "setup: all ${#wanted[@]} packages are installed"
  exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" > /dev/null
    $sudo chmod 755 "$policy"
    trap '$sudo rm -f "$policy"' EXIT
  fi
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  # Not at the next boot either: the tests start their own Cyrus.
  if command -v systemctl > /dev/null; then $sudo systemctl disable -q cyrus-imapd 2> /dev/null || true; fi
fi
if [ ! -f "$cyrus_deb" ]; then
  echo "setup: downloading cyrus-pop3d to $cyrus_deb"
  tmp=$(mktemp -d)
  chmod 755 "$tmp"
  (cd "$tmp" && apt-get download -qq cyrus-pop3d)
  $sudo mkdir -p "$(dirname "$cyrus_deb")"
  $sudo mv "$tmp"/cyrus-pop3d_*.deb "$cyrus_deb"
  rm -rf "$tmp"
fi
