#!/usr/bin/python3
"""Prints N free TCP ports on 127.0.0.1 (default 1), one a line."""
import socket
import sys

count = int(sys.argv[1]) if len(sys.argv) > 1 else 1
socks = []
for _ in range(count):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    socks.append(s)
for s in socks:
    print(s.getsockname()[1])
for s in socks:
    s.close()
