#!/usr/bin/python3
"""Writes the test mailboxes (Maildir) and the passwd-file of the Dovecot test peer.

Usage: make_mailboxes.py STATE_DIR [PROFILE ...]

Every profile is one user whose password is "secret-<user>" (the demo user: "samplepasswd"):
  empty    no messages
  few      three small messages
  deletable  the three messages of few, for a test that deletes (user deletable)
  dots     one message whose body holds lines of ".", "..", ".x" and "-ERR"
  large    one message of about 5 MB
  demo     the demo mailbox: varied, realistic messages (user IvoryTester)
  bulk     2000 messages of about 20 KB (benchmarks)
  big      20 messages of about 5 MB (benchmarks)
  huge     one message of about 50 MB (benchmarks)
  twenty   one message of about 20 MB (the sample window's responsiveness)
Messages are deterministic. Each is also written as STATE_DIR/expected/<user>/<n>.eml (the bytes
a POP3 client must receive, lines ending in CR LF, before dot-stuffing), so that tests can
compare what they retrieve byte for byte.
"""
import os
import random
import zlib
import sys

NOBODY_UID = 65534
NOBODY_GID = 65534
DEFAULT_PROFILES = ["empty", "few", "dots", "large", "demo", "deletable"]


def header(frm, to, subject, date, extra=()):
    lines = [f"From: {frm}", f"To: {to}", f"Subject: {subject}", f"Date: {date}",
             f"Message-ID: <{zlib.crc32((frm + subject + date).encode())}@ix.test>"]
    lines += list(extra)
    return lines


def text_message(n, size, rng, subject=None):
    body = []
    words = ["mail", "server", "message", "client", "line", "text", "test", "inbox", "reply", "data"]
    total = 0
    while total < size:
        line = " ".join(rng.choice(words) for _ in range(12))
        body.append(line)
        total += len(line) + 2
    head = header(f"Sender {n} <sender{n}@ix.test>", "Ivory Tester <ivory@ix.test>",
                  subject or f"Message number {n}", f"Tue, {1 + n % 28} Jun 2008 10:{n % 60:02d}:30 +0200",
                  ["MIME-Version: 1.0", "Content-Type: text/plain; charset=us-ascii"])
    return head + [""] + body


def few(rng):
    return [text_message(i, 300 + 200 * i, rng) for i in range(1, 4)]


def dots(rng):
    head = header("Dot Sender <dots@ix.test>", "ivory@ix.test", "Lines of dots",
                  "Wed, 4 Jun 2008 09:00:00 +0000")
    body = ["first line", ".", "..", "...", ".x", "-ERR not an error", "+OK not a status", "", "last line"]
    return [head + [""] + body]


def large(rng, size=5 * 1024 * 1024, count=1):
    return [text_message(i, size, rng, f"Large message {i}") for i in range(1, count + 1)]


def bulk(rng):
    return [text_message(i, 20 * 1024, rng) for i in range(1, 2001)]


def demo(rng):
    from demo_messages import demo_messages
    return demo_messages()


PROFILES = {
    "empty": ("empty", lambda rng: []),
    "few": ("few", few),
    "deletable": ("deletable", few),
    "dots": ("dots", dots),
    "large": ("large", lambda rng: large(rng)),
    "demo": ("IvoryTester", demo),
    "bulk": ("bulk", bulk),
    "big": ("big", lambda rng: large(rng, 5 * 1024 * 1024, 20)),
    "huge": ("huge", lambda rng: large(rng, 50 * 1024 * 1024)),
    "twenty": ("twenty", lambda rng: large(rng, 20 * 1024 * 1024)),
}


def password(user):
    return "samplepasswd" if user == "IvoryTester" else f"secret-{user}"


def write_mailbox(state, user, messages):
    home = os.path.join(state, "home", user)
    expected = os.path.join(state, "expected", user)
    for sub in ("new", "cur", "tmp"):
        os.makedirs(os.path.join(home, "Maildir", sub), exist_ok=True)
    os.makedirs(expected, exist_ok=True)
    for i, lines in enumerate(messages, start=1):
        if isinstance(lines, bytes):
            data = lines.replace(b"\r\n", b"\n")
        else:
            data = ("\n".join(lines) + "\n").encode("latin-1")
        name = f"{1200000000 + i}.M{i}P1.ixtest:2,"
        with open(os.path.join(home, "Maildir", "cur", name), "wb") as f:
            f.write(data)
        with open(os.path.join(expected, f"{i}.eml"), "wb") as f:
            f.write(data.replace(b"\n", b"\r\n"))
    for root, dirs, files in os.walk(home):
        for entry in dirs + files:
            os.chown(os.path.join(root, entry), NOBODY_UID, NOBODY_GID)
    os.chown(home, NOBODY_UID, NOBODY_GID)
    return home


def main():
    state = sys.argv[1]
    profiles = sys.argv[2:] or DEFAULT_PROFILES
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    entries = []
    for profile in profiles:
        user, make = PROFILES[profile]
        home = write_mailbox(state, user, make(random.Random(profile)))
        entries.append(f"{user}:{{PLAIN}}{password(user)}:{NOBODY_UID}:{NOBODY_GID}::{home}::")
    with open(os.path.join(state, "users"), "a") as f:
        f.write("\n".join(entries) + "\n")


if __name__ == "__main__":
    main()
