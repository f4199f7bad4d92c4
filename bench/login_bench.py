#!/usr/bin/python3
"""Login cost: TixPop3 (login_bench) beside Python's poplib, Open to Close, per method.

Usage: login_bench.py DOVECOT_ENV LOGIN_BENCH RUNS (bench/login_bench.sh prepares both).
Each row is the median of RUNS logins (connect, login, QUIT) of each client, taken in blocks of
10 that alternate between the two so that both meet the same load; the ratio is TixPop3 over
poplib (below 1: TixPop3 is faster).
"""
import base64
import hmac
import poplib
import ssl
import statistics
import subprocess
import sys
import time

USER = "few"
PASSWORD = "secret-few"
TOKEN = "ix-token-few"


def login_poplib(method, port, tls, ca):
    if tls:
        pop = poplib.POP3_SSL("127.0.0.1", port, context=ssl.create_default_context(cafile=ca))
    else:
        pop = poplib.POP3("127.0.0.1", port)
    if method == "user/pass":
        pop.user(USER)
        pop.pass_(PASSWORD)
    elif method == "apop":
        pop.apop(USER, PASSWORD)
    elif method == "cram-md5":
        challenge = base64.b64decode(pop._shortcmd("AUTH CRAM-MD5")[2:])
        digest = hmac.new(PASSWORD.encode(), challenge, "md5").hexdigest()
        pop._shortcmd(base64.b64encode(f"{USER} {digest}".encode()).decode())
    else:
        pop._shortcmd("AUTH XOAUTH2")
        pop._shortcmd(base64.b64encode(f"user={USER}\x01auth=Bearer {TOKEN}\x01\x01".encode()).decode())
    pop.quit()


def time_poplib(method, port, tls, ca, runs):
    samples = []
    for _ in range(runs):
        start = time.perf_counter()
        login_poplib(method, port, tls, ca)
        samples.append((time.perf_counter() - start) * 1000)
    return samples


BLOCK = 10


def main():
    env_file, login_bench, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    env = dict(line.strip().split("=", 1) for line in open(env_file) if "=" in line)
    plain, tls_port, ca = int(env["DOVECOT_PLAIN_PORT"]), int(env["DOVECOT_TLS_PORT"]), env["DOVECOT_CA"]
    ix, py = {}, {}
    for done in range(0, runs, BLOCK):
        block = min(BLOCK, runs - done)
        output = subprocess.run([login_bench, str(plain), str(tls_port), USER, PASSWORD, TOKEN, str(block)],
                                check=True, capture_output=True, text=True, env={"SSL_CERT_FILE": ca}).stdout
        for line in output.splitlines():
            method, transport, *samples = line.split()
            ix.setdefault((method, transport), []).extend(float(s) for s in samples)
            port = tls_port if transport == "tls" else plain
            py.setdefault((method, transport), []).extend(time_poplib(method, port, transport == "tls", ca, block))
    print(f"Login, Open to Close against Dovecot, median of {runs} (ms)")
    print(f"{'method':<10} {'transport':<9} {'TixPop3':>8} {'poplib':>8} {'ratio':>6}")
    for (method, transport), samples in ix.items():
        ix_ms, py_ms = statistics.median(samples), statistics.median(py[(method, transport)])
        print(f"{method:<10} {transport:<9} {ix_ms:8.2f} {py_ms:8.2f} {ix_ms / py_ms:6.2f}")


if __name__ == "__main__":
    main()
