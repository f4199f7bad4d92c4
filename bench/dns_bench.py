#!/usr/bin/python3
"""Times COUNT TXT lookups one after another with TixDnsQuery (dns_bench), dig in batch mode
(dig -f) and dnspython's resolver, against the same dnsmasq; prints a table.

Usage: dns_bench.py DNSMASQ_ENV DNS_BENCH COUNT RUNS NAME (bench/dns_bench.sh prepares them).
Every run is a process of its own: wall time and CPU time (user + system) come from wait4.
Each figure is the median of RUNS runs; ratios compare TixDnsQuery with the others (above 1
for queries/s: TixDnsQuery is faster; below 1 for CPU: it uses less).
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

DNSPYTHON = r'''
import sys
import dns.resolver
port, count, name = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
resolver = dns.resolver.Resolver(configure=False)
resolver.nameservers = ["127.0.0.1"]
resolver.port = port
total = 0
for _ in range(count):
    answer = resolver.resolve(name, "TXT", raise_on_no_answer=True)
    total += sum(len(b"".join(r.strings)) for r in answer)
print(count, "lookups,", total, "bytes of text")
'''


def measure(command):
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    error = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"failed: {' '.join(command[:4])}...: {error.strip()}")
    return wall, usage.ru_utime + usage.ru_stime


def main():
    env_file, dns_bench, count, runs, name = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
    env = dict(line.strip().split("=", 1) for line in open(env_file) if "=" in line)
    port = env["DNS_PORT"]
    batch = tempfile.NamedTemporaryFile("w", prefix="ix-dns-bench.", suffix=".dig", delete=False)
    batch.write(f"{name} TXT\n" * count)
    batch.close()
    commands = {
        "TixDnsQuery": [dns_bench, port, str(count), name],
        "dig -f": ["dig", "@127.0.0.1", "-p", port, "+short", "+tries=1", "+time=5", "+noedns", "-f", batch.name],
        "dnspython": ["/usr/bin/python3", "-c", DNSPYTHON, port, str(count), name],
    }
    results = {}
    for client, command in commands.items():
        samples = [measure(command) for _ in range(runs)]
        results[client] = (statistics.median(s[0] for s in samples), statistics.median(s[1] for s in samples))
    os.remove(batch.name)
    print(f"{count} TXT lookups of {name}, one after another; median of {runs} runs")
    header = f"{'client':<13}{'wall s':>9}{'queries/s':>11}{'CPU us/query':>14}{'q/s ratio':>11}{'CPU ratio':>11}"
    print(header)
    print("-" * len(header))
    ours_wall, ours_cpu = results["TixDnsQuery"]
    for client, (wall, cpu) in results.items():
        ratio = "" if client == "TixDnsQuery" else f"{wall / ours_wall:>11.2f}{ours_cpu / cpu:>11.2f}"
        print(f"{client:<13}{wall:>9.3f}{count / wall:>11.0f}{cpu * 1e6 / count:>14.1f}{ratio}")


if __name__ == "__main__":
    main()
