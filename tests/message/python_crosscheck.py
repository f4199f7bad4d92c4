#!/usr/bin/python3
"""Decodes header cases with Python's email package, for comparison with the library.

Input (the file named on the command line, else stdin), one case per line: KIND TAB HEX(value) TAB item, where KIND is
  W  a header value with RFC 2047 encoded words,
  P  a Content-Disposition value and the parameter to read (RFC 2231 and plain),
  A  an address list (display names decoded).
Output (stdout), one line per case: HEX(result) for W and P; for A, the addresses separated
by ";" as HEX(name) "," HEX(address). Texts go out in Windows-1252, the library's ANSI code
page, with "?" for characters it cannot hold.
"""
import email
import email.policy
import email.utils
import sys
from email.header import decode_header, make_header


def ansi(text):
    return text.encode("cp1252", errors="replace").hex()


def decode_words(value):
    message = email.message_from_string("X-Test: " + value + "\n\n", policy=email.policy.default)
    return ansi(str(message["X-Test"]))


def decode_param(value, item):
    message = email.message_from_string("Content-Disposition: " + value + "\n\n")
    raw = message.get_param(item.rstrip("*"), header="content-disposition")
    return ansi(email.utils.collapse_rfc2231_value(raw) if raw is not None else "")


def decode_addresses(value):
    pairs = email.utils.getaddresses([value])
    return ";".join(ansi(str(make_header(decode_header(name)))) + "," + ansi(address)
                    for name, address in pairs)


def main():
    source = open(sys.argv[1]) if len(sys.argv) > 1 else sys.stdin
    for line in source.read().splitlines():
        kind, value, item = line.split("\t")
        value = bytes.fromhex(value).decode("ascii")
        if kind == "W":
            print(decode_words(value))
        elif kind == "P":
            print(decode_param(value, item))
        else:
            print(decode_addresses(value))


if __name__ == "__main__":
    main()
