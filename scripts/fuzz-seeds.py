#!/usr/bin/python3
"""Writes candidate seeds for the fuzz targets that reach their deep paths, one folder per target:

    scripts/fuzz-seeds.py OUTDIR [COUNT]
    scripts/fuzz.sh -s OUTDIR ...        # fuzzes from them; the merge keeps what adds coverage

- message and header targets: the generated test messages of tests/message/corpus/make_corpus.py
  (multipart, nested, RFC 2047 and RFC 2231 names, uuencode, malformed) and the demo mailbox,
  whole and as their header values, encoded bodies, addresses and domains;
- fuzz_reply_lines: every reply of POP3 sessions with the project's Dovecot peer on 127.0.0.1
  (greeting, CAPA, logins, STAT, LIST, UIDL, TOP, RETR, STLS and the TLS bytes after it);
- fuzz_tls_handshake: the server's first TLS flights (TLS 1.2 and 1.3) from that Dovecot, after
  STLS and on its implicit TLS port, for the hellos of `openssl s_client`.
Each target's first input byte selects its options (see fuzz/<target>.cpp); the seeds set it.
"""

import email
import email.header
import email.policy
import os
import poplib
import random
import select
import socket
import subprocess
import sys
import tempfile
import threading

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DOVECOT = os.path.join(ROOT, "tests", "peers", "dovecot")
IDN_DOMAINS = ["b\u00fccher.example", "m\u00fcnchen.de", "\u0436\u0443\u0440\u043d\u0430\u043b.\u0440\u0444",
               "\u4f8b\u3048.\u30c6\u30b9\u30c8", "\U0001f389.example", "xn--bcher-kva.example",
               "caf\u00e9.example.com", "a.b.c.d.e.f.g.h.i.j.k.l.m.n.o.p", "\u00df\u00df.de"]
ADDRESSES = ['"Last, First" <first.last@example.com>', "a@b.c, d@e.f; g@h.i",
             "Undisclosed recipients:;", "team: x@y.z, \"q\\\"uote\" <q@r.s>;",
             "=?utf-8?Q?J=C3=BCrgen?= <j@example.de>", "(comment) user@[127.0.0.1]",
             "'single' <s@example.com>", "<@route,@path:user@example.com>",
             "user@b\u00fccher.example", "\"\\\\\" <bs@example.com>"]


class Seeds:
    """Writes numbered seed files under OUTDIR/<target>/."""

    def __init__(self, outdir):
        self.outdir = outdir
        self.counts = {}

    def add(self, target, data):
        if isinstance(data, str):
            data = data.encode("utf-8", errors="surrogateescape")
        folder = os.path.join(self.outdir, target)
        os.makedirs(folder, exist_ok=True)
        number = self.counts.get(target, 0)
        self.counts[target] = number + 1
        with open(os.path.join(folder, "seed-%04d" % number), "wb") as out:
            out.write(data)


def generated_messages(count):
    """The messages of the corpus generator, as bytes."""
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([sys.executable, os.path.join(ROOT, "tests", "message", "corpus", "make_corpus.py"),
                        folder, str(count)], check=True)
        return [open(os.path.join(folder, name), "rb").read()
                for name in sorted(os.listdir(folder)) if name.endswith(".eml")]


def header_seeds(seeds, raw, rnd):
    """Header values, addresses, domains and encoded bodies of one message."""
    message = email.message_from_bytes(raw, policy=email.policy.compat32)
    for part in message.walk():
        for name, value in part.items():
            lower = name.lower()
            if lower == "subject":
                seeds.add("fuzz_encoded_words", bytes([rnd.randrange(256)]) + value.encode("latin-1"))
                decoded = str(email.header.make_header(email.header.decode_header(value)))
                seeds.add("fuzz_utf8_ansi", decoded)
            elif lower in ("content-type", "content-disposition"):
                item = 0 if "*=" in value or "*0" in value else (7 if "boundary" in value else 2)
                seeds.add("fuzz_decoded_item_value", bytes([152 + item]) + value.encode("latin-1"))
                seeds.add("fuzz_quoted_pair", value)
            elif lower in ("from", "to", "cc"):
                seeds.add("fuzz_email_address", value)
                seeds.add("fuzz_idn_encode", value.rsplit("@", 1)[-1].rstrip(">"))
        encoding = (part.get("Content-Transfer-Encoding") or "").lower()
        target = {"base64": "fuzz_base64_decode", "quoted-printable": "fuzz_qp_decode"}.get(encoding)
        payload = part.get_payload()
        if target and isinstance(payload, str):
            seeds.add(target, bytes([rnd.randrange(256)]) + payload.encode("latin-1"))
    if b"\nbegin " in raw:
        seeds.add("fuzz_uu_decode", bytes([rnd.randrange(256)]) + raw.split(b"\r\n\r\n", 1)[1])


def message_seeds(seeds, messages):
    rnd = random.Random(23)
    for number, raw in enumerate(messages):
        seeds.add("fuzz_load_message", bytes([number % 3]) + raw)
        header_seeds(seeds, raw, rnd)
    for domain in IDN_DOMAINS:
        seeds.add("fuzz_idn_encode", domain)
        seeds.add("fuzz_idn_encode", domain.encode("latin-1", errors="replace"))
        seeds.add("fuzz_utf8_ansi", domain)
    for address in ADDRESSES:
        seeds.add("fuzz_email_address", address)
    for broken in [b"a\xf0\x9f\x8e\x89b", b"\xc3\x41", b"\xed\xa0\x80\xed\xb0\x80", b"\xf4\x90\x80\x80",
                   b"\xe2\x82", b"\xc0\xaf", b"\xef\xbb\xbftext"]:
        seeds.add("fuzz_utf8_ansi", broken)


class Relay:
    """Listens on 127.0.0.1 and passes one connection through to a server, recording what each
    side sent as a list of (direction, bytes), direction "c" for the client, "s" for the server."""

    def __init__(self, port):
        self.server_port = port
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.chunks = []
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def run(self):
        client, _ = self.listener.accept()
        server = socket.create_connection(("127.0.0.1", self.server_port))
        peers = {client: (server, "c"), server: (client, "s")}
        open_ends = 2
        while open_ends:
            readable, _, _ = select.select(list(peers), [], [], 10)
            if not readable:
                break
            for end in readable:
                data = end.recv(65536)
                other, direction = peers[end]
                if not data:
                    open_ends = 0
                    break
                self.chunks.append((direction, data))
                other.sendall(data)
        client.close()
        server.close()
        self.listener.close()

    def finish(self):
        self.thread.join(20)
        return self.chunks

    def server_bytes(self):
        return b"".join(data for direction, data in self.chunks if direction == "s")


def first_server_flight(chunks, after=b""):
    """What the server sent after the client's hello and before the client's next bytes."""
    flight = b""
    hello_seen = False
    for direction, data in chunks:
        if direction == "c":
            if hello_seen and flight:
                break
            hello_seen = hello_seen or data.startswith(b"\x16\x03")
        elif hello_seen:
            flight += data
    return flight[len(after):] if flight.startswith(after) else flight


def pop3_session(port, user, password, retrieve):
    """A poplib session through a relay; returns the server's bytes per command."""
    relay = Relay(port)
    client = poplib.POP3("127.0.0.1", relay.port, timeout=20)
    client.capa()
    client.user(user)
    client.pass_(password)
    client.stat()
    client.list()
    client.uidl()
    count = len(client.list()[1])
    for number in range(1, min(count, retrieve) + 1):
        client.top(number, 0)
        client.retr(number)
    client.quit()
    relay.finish()
    return relay.server_bytes()


def replies(stream):
    """The replies of a captured server stream: single lines, and multi-line ones up to ".\r\n"."""
    lines = stream.split(b"\r\n")
    out = []
    index = 0
    while index < len(lines) - 1:
        start = index
        index += 1
        if index < len(lines) and lines[start].startswith(b"+OK") and not lines[start].startswith(b"+OK Logged"):
            rest = lines.index(b".", index) if b"." in lines[index:] else None
            if rest is not None and all(not l.startswith((b"+OK", b"-ERR")) for l in lines[index:rest]):
                index = rest + 1
        out.append(b"\r\n".join(lines[start:index]) + b"\r\n")
    return out


def tls_flight(port, options, starttls=False):
    relay = Relay(port)
    command = ["openssl", "s_client", "-connect", "127.0.0.1:%d" % relay.port, "-servername", "localhost"]
    command += (["-starttls", "pop3"] if starttls else []) + options
    subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=30)
    chunks = relay.finish()
    return chunks


def peer_seeds(seeds):
    state = tempfile.mkdtemp(prefix="ix-fuzz-seeds-")
    subprocess.run([os.path.join(DOVECOT, "start.sh"), state, "--profiles", "few dots demo"], check=True,
                   stdout=subprocess.DEVNULL)
    try:
        env = dict(line.split("=", 1) for line in open(os.path.join(state, "dovecot.env")).read().split())
        plain, implicit = int(env["DOVECOT_PLAIN_PORT"]), int(env["DOVECOT_TLS_PORT"])
        rnd = random.Random(110)
        for user, password, count in [("few", "secret-few", 3), ("dots", "secret-dots", 1),
                                      ("IvoryTester", "samplepasswd", 3)]:
            stream = pop3_session(plain, user, password, count)
            seeds.add("fuzz_reply_lines", bytes([rnd.randrange(8)]) + stream[:1024 * 1024 - 1])
            for reply in replies(stream):
                seeds.add("fuzz_reply_lines", bytes([rnd.randrange(256)]) + reply)
        for number, name in enumerate(sorted(os.listdir(os.path.join(state, "expected", "IvoryTester")))):
            raw = open(os.path.join(state, "expected", "IvoryTester", name), "rb").read()
            seeds.add("fuzz_load_message", bytes([number % 3]) + raw)
            header_seeds(seeds, raw, rnd)
        for options in (["-tls1_2"], ["-tls1_3"], ["-tls1_2", "-cipher", "ECDHE-RSA-AES128-GCM-SHA256"], []):
            for starttls in (False, True):
                chunks = tls_flight(plain if starttls else implicit, options, starttls)
                flight = first_server_flight(chunks)
                for cut in (0, 5, 64, 200):
                    seeds.add("fuzz_tls_handshake", bytes([cut % 256]) + flight)
                if starttls:
                    pop3 = b"".join(d for direction, d in chunks if direction == "s")
                    seeds.add("fuzz_reply_lines", b"\x01" + pop3[:pop3.find(b"\x16\x03") + 400])
    finally:
        subprocess.run([os.path.join(DOVECOT, "stop.sh"), state], check=False)
        subprocess.run(["rm", "-rf", state], check=False)


def main():
    outdir = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 120
    seeds = Seeds(outdir)
    message_seeds(seeds, generated_messages(count))
    peer_seeds(seeds)
    for target, number in sorted(seeds.counts.items()):
        print("fuzz-seeds: %s: %d seeds" % (target, number))


if __name__ == "__main__":
    main()
