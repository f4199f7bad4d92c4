#!/usr/bin/python3
"""A token-info service for Dovecot's oauth2 passdb, on 127.0.0.1 only.

Usage: tokeninfo.py PORT USER...

GET /tokeninfo?access_token=ix-token-<user> answers {"username": "<user>"} for every USER named on
the command line; any other token gets 401 with {"error": "invalid_token"}.
"""
import json
import sys
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlparse

PREFIX = "ix-token-"


class Handler(BaseHTTPRequestHandler):
    users = set()

    def do_GET(self):
        query = parse_qs(urlparse(self.path).query)
        token = query.get("access_token", [""])[0]
        user = token[len(PREFIX):] if token.startswith(PREFIX) else None
        if user in self.users:
            self.answer(200, {"username": user})
        else:
            self.answer(401, {"error": "invalid_token"})

    def answer(self, status, body):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


def main():
    Handler.users = set(sys.argv[2:])
    ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()


if __name__ == "__main__":
    main()
