#!/usr/bin/python3
"""Mailbox listing rows: TixPop3.ListMailBox beside one command at a time, poplib and curl.

Usage: pop3_listing_bench.py DOVECOT_ENV POP3_BENCH RUNS (bench/pop3_listing_bench.sh prepares
both). Every client fetches the size, the UID and the header of each of the 2000 messages; the
one-at-a-time clients send "LIST n", "UIDL n" and "TOP n 0" for each. Figures are medians; the
ratios divide the other client's wall time by the pipelined listing's (above 1: ListMailBox is
that many times faster).
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pop3_bench import ENVIRONMENT, median_of  # noqa: E402

POPLIB = r'''
import poplib, ssl, sys
port, user, password, tls, ca = sys.argv[1:6]
if tls == "tls":
    pop = poplib.POP3_SSL("127.0.0.1", int(port), context=ssl.create_default_context(cafile=ca))
else:
    pop = poplib.POP3("127.0.0.1", int(port))
pop.user(user)
pop.pass_(password)
count = pop.stat()[0]
total = 0
for n in range(1, count + 1):
    total += len(pop.list(n))
    total += len(pop.uidl(n))
    total += sum(len(line) + 2 for line in pop.top(n, 0)[1])
pop.quit()
print(count, "messages,", total, "bytes")
'''


def curl_config(port, user, password, tls, ca, count, path):
    """One curl transfer per command over one connection."""
    url = f"{'pop3s' if tls == 'tls' else 'pop3'}://127.0.0.1:{port}/"
    entries = [f'url = "{url}"\nrequest = "STAT"\nhead']
    for n in range(1, count + 1):
        entries.append(f'url = "{url}"\nrequest = "LIST {n}"\nhead')
        entries.append(f'url = "{url}"\nrequest = "UIDL {n}"\nhead')
        entries.append(f'url = "{url}"\nrequest = "TOP {n} 0"')
    common = f'user = "{user}:{password}"\ncacert = "{ca}"\nsilent\noutput = "/dev/null"\n'
    with open(path, "w") as f:
        f.write("\nnext\n".join(common + entry for entry in entries) + "\n")


def main():
    env_file, pop3_bench, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    env = dict(line.strip().split("=", 1) for line in open(env_file) if "=" in line)
    ca = env["DOVECOT_CA"]
    ENVIRONMENT["SSL_CERT_FILE"] = ca
    user, password = "bulk", "secret-bulk"
    count = len(os.listdir(os.path.join(env["DOVECOT_STATE"], "expected", user)))
    print(f"listing {count} messages; median of {runs} runs; wall and CPU in s, peak memory in MB")
    header = f"{'row':<10}{'client':<12}{'wall':>8}{'cpu':>8}{'peak':>8}{'x slower than pipelined':>26}"
    print(header)
    print("-" * len(header))
    with tempfile.TemporaryDirectory(prefix="ix-listing-bench.") as tmp:
        for tls in ("plain", "tls"):
            port = env["DOVECOT_TLS_PORT"] if tls == "tls" else env["DOVECOT_PLAIN_PORT"]
            config = os.path.join(tmp, f"{tls}.curl")
            curl_config(port, user, password, tls, ca, count, config)
            commands = {
                "pipelined": [pop3_bench, "pipelined", port, user, password, tls],
                "one-by-one": [pop3_bench, "listing", port, user, password, tls],
                "poplib": ["/usr/bin/python3", "-c", POPLIB, port, user, password, tls, ca],
                "curl": ["curl", "-K", config],
            }
            results = {name: median_of(runs, command) for name, command in commands.items()}
            ours = results["pipelined"][0]
            for name, (wall, cpu, peak) in results.items():
                ratio = "" if name == "pipelined" else f"{wall / ours:>26.1f}"
                print(f"{tls if name == 'pipelined' else '':<10}{name:<12}{wall:>8.3f}{cpu:>8.3f}{peak:>8.1f}{ratio}")


if __name__ == "__main__":
    main()
