#!/usr/bin/python3
"""Reads message files with Python's email package and prints their part trees.

For each file named on the command line: a line "== NAME", then one line per part in tree
order: DEPTH TAB content type TAB HEX(file name in UTF-8, or "-") TAB MD5 of the decoded bytes
("-" for a multipart). Text parts without a file name are compared as lines: line breaks as
LF, none at the end.
"""
import email
import email.policy
import hashlib
import os
import sys


def describe(part, depth):
    content_type = part.get_content_type()
    if part.is_multipart():
        print(f"{depth}\t{content_type}\t-\t-")
        for child in part.iter_parts():
            describe(child, depth + 1)
        return
    name = part.get_filename()
    data = part.get_payload(decode=True) or b""
    if name is None and part.get_content_maintype() == "text":
        data = data.replace(b"\r\n", b"\n").rstrip(b"\r\n")
    shown = name.encode("utf-8").hex() if name else "-"
    print(f"{depth}\t{content_type}\t{shown}\t{hashlib.md5(data).hexdigest()}")


def main():
    for path in sys.argv[1:]:
        with open(path, "rb") as file:
            message = email.message_from_binary_file(file, policy=email.policy.default)
        print("== " + os.path.basename(path))
        describe(message, 0)


if __name__ == "__main__":
    main()
