#!/usr/bin/python3
"""dkimpy on the command line for the DKIM peer tests (one process for many messages), with the
keys of the zone that tests/peers/dnsmasq serves, read from its state file (dnsmasq.env).

  dkimpy_tool.py verify STATE_FILE MESSAGE_FILE...
      prints one line per message: "ok", or "fail" and the signatures that do not verify; every
      key lookup is answered with the zone's record of the name's selector ("sel" or "ed"),
      never from DNS
  dkimpy_tool.py sign STATE_FILE DOMAIN OUT_DIR MESSAGE_FILE SIGNING...
      SIGNING is SELECTOR,CANON,ALGORITHM[,length]; writes OUT_DIR/N.eml for the Nth SIGNING, signed
      over From, To, Subject and Date with the zone's RSA or Ed25519 key.
"""
import os
import subprocess
import sys

import dkim


def read_state(state_file):
    state = {}
    for line in open(state_file).read().splitlines():
        name, _, value = line.partition("=")
        state[name] = value
    return state


def verify(state, message_files):
    rsa = state["DKIM_STRING_1"] + state["DKIM_STRING_2"] + state["DKIM_STRING_3"]
    records = {b"sel": rsa.encode(), b"ed": state["DKIM_ED25519_RECORD"].encode()}

    def lookup(name, timeout=5):
        return records.get(name.split(b".")[0], b"")

    for name in message_files:
        d = dkim.DKIM(open(name, "rb").read())
        count = len([h for h in d.headers if h[0].lower() == b"dkim-signature"])
        bad = [i for i in range(count) if not d.verify(idx=i, dnsfunc=lookup)]
        print("ok" if count and not bad else "fail %s" % bad)


def sign(state, domain, out_dir, message_file, signings):
    message = open(message_file, "rb").read()
    keys = state["IX_PEER_DIR"]
    for index, signing in enumerate(signings):
        selector, canon, algorithm, *options = signing.split(",")
        if algorithm.startswith("ed25519"):
            key = open(os.path.join(keys, "dkim-ed25519.key"), "rb").read().strip()
        else:
            key = subprocess.run(["openssl", "rsa", "-in", os.path.join(keys, "dkim.key"), "-traditional"],
                                 check=True, capture_output=True).stdout
        header, _, body = canon.partition("/")
        signature = dkim.sign(message, selector.encode(), domain.encode(), key,
                              canonicalize=(header.encode(), (body or "simple").encode()),
                              signature_algorithm=algorithm.encode(), length="length" in options,
                              include_headers=[b"from", b"to", b"subject", b"date"])
        with open(os.path.join(out_dir, "%d.eml" % index), "wb") as out:
            out.write(signature + message)


if sys.argv[1] == "verify":
    verify(read_state(sys.argv[2]), sys.argv[3:])
else:
    sign(read_state(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6:])
