#!/usr/bin/python3
"""Runs the POP3 benchmark rows with TixPop3 (pop3_bench), poplib and curl; prints a table.

Usage: pop3_bench.py DOVECOT_ENV POP3_BENCH RUNS (bench/pop3_bench.sh prepares both).
Every run is a process of its own: wall time, CPU time (user + system) and peak resident
memory come from wait4. Each figure is the median of RUNS runs; ratios compare TixPop3 with
the others (below 1: TixPop3 is faster or smaller).
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

POPLIB = r'''
import poplib, ssl, sys
mode, port, user, password, tls, ca = sys.argv[1:7]
if tls == "tls":
    context = ssl.create_default_context(cafile=ca)
    pop = poplib.POP3_SSL("127.0.0.1", int(port), context=context)
else:
    pop = poplib.POP3("127.0.0.1", int(port))
pop.user(user)
pop.pass_(password)
count = pop.stat()[0]
total = 0
for n in range(1, count + 1):
    if mode == "list":
        total += sum(len(line) + 2 for line in pop.top(n, 0)[1])
        total += len(pop.uidl(n))
    else:
        total += sum(len(line) + 2 for line in pop.retr(n)[1])
pop.quit()
print(count, "messages,", total, "bytes")
'''


def curl_config(mode, port, user, password, tls, ca, count, path):
    """One curl transfer per command, all over one connection (options are per transfer)."""
    scheme = "pop3s" if tls == "tls" else "pop3"
    url = f"{scheme}://127.0.0.1:{port}/"
    entries = [f'url = "{url}"\nrequest = "STAT"\nhead']
    for n in range(1, count + 1):
        if mode == "list":
            entries.append(f'url = "{url}"\nrequest = "TOP {n} 0"')
            entries.append(f'url = "{url}"\nrequest = "UIDL {n}"\nhead')
        else:
            entries.append(f'url = "{url}{n}"')
    common = f'user = "{user}:{password}"\ncacert = "{ca}"\nsilent\noutput = "/dev/null"\n'
    with open(path, "w") as f:
        f.write("\nnext\n".join(common + entry for entry in entries) + "\n")


# The environment of every client: the library trusts the test CA through OpenSSL's default
# paths; poplib and curl are given it explicitly as well.
ENVIRONMENT = dict(os.environ)


def measure(command):
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=ENVIRONMENT)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    error = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"failed: {' '.join(command[:4])}...: {error.strip()}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def median_of(runs, command):
    samples = [measure(command) for _ in range(runs)]
    return tuple(statistics.median(s[i] for s in samples) for i in range(3))


def main():
    env_file, pop3_bench, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    env = dict(line.strip().split("=", 1) for line in open(env_file) if "=" in line)
    state = env["DOVECOT_STATE"]
    ca = env["DOVECOT_CA"]
    ENVIRONMENT["SSL_CERT_FILE"] = ca
    rows = [("list", "bulk"), ("retr", "bulk"), ("retr", "big")]
    tmp = tempfile.mkdtemp(prefix="ix-pop3-bench-curl.")
    print(f"median of {runs} runs; wall and CPU in s, peak memory in MB; ratio = TixPop3 / other")
    header = f"{'row':<22}{'client':<9}{'wall':>8}{'cpu':>8}{'peak':>8}{'wall ratio':>12}{'cpu ratio':>11}"
    print(header)
    print("-" * len(header))
    for mode, user in rows:
        count = len(os.listdir(os.path.join(state, "expected", user)))
        password = f"secret-{user}"
        for tls in ("plain", "tls"):
            port = env["DOVECOT_TLS_PORT"] if tls == "tls" else env["DOVECOT_PLAIN_PORT"]
            config = os.path.join(tmp, f"{mode}-{user}-{tls}.curl")
            curl_config(mode, port, user, password, tls, ca, count, config)
            commands = {
                "TixPop3": [pop3_bench, mode, port, user, password, tls],
                "poplib": ["/usr/bin/python3", "-c", POPLIB, mode, port, user, password, tls, ca],
                "curl": ["curl", "-K", config],
            }
            results = {name: median_of(runs, command) for name, command in commands.items()}
            ours = results["TixPop3"]
            for name, (wall, cpu, peak) in results.items():
                ratio = "" if name == "TixPop3" else f"{ours[0] / wall:>12.2f}{ours[1] / cpu:>11.2f}"
                label = f"{mode} {user} {tls}" if name == "TixPop3" else ""
                print(f"{label:<22}{name:<9}{wall:>8.3f}{cpu:>8.3f}{peak:>8.1f}{ratio}")
    size = os.path.getsize(os.path.join(state, "expected", "huge", "1.eml")) / (1024.0 * 1024.0)
    print(f"\nTixPop3 retrieving one {size:.1f} MB message, plain (ratio: into a TixMailMessage / lines only)")
    for user in ("bulk", "big", "huge"):
        lines_only = median_of(runs, [pop3_bench, "retr", env["DOVECOT_PLAIN_PORT"], user, f"secret-{user}", "plain"])
        loaded = median_of(runs, [pop3_bench, "message", env["DOVECOT_PLAIN_PORT"], user, f"secret-{user}", "plain"])
        for label, (wall, cpu, peak) in ((f"retr {user}, lines", lines_only), (f"retr {user}, message", loaded)):
            ratio = "" if label.endswith("lines") else f"{wall / lines_only[0]:>12.2f}{cpu / lines_only[1]:>11.2f}"
            print(f"{label:<31}{wall:>8.3f}{cpu:>8.3f}{peak:>8.1f}{ratio}")
    print(f"(huge: peak {loaded[2]:.1f} MB = {loaded[2] / size:.2f} x the message)")
    for name in os.listdir(tmp):
        os.remove(os.path.join(tmp, name))
    os.rmdir(tmp)


if __name__ == "__main__":
    main()
