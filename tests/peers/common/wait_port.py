#!/usr/bin/python3
"""Waits until a TCP port on 127.0.0.1 accepts connections: wait_port.py PORT [SECONDS]."""
import socket
import sys
import time

port = int(sys.argv[1])
deadline = time.monotonic() + (float(sys.argv[2]) if len(sys.argv) > 2 else 20)
while time.monotonic() < deadline:
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.05)
sys.exit(f"port {port} did not open in time")
