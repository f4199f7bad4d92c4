#!/usr/bin/env python3
"""Loopback destination for the SOCKS peers: greets each connection with one line, then
echoes whatever it receives until the client closes.

usage: greeting_server.py PORT_FILE
Listens on 127.0.0.1 on a free port and writes that port to PORT_FILE once listening.
"""
import socket
import sys
import threading

GREETING = b"+OK ix greeting server ready\r\n"


def serve(conn: socket.socket) -> None:
    with conn:
        conn.sendall(GREETING)
        while True:
            data = conn.recv(65536)
            if not data:
                return
            conn.sendall(data)


def main() -> None:
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    with open(sys.argv[1], "w", encoding="ascii") as port_file:
        port_file.write(f"{listener.getsockname()[1]}\n")
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
