"""The demo mailbox: a handful of varied, realistic messages built with Python's email package."""
import base64
import struct
import zlib
from email.header import Header
from email.message import EmailMessage
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.mime.application import MIMEApplication
from email.mime.image import MIMEImage
from email.utils import formataddr


def _png(width=16, height=16):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + b"".join(bytes((x * 15 % 256, y * 15 % 256, 180)) for x in range(width))
                   for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def _common(msg, frm, to, subject, date):
    msg["From"] = frm
    msg["To"] = to
    msg["Subject"] = subject
    msg["Date"] = date
    msg["Message-ID"] = f"<{zlib.crc32(str(subject).encode())}.demo@ix.test>"
    return msg


def demo_messages():
    out = []

    m = MIMEText("Hello Ivory,\n\nwelcome to the demo mailbox of the ix mail sample.\n"
                 "Select a message and press View to read it, or Delete to remove it.\n\n"
                 "-- \nThe ix team\n", "plain", "us-ascii")
    out.append(_common(m, formataddr(("The ix team", "team@ix.test")), "Ivory Tester <ivory@ix.test>",
                       "Welcome to your mailbox", "Mon, 2 Jun 2008 09:15:00 +0200"))

    alt = MIMEMultipart("alternative")
    alt.attach(MIMEText("Quarterly report\n\nSales grew by 12 %.\n", "plain", "utf-8"))
    alt.attach(MIMEText("<html><body><h1>Quarterly report</h1><p>Sales grew by <b>12&nbsp;%</b>.</p>"
                        "</body></html>", "html", "utf-8"))
    out.append(_common(alt, "Finance <finance@ix.test>", "ivory@ix.test", "Quarterly report (HTML)",
                       "Tue, 3 Jun 2008 10:20:30 +0200"))

    m = MIMEText("Grüße aus München!\nDas Wetter ist schön, die Straßen sind voll.\n", "plain", "iso-8859-1")
    out.append(_common(m, formataddr(("Jürgen Müller", "juergen@ix.test"), charset="iso-8859-1"),
                       "ivory@ix.test", Header("Grüße aus München", "iso-8859-1").encode(),
                       "Wed, 4 Jun 2008 08:00:00 +0200"))

    m = MIMEText("Привет!\nЭто письмо в кодировке KOI8-R.\n", "plain", "koi8-r")
    out.append(_common(m, formataddr(("Иван Петров", "ivan@ix.test"), charset="koi8-r"), "ivory@ix.test",
                       Header("Привет из Москвы", "koi8-r").encode(), "Thu, 5 Jun 2008 12:00:00 +0400"))

    mixed = MIMEMultipart("mixed")
    mixed.attach(MIMEText("Please find the minutes and the logo attached.\n", "plain", "utf-8"))
    doc = MIMEApplication(("Minutes of the meeting\n" + "Item discussed.\n" * 200).encode(), "octet-stream")
    doc.add_header("Content-Disposition", "attachment", filename=("utf-8", "", "Protokoll März.txt"))
    mixed.attach(doc)
    img = MIMEImage(_png(), "png")
    img.add_header("Content-Disposition", "attachment", filename="logo.png")
    mixed.attach(img)
    out.append(_common(mixed, "Secretary <office@ix.test>", "ivory@ix.test", "Minutes with attachments",
                       "Fri, 6 Jun 2008 16:45:00 +0200"))

    m = MIMEText("日本語のテキストです。\nUTF-8 で書かれています。\n", "plain", "utf-8")
    out.append(_common(m, formataddr(("田中", "tanaka@ix.test"), charset="utf-8"), "ivory@ix.test",
                       Header("こんにちは from Tokyo", "utf-8").encode(), "Sat, 7 Jun 2008 07:30:00 +0900"))

    m = MIMEText("A newsletter with a long line that is encoded as quoted-printable so that it stays "
                 "within the line limit of the mail transport, and a few special characters: = é ü.\n",
                 "plain", "utf-8")
    del m["Content-Transfer-Encoding"]
    m.replace_header("Content-Type", 'text/plain; charset="utf-8"')
    from email import charset as _cs
    m.set_charset(_cs.Charset("utf-8"))
    out.append(_common(m, "News <news@ix.test>", "ivory@ix.test", "Newsletter: June",
                       "Sun, 8 Jun 2008 18:00:00 +0000"))
    return [msg.as_bytes() for msg in out]
