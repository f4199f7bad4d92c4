#!/usr/bin/python3
"""Writes deterministic plans of messages for the library to compose (round_trip_tests.cpp): the
shapes mail software writes (text with HTML alternative, related images, attachments of 0 bytes
to 5 MB, names in several character sets, uuencoded plain messages).

Usage: compose_plans.py OUTDIR FIRST COUNT

OUTDIR/plans.txt holds, per message, a line "== INDEX" and then one line per property or body,
its fields separated by TAB, texts as base64 of their UTF-8 bytes (B below):
    charset NAME | extensions 0/1 | subject B | from-name B | from-email ADDRESS | to B(address)
    cc ADDRESS
    reply-to ADDRESS | date Y M D H M S | priority 0-2 | in-reply-to ID | reference ID
    mailer TEXT | extra FIELD | content-type TYPE | uuencode
    text TYPE CHARSET-or-- B(lines separated by LF)
    attachment attachment/image TYPE B(file name) DATA-FILE CONTENT-ID-or--
    multipart TYPE SUBTYPE-or--   (the bodies up to "end" are its parts)
Attachment data goes to OUTDIR/INDEX_N.bin.
"""

import base64
import os
import random
import sys

# The character sets of the messages, each with letters beyond ASCII that it holds.
CHARSETS = [
    ("utf-8", "\u00e9\u20ac\u65e5\u0436\U0001f389"),
    ("iso-8859-1", "\u00e9\u00fc\u00df\u00f1"),
    ("koi8-r", "\u0416\u043f\u044f\u0451"),
    ("windows-1251", "\u0416\u043f\u044f\u0451"),
    ("iso-8859-2", "\u0142\u017e\u00e1"),
]
# Lines that look like boundaries, mbox separators, the end of a POP3 reply or escapes.
SPECIALS = ["--", "From here", ".", "--Mark=_1", "=3D not an escape", "a  b", "blank "]
TYPES = [("application/pdf", "pdf"), ("application/octet-stream", "bin"), ("audio/mpeg", "mp3"), ("text/plain", "txt")]


def b64(text):
    return base64.b64encode(text.encode("utf-8")).decode("ascii")


class Plan:
    def __init__(self, index, outdir):
        self.index = index
        self.outdir = outdir
        self.rnd = random.Random(index * 2654435761 + 17)
        self.charset, self.letters = CHARSETS[index % len(CHARSETS)]
        self.lines = []
        self.files = 0
        self.big = False

    def chance(self, percent):
        return self.rnd.randint(1, 100) <= percent

    def add(self, *fields):
        self.lines.append("\t".join(str(field) for field in fields))

    def word(self, national):
        return "".join(self.rnd.choice(self.letters) if national and self.chance(30)
                       else chr(ord("a") + self.rnd.randint(0, 25)) for _ in range(self.rnd.randint(1, 10)))

    def words(self, count, national):
        return " ".join(self.word(national) for _ in range(count))

    def text(self, national):
        lines = []
        for _ in range(self.rnd.randint(1, 12)):
            if self.chance(10):
                lines.append(self.rnd.choice(SPECIALS))
            else:
                lines.append(self.words(self.rnd.randint(20, 60) if self.chance(10) else self.rnd.randint(1, 12), national))
        return "\n".join(lines)

    def data_file(self, data):
        """Writes attachment data; returns its file's path."""
        path = os.path.join(self.outdir, "%d_%d.bin" % (self.index, self.files))
        self.files += 1
        with open(path, "wb") as out:
            out.write(data)
        return path

    def text_file(self):
        """A text file's content: lines ending with LF or CR LF, and at its end nothing, a line
        break, a blank or an empty line."""
        text = self.text(False) + self.rnd.choice(["", "\n", " ", "\n\n"])
        return (text.replace("\n", "\r\n") if self.chance(50) else text).encode("ascii")

    def attachment_size(self):
        """Mostly small, one in ten of 10-500 KB, and now and then up to 5 MB."""
        if self.index % 50 == 7 and not self.big:
            self.big = True
            return self.rnd.randint(1 << 20, 5 << 20)
        kind = self.rnd.randint(1, 10)
        return 0 if kind == 1 else self.rnd.randint(1, 4000) if kind <= 9 else self.rnd.randint(10 << 10, 500 << 10)

    def attachment(self):
        content_type, extension = self.rnd.choice(TYPES)
        # Long national names need RFC 2231 pieces.
        name = self.words(self.rnd.randint(6, 10), True) if self.chance(20) else self.word(self.chance(60))
        data = self.text_file() if extension == "txt" else self.rnd.randbytes(self.attachment_size())
        content_id = "att%d@example.org" % self.rnd.randint(1, 9999) if self.chance(20) else "-"
        self.add("attachment", "attachment", content_type, b64(name + "." + extension), self.data_file(data), content_id)

    def text_body(self, content_type, charset=None):
        text = self.text(self.chance(50))
        if content_type == "text/html":
            text = "<html><body><p>" + text + "</p></body></html>"
        self.add("text", content_type, charset or self.charset, b64(text))

    def plain_and_html(self):
        self.text_body("text/plain")
        self.text_body("text/html")

    def related(self):
        self.add("multipart", "multipart/related", "text/html")
        self.text_body("text/html")
        for n in range(self.rnd.randint(1, 2), 0, -1):
            name = "image%d_%s.png" % (n, self.word(False))
            data = self.rnd.randbytes(self.rnd.randint(0, 20000))
            self.add("attachment", "image", "image/png", b64(name), self.data_file(data), "-")
        self.add("end")

    def header(self):
        self.add("charset", self.charset)
        self.add("extensions", int(self.chance(50)))
        national = self.chance(60)
        count = self.rnd.randint(12, 25) if self.chance(15) else self.rnd.randint(1, 6)
        self.add("subject", b64(self.words(count, national)))
        name = "Doe, John \"JD\"" if self.chance(20) else self.words(2, self.chance(50))
        self.add("from-name", b64(name))
        self.add("from-email", "sender%d@example.org" % self.index)
        for n in range(self.rnd.randint(1, 4), 0, -1):
            self.add("to", b64("%s <to%d@example.net>" % (self.words(1, self.chance(30)), n)))
        if self.chance(40):
            self.add("cc", "cc@example.com")
        if self.chance(30):
            self.add("reply-to", "Replies <replies@example.org>")
        self.add("date", self.rnd.randint(2000, 2030), self.rnd.randint(1, 12), self.rnd.randint(1, 28),
                 self.rnd.randint(0, 23), self.rnd.randint(0, 59), self.rnd.randint(0, 59))
        self.add("priority", self.rnd.randint(0, 2))
        if self.chance(30):
            parent = "<parent%d@example.org>" % self.index
            self.add("in-reply-to", parent)
            self.add("reference", "<root@example.org>")
            self.add("reference", parent)
        if self.chance(50):
            self.add("mailer", "ix tests")
        if self.chance(30):
            self.add("extra", "X-Generated: message %d" % self.index)

    def build(self):
        self.header()
        shape = self.index % 6
        if shape == 0:  # plain text only
            self.text_body("text/plain")
        elif shape == 1:  # text and HTML
            self.add("content-type", "multipart/alternative")
            self.plain_and_html()
        elif shape == 2:  # alternatives and attachments
            self.add("content-type", "multipart/mixed")
            self.add("multipart", "multipart/alternative", "-")
            self.plain_and_html()
            self.add("end")
            for _ in range(self.rnd.randint(1, 3)):
                self.attachment()
        elif shape == 3:  # HTML with images, and an attachment
            self.add("content-type", "multipart/mixed")
            self.related()
            self.attachment()
        elif shape == 4:  # a plain message with uuencoded files
            self.add("uuencode")
            self.add("charset", "utf-8")
            self.add("text", "text/plain", "-", b64(self.text(False)))
            for _ in range(self.rnd.randint(1, 2)):
                data = self.rnd.randbytes(self.attachment_size())
                self.add("attachment", "attachment", "application/octet-stream", b64(self.word(False) + ".dat"),
                         self.data_file(data), "-")
        else:  # one attachment as the whole message
            self.add("content-type", "application/octet-stream")
            self.attachment()
        return self.lines


def main():
    outdir, first, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    os.makedirs(outdir, exist_ok=True)
    with open(os.path.join(outdir, "plans.txt"), "w") as plans:
        for index in range(first, first + count):
            plans.write("== %d\n" % index)
            for line in Plan(index, outdir).build():
                plans.write(line + "\n")


if __name__ == "__main__":
    main()
