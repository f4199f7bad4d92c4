#!/usr/bin/python3
"""dkimpy on the command line for the DKIM peer tests (one process for many messages).

  dkimpy_tool.py verify RECORDS_FILE MESSAGE_FILE...
      prints one line per message: "ok", or "fail" and the signatures that do not verify;
      RECORDS_FILE holds lines "SELECTOR RECORD" and at most one plain "RECORD"; every key lookup is
      answered with the record of the name's selector, else the plain one (never from DNS)
  dkimpy_tool.py sign RSA_KEY_FILE ED25519_KEY_FILE DOMAIN OUT_DIR SIGNING...  (message on stdin)
      SIGNING is SELECTOR,CANON,ALGORITHM[,length]; writes OUT_DIR/N.eml for the Nth SIGNING, signed
      over From, To, Subject and Date. RSA keys in PEM, Ed25519 keys as base64 of their seed.
"""
import os
import subprocess
import sys

import dkim


def verify(records_file, message_files):
    records = {}
    for line in open(records_file, "rb").read().splitlines():
        selector, _, record = line.strip().partition(b" ")
        if b"=" in selector:
            records[None] = line.strip()
        elif selector:
            records[selector] = record

    def lookup(name, timeout=5):
        return records.get(name.split(b".")[0], records.get(None, b""))

    for name in message_files:
        d = dkim.DKIM(open(name, "rb").read())
        count = len([h for h in d.headers if h[0].lower() == b"dkim-signature"])
        bad = [i for i in range(count) if not d.verify(idx=i, dnsfunc=lookup)]
        print("ok" if count and not bad else "fail %s" % bad)


def sign(rsa_key_file, ed25519_key_file, domain, out_dir, signings):
    message = sys.stdin.buffer.read()
    for index, signing in enumerate(signings):
        selector, canon, algorithm, *options = signing.split(",")
        if algorithm.startswith("ed25519"):
            key = open(ed25519_key_file, "rb").read().strip()
        else:
            key = subprocess.run(["openssl", "rsa", "-in", rsa_key_file, "-traditional"], check=True,
                                 capture_output=True).stdout
        header, _, body = canon.partition("/")
        signature = dkim.sign(message, selector.encode(), domain.encode(), key,
                              canonicalize=(header.encode(), (body or "simple").encode()),
                              signature_algorithm=algorithm.encode(), length="length" in options,
                              include_headers=[b"from", b"to", b"subject", b"date"])
        with open(os.path.join(out_dir, "%d.eml" % index), "wb") as out:
            out.write(signature + message)


if sys.argv[1] == "verify":
    verify(sys.argv[2], sys.argv[3:])
else:
    sign(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6:])
