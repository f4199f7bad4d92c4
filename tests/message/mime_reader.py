#!/usr/bin/python3
"""Reads message files with Python's email package and prints their part trees.

For each file named on the command line: a line "== NAME", then one line per part in tree
order: DEPTH, content type, HEX(file name in UTF-8), MD5 of the decoded bytes, and the "type"
item of a multipart or the Content-ID of a leaf, separated by TAB, "-" for what a part lacks.
A text part without a file name counts as its text in UTF-8, lines ending with LF, none at the
end.
"""
import email
import email.policy
import hashlib
import os
import sys


def describe(part, depth):
    content_type = part.get_content_type()
    if part.is_multipart():
        print(f"{depth}\t{content_type}\t-\t-\t{part.get_param('type') or '-'}")
        for child in part.iter_parts():
            describe(child, depth + 1)
        return
    name = part.get_filename()
    if name is None and part.get_content_maintype() == "text":
        data = part.get_content().replace("\r\n", "\n").rstrip("\n").encode("utf-8")
    else:
        data = part.get_payload(decode=True) or b""
    shown = name.encode("utf-8").hex() if name else "-"
    content_id = str(part.get("Content-ID", "")).strip("<>") or "-"
    print(f"{depth}\t{content_type}\t{shown}\t{hashlib.md5(data).hexdigest()}\t{content_id}")


def main():
    for path in sys.argv[1:]:
        # From bytes: a binary file is read through universal newlines, which would make
        # every CR LF of the decoded data a LF.
        with open(path, "rb") as file:
            message = email.message_from_bytes(file.read(), policy=email.policy.default)
        print("== " + os.path.basename(path))
        describe(message, 0)


if __name__ == "__main__":
    main()
