"""The demo mailbox: a handful of varied, realistic messages built with Python's email package.

Run as a program, it prints the attachments it embeds as JSON (subject, file name, content as
base64), so that tests can compare saved attachments with them byte for byte:
    demo_messages.py attachments
IX_DEMO_WEB_PORT (default 9) is the loopback port that the remote pictures of the HTML newsletter
point at, so that a test can listen there and see that a reader fetches none of them.
"""
import base64
import json
import os
import struct
import sys
import zlib
from email.header import Header
from email.message import EmailMessage
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.mime.application import MIMEApplication
from email.mime.image import MIMEImage
from email.utils import formataddr

NEWSLETTER_SUBJECT = "Spring launch newsletter (HTML)"
AWKWARD_SUBJECT = "Attachments with awkward names"


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


def _web_base():
    return f"http://127.0.0.1:{int(os.environ.get('IX_DEMO_WEB_PORT', '9'))}"


def _newsletter_attachments():
    plan = ("%PDF-1.4\n% not a real PDF: the demo's stand-in\n"
            + "".join(f"{i} 0 obj << /Step {i} >> endobj\n" for i in range(1, 60)) + "%%EOF\n").encode()
    figures = "Region;Units;Growth\r\nNorth;1200;12 %\r\nSouth;950;8 %\r\nÖsterreich;310;21 %\r\n"
    return [("Launch plan.pdf", "application", "pdf", plan),
            ("figures.csv", "text", "csv", figures.encode("utf-8")),
            ("team photo.png", "image", "png", _png(48, 32))]


def _awkward_attachments():
    return [("../../x", "text", "plain", b"parent folders\n"),
            ("/etc/passwd", "text", "plain", b"root:x:0:0:not really:/root:/bin/sh\n"),
            ("n" * 296 + ".txt", "text", "plain", b"a very long name\n")]


def _attach(container, name, maintype, subtype, data):
    part = MIMEApplication(data, subtype) if maintype != "image" else MIMEImage(data, subtype)
    if maintype == "text":
        part.replace_header("Content-Type", f"text/{subtype}")
    part.add_header("Content-Disposition", "attachment", filename=name)
    container.attach(part)


def _newsletter():
    web = _web_base()
    html = f"""<html><head><title>Spring launch</title>
<link rel="stylesheet" href="{web}/style.css"><script>document.write("script ran")</script></head>
<body style="background-image: url('{web}/background.png')">
<img src="{web}/banner.png" width="400" height="60" alt="Banner from the web">
<h1>Spring launch</h1>
<p>Dear Ivory,</p>
<p>our <b>spring range</b> is here. Sales this quarter, as a chart from this very message:</p>
<p><img src="cid:chart@ix.test" alt="Sales chart"></p>
<table border="1" cellpadding="4" cellspacing="0">
<tr><th>Region</th><th>Units</th><th>Growth</th></tr>
<tr><td>North</td><td>1200</td><td>12 %</td></tr>
<tr><td>South</td><td>950</td><td>8 %</td></tr>
</table>
<p>The plan and the figures are attached. Read more on <a href="https://www.example.com/spring">our web site</a>.</p>
<p><img src="{web}/track.gif?user=ivory" width="1" height="1"></p>
</body></html>
"""
    alt = MIMEMultipart("alternative")
    alt.attach(MIMEText("Spring launch\n\nDear Ivory,\nour spring range is here.\n"
                        "The plan and the figures are attached.\n", "plain", "utf-8"))
    # ASCII, sent as it stands: the remote addresses can be read in the message source.
    alt.attach(MIMEText(html, "html", "us-ascii"))
    related = MIMEMultipart("related")
    related.attach(alt)
    chart = MIMEImage(_png(160, 80), "png")
    chart.add_header("Content-ID", "<chart@ix.test>")
    chart.add_header("Content-Disposition", "inline", filename="chart.png")
    related.attach(chart)
    mixed = MIMEMultipart("mixed")
    mixed.attach(related)
    for attachment in _newsletter_attachments():
        _attach(mixed, *attachment)
    return mixed


def _awkward():
    mixed = MIMEMultipart("mixed")
    mixed.attach(MIMEText("Three attachments whose names try to leave the folder they are saved in.\n",
                          "plain", "us-ascii"))
    for attachment in _awkward_attachments():
        _attach(mixed, *attachment)
    return mixed


def demo_attachments():
    """(subject, file name, bytes) of every attachment the demo mailbox embeds."""
    return ([(NEWSLETTER_SUBJECT, name, data) for name, _, _, data in _newsletter_attachments()]
            + [(AWKWARD_SUBJECT, name, data) for name, _, _, data in _awkward_attachments()])


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

    out.append(_common(_newsletter(), "Marketing <marketing@ix.test>", "ivory@ix.test", NEWSLETTER_SUBJECT,
                       "Mon, 9 Jun 2008 11:05:00 +0200"))
    out.append(_common(_awkward(), "Mallory <mallory@ix.test>", "ivory@ix.test", AWKWARD_SUBJECT,
                       "Tue, 10 Jun 2008 08:30:00 +0200"))
    return [msg.as_bytes() for msg in out]


if __name__ == "__main__" and sys.argv[1:] == ["attachments"]:
    json.dump([{"subject": subject, "name": name, "data": base64.b64encode(data).decode()}
               for subject, name, data in demo_attachments()], sys.stdout, ensure_ascii=False)
