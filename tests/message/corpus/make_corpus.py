#!/usr/bin/python3
"""Writes a deterministic corpus of mail messages and, beside it, what Python's email package
reads from each, in the terms in which the library reports it.

Usage: make_corpus.py OUTDIR [COUNT]

OUTDIR/NNNN.eml holds message NNNN (CR LF line ends); OUTDIR/manifest.txt holds, per message, a
line "== NNNN.eml", then its part tree in the lines of ../mime_reader.py: per part its depth,
content type ("-" where it has none), HEX(file name), MD5 of the decoded bytes, and the "type"
item of a multipart or the Content-ID of a leaf, separated by TAB, "-" for what a part lacks.
Where the library's rules differ from Python's reading on purpose, the manifest follows the
library (see leaf_record). A uuencoded message gets no Python reading (the email package does
not split such blocks): its leaves are what the generator embedded, without types.
"""


import base64
import binascii
import email
import email.header
import email.policy
import hashlib
import os
import quopri
import random
import sys
import urllib.parse

CRLF = "\r\n"
TEXT_CHARSETS = ["us-ascii", "utf-8", "iso-8859-1", "windows-1252", "koi8-r", "iso-8859-2"]
NAME_CHARSETS = ["utf-8", "iso-8859-1", "windows-1252"]
NAME_LETTERS = "abcdefghijklmnopqrstuvwxyzABCXYZ0123456789-_ " + "\u00e9\u00e8\u00fc\u00f6\u00df\u00e0\u00e7\u00f1"
WORDS = ["alpha", "beta", "gamma", "delta", "mail", "report", "total", "caf\u00e9", "na\u00efve", "\u00fcber",
         "\u0436\u0443\u0440\u043d\u0430\u043b", "z\u00e1kon"]
ATTACHMENT_TYPES = ["application/octet-stream", "application/pdf", "application/zip", "audio/basic",
                    "video/mp4", "text/csv"]
SIZES = [0, 1, 2, 3, 57, 58, 1000, 4096, 20000]


def safe_name(name):
    """The library's rule: no controls or reserved characters, one trailing blank or dot off."""
    data = name.encode("cp1252", errors="replace")
    out = bytes(ord("_") if b < 32 or chr(b) in '"*/:<>?\\|' else b for b in data)
    if out and out[-1:] in (b" ", b"."):
        out = out[:-1]
    if not out.strip(b"."):
        return b"_"
    return bytes(out)


class Generator:
    def __init__(self, seed):
        self.rnd = random.Random(seed)
        self.boundary_count = 0

    def boundary(self):
        self.boundary_count += 1
        return "=_b%d_%d" % (self.boundary_count, self.rnd.randrange(1000000))

    def text(self, charset):
        lines = []
        for _ in range(self.rnd.randrange(1, 12)):
            words = [self.rnd.choice(WORDS) for _ in range(self.rnd.randrange(1, 14))]
            line = " ".join(words)
            try:
                line.encode(charset)
            except UnicodeEncodeError:
                line = line.encode(charset, errors="ignore").decode(charset)
            lines.append(line)
        return CRLF.join(lines) + CRLF

    def body_lines(self, data, encoding):
        """Encoded body text for bytes data (lines joined with CR LF, no final line break)."""
        if encoding == "base64":
            encoded = base64.encodebytes(data).decode("ascii").replace("\n", CRLF)
        elif encoding == "quoted-printable":
            encoded = quopri.encodestring(data.replace(b"\r\n", b"\n")).decode("ascii").replace("\n", CRLF)
        else:
            encoded = data.decode("latin-1")
        return encoded[:-2] if encoded.endswith(CRLF) else encoded

    def file_name(self):
        stem = "".join(self.rnd.choice(NAME_LETTERS) for _ in range(self.rnd.randrange(1, 14))).strip() or "f"
        return stem + self.rnd.choice([".txt", ".pdf", ".bin", ".tar.gz", ""])

    def name_params(self, name, content_type):
        """Content-Type and Content-Disposition lines naming the file in one of several ways."""
        charset = self.rnd.choice(NAME_CHARSETS)
        try:
            name.encode(charset)
        except UnicodeEncodeError:
            charset = "utf-8"
        style = self.rnd.randrange(6)
        ascii_name = all(ord(c) < 128 for c in name)
        if ascii_name and style < 3:
            return ["Content-Type: %s; name=\"%s\"" % (content_type, name),
                    "Content-Disposition: attachment; filename=\"%s\"" % name]
        if style in (0, 1, 2):
            quoted = urllib.parse.quote(name.encode(charset))
            return ["Content-Type: %s" % content_type,
                    "Content-Disposition: attachment;", " filename*=%s''%s" % (charset, quoted)]
        if style == 3:
            raw = name.encode(charset)
            half = len(raw) // 2
            pieces = [urllib.parse.quote(raw[:half]), urllib.parse.quote(raw[half:])]
            return ["Content-Type: %s" % content_type,
                    "Content-Disposition: attachment;",
                    " filename*0*=%s''%s;" % (charset, pieces[0]), " filename*1*=%s" % pieces[1]]
        word = email.header.Header(name, charset).encode(maxlinelen=998)
        if style == 4:
            return ["Content-Type: %s;" % content_type, " name=\"%s\"" % word]
        return ["Content-Type: %s" % content_type, "Content-Disposition: inline; filename=\"%s\"" % word]

    def text_part(self, subtype="plain"):
        charset = self.rnd.choice(TEXT_CHARSETS)
        encoding = self.rnd.choice(["7bit", "8bit", "quoted-printable", "base64"])
        text = self.text(charset)
        if subtype == "html":
            text = "<html><body><p>" + text.replace(CRLF, "</p>" + CRLF + "<p>") + "</p></body></html>" + CRLF
        data = text.encode(charset, errors="replace")
        if encoding == "7bit" and any(b > 127 for b in data):
            encoding = "quoted-printable"
        header = ["Content-Type: text/%s; charset=\"%s\"" % (subtype, charset),
                  "Content-Transfer-Encoding: %s" % encoding]
        return header, self.body_lines(data, encoding)

    def attachment_part(self):
        size = self.rnd.choice(SIZES)
        data = bytes(self.rnd.randrange(256) for _ in range(size))
        header = self.name_params(self.file_name(), self.rnd.choice(ATTACHMENT_TYPES))
        header.append("Content-Transfer-Encoding: base64")
        if self.rnd.randrange(3) == 0:
            header.append("Content-ID: <part%d@example.com>" % self.rnd.randrange(10000))
        return header, self.body_lines(data, "base64")

    def image_part(self):
        data = bytes(self.rnd.randrange(256) for _ in range(self.rnd.choice(SIZES)))
        name = "img%d.png" % self.rnd.randrange(1000)
        header = ["Content-Type: image/png; name=\"%s\"" % name, "Content-Transfer-Encoding: base64",
                  "Content-ID: <%s@x>" % name]
        return header, self.body_lines(data, "base64")

    def rfc822_part(self):
        subject = "Re: " + " ".join(self.rnd.choice(WORDS[:7]) for _ in range(3))
        inner = "From: a@example.com" + CRLF + "Subject: " + subject + CRLF + CRLF + "inner text"
        return ["Content-Type: message/rfc822"], inner

    def multipart(self, subtype, parts, preamble=True, close=True):
        boundary = self.boundary()
        header = ["Content-Type: multipart/%s;" % subtype, " boundary=\"%s\"" % boundary]
        lines = []
        if preamble:
            lines.append("This is a multi-part message in MIME format.")
        for part_header, part_body in parts:
            lines.append("--" + boundary)
            lines.extend(part_header)
            lines.append("")
            lines.append(part_body)
        if close:
            lines.append("--" + boundary + "--")
            if self.rnd.randrange(4) == 0:
                lines.append("epilogue text")
        return header, CRLF.join(lines)

    def mixed_parts(self, depth):
        parts = [self.text_part()]
        for _ in range(self.rnd.randrange(0, 4)):
            choice = self.rnd.randrange(10)
            if choice < 5:
                parts.append(self.attachment_part())
            elif choice < 6:
                parts.append(self.image_part())
            elif choice < 7:
                parts.append(self.rfc822_part())
            elif depth > 0:
                parts.append(self.nested(depth - 1))
            else:
                parts.append(self.text_part(self.rnd.choice(["plain", "html"])))
        return parts

    def nested(self, depth):
        kind = self.rnd.randrange(3)
        if kind == 0:
            return self.multipart("alternative", [self.text_part(), self.text_part("html")],
                                  preamble=False)
        if kind == 1:
            return self.multipart("related", [self.text_part("html"), self.image_part()], preamble=False)
        return self.multipart("mixed", self.mixed_parts(depth), preamble=False)

    def headers(self, number):
        subject = " ".join(self.rnd.choice(WORDS) for _ in range(self.rnd.randrange(1, 6)))
        charset = self.rnd.choice(NAME_CHARSETS)
        try:
            subject.encode(charset)
        except UnicodeEncodeError:
            charset = "utf-8"
        return ["From: Sender %d <sender%d@example.com>" % (number, number),
                "To: rcpt@example.com",
                "Subject: " + email.header.Header(subject, charset).encode(maxlinelen=76).replace("\n", CRLF),
                "Date: Tue, 3 Jun 2008 10:%02d:00 +0000" % (number % 60),
                "Message-ID: <m%d@example.com>" % number]

    def uuencoded(self, number):
        """A plain message with text around uuencoded blocks; returns the text and the blocks."""
        blocks = []
        lines = self.headers(number) + [""]
        text = []
        for _ in range(self.rnd.randrange(1, 3)):
            words = self.text("us-ascii").rstrip(CRLF).split(CRLF)
            lines.extend(words)
            text.extend(words)
            data = bytes(self.rnd.randrange(256) for _ in range(self.rnd.choice([1, 45, 100, 2000])))
            name = self.rnd.choice(["file%d.bin" % len(blocks), "dir/evil:%d.txt" % len(blocks)])
            lines.append("begin %s %s" % (self.rnd.choice(["644", "600", "0755"]), name))
            for start in range(0, len(data), 45):
                lines.append(binascii.b2a_uu(data[start:start + 45]).decode("ascii").rstrip("\n"))
            lines.extend(["`", "end"])
            blocks.append((name, data))
        tail = self.text("us-ascii").rstrip(CRLF).split(CRLF)
        lines.extend(tail)
        text.extend(tail)
        return CRLF.join(lines) + CRLF, CRLF.join(text).encode("ascii"), blocks

    def message(self, number):
        """Returns (kind, flags, message text)."""
        kind = ["single", "mixed", "alternative", "nested", "malformed", "attachment-only"][number % 6]
        flags = []
        top = self.headers(number) + ["MIME-Version: 1.0"]
        if kind == "single":
            header, body = self.text_part(self.rnd.choice(["plain", "html"]))
        elif kind == "mixed":
            header, body = self.multipart("mixed", self.mixed_parts(1))
        elif kind == "alternative":
            header, body = self.multipart("alternative", [self.text_part(), self.text_part("html")])
        elif kind == "nested":
            header, body = self.multipart("mixed", [self.text_part(), self.nested(3), self.attachment_part()])
        elif kind == "attachment-only":
            header, body = self.attachment_part()
        else:
            header, body, flags = self.malformed(number)
        return kind, flags, CRLF.join(top + header + [""]) + CRLF + body + CRLF

    def malformed(self, number):
        variant = (number // 6) % 5
        if variant == 0:
            header, body = self.multipart("mixed", self.mixed_parts(0) + [self.attachment_part()], close=False)
            return header, body, ["unclosed"]
        if variant == 1:
            part = (["Content-Transfer-Encoding: 7bit"], "no content type here")
            header, body = self.multipart("mixed", [self.text_part(), part])
            return header, body, ["untyped-part"]
        if variant == 2:
            header, data = self.attachment_part()
            lines = data.split(CRLF)
            bad = self.rnd.randrange(len(lines))
            lines[bad] = lines[bad][:10] + "*" + lines[bad][10:]
            header, body = self.multipart("mixed", [self.text_part(), (header, CRLF.join(lines))])
            return header, body, ["bad-base64"]
        if variant == 3:
            header, body = self.multipart("mixed", [self.text_part(), self.attachment_part()])
            return ["Content-Type: multipart/mixed"], body, ["no-boundary"]
        header, body = self.multipart("mixed", [self.text_part(), self.attachment_part()], preamble=True)
        body = "\t\r\n" + body
        return header, body, ["blank-preamble"]


def leaves(part):
    if part.is_multipart() and part.get_content_type() != "message/rfc822":
        for p in part.get_payload():
            yield from leaves(p)
    else:
        yield part


def leaf_line(depth, content_type, name, data, content_id):
    return "%d\t%s\t%s\t%s\t%s" % (depth, content_type, safe_name(name).hex() if name else "-",
                                 hashlib.md5(data).hexdigest(), content_id or "-")


def leaf_record(part, depth, runs_to_end):
    """A leaf as the library reports it, where its rules differ from Python's reading:
    a message/rfc822 part is one attachment named after the embedded subject; a text part without
    "attachment" disposition is a text body, which has no file name or Content-ID; a part that
    runs to the end of the message has no line break before a boundary to keep, so its final line
    break goes, as it does before a boundary; an invalid base64 character ends the data (Python
    skips it)."""
    content_type = part.get_content_type() if part.get("Content-Type") else "-"
    name = part.get_filename()
    if content_type == "message/rfc822":
        inner = part.get_payload()[0]
        name = name or inner["Subject"] + ".eml"
        data = inner.as_bytes(policy=email.policy.default.clone(linesep=CRLF))
    else:
        data = part.get_payload(decode=True)
        encoding = part.get("Content-Transfer-Encoding", "").lower()
        if encoding == "base64" and "*" in part.get_payload():
            data = base64_before_bad_character(part.get_payload())
        elif runs_to_end and encoding != "base64" and data.endswith(b"\r\n"):
            data = data[:-2]
    content_id = str(part.get("Content-ID", "")).strip("<>")
    if part.get_content_maintype() == "text" and part.get_content_disposition() != "attachment":
        name = content_id = None
    return leaf_line(depth, content_type, name, data, content_id)


def tree(message, flags):
    """The manifest lines of a MIME message: a multipart type without parts is one part of it."""
    lines = []
    last = list(leaves(message))[-1]

    def describe(part, depth):
        if part.is_multipart() and part.get_content_type() != "message/rfc822":
            lines.append("%d\t%s\t-\t-\t%s" % (depth, part.get_content_type(), part.get_param("type") or "-"))
            for child in part.get_payload():
                describe(child, depth + 1)
        else:
            runs_to_end = not message.is_multipart() or ("unclosed" in flags and part is last)
            lines.append(leaf_record(part, depth, runs_to_end))

    if message.get_content_maintype() == "multipart" and not message.is_multipart():
        lines.append("0\t%s\t-\t-\t-" % message.get_content_type())
        describe(message, 1)
    else:
        describe(message, 0)
    return lines


def base64_before_bad_character(text):
    """The bytes of the base64 text before its first invalid character; bits of an incomplete
    group that do not make a byte are dropped."""
    digits = "".join(text.split("*")[0].split())
    whole = len(digits) // 4 * 4
    data = base64.b64decode(digits[:whole])
    rest = digits[whole:]
    if len(rest) > 1:
        data += base64.b64decode(rest + "=" * (4 - len(rest)))[:len(rest) * 6 // 8]
    return data


def main():
    outdir = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 540
    os.makedirs(outdir, exist_ok=True)
    generator = Generator(20080603)
    with open(os.path.join(outdir, "manifest.txt"), "w") as manifest:
        for number in range(count):
            path = os.path.join(outdir, "%04d.eml" % number)
            if number % 12 == 11:
                text, plain, blocks = generator.uuencoded(number)
                with open(path, "wb") as out:
                    out.write(text.encode("ascii"))
                manifest.write("== %04d.eml\n" % number)
                manifest.write(leaf_line(0, "-", None, plain, None) + "\n")
                for name, data in blocks:
                    manifest.write(leaf_line(0, "-", name, data, None) + "\n")
                continue
            kind, flags, text = generator.message(number)
            raw = text.encode("latin-1")
            with open(path, "wb") as out:
                out.write(raw)
            message = email.message_from_bytes(raw, policy=email.policy.default)
            manifest.write("== %04d.eml\n" % number)
            manifest.write("".join(line + "\n" for line in tree(message, flags)))


if __name__ == "__main__":
    main()
