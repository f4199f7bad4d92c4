#!/usr/bin/python3
"""dkimpy's side of bench/dkim_bench.cpp: signs and verifies the messages of DIR in this process.

  dkim_bench.py DIR COUNT RUNS ALGORITHM...
      DIR holds N.eml (unsigned) and signed-ALGORITHM-N.eml for N < COUNT, and for each
      ALGORITHM its key (key-ALGORITHM: PEM for RSA, base64 of the seed for Ed25519) and its key
      record (record-ALGORITHM). Prints, per ALGORITHM, "sign" and "verify" lines with the median
      over RUNS of messages per second and CPU milliseconds per message. Key lookups are answered
      from the record file (never from DNS); a signature that does not verify ends the run.
"""
import statistics
import sys
import time

import dkim

HEADERS = [b"date", b"from", b"to", b"subject", b"mime-version", b"content-type"]


def timed(count, runs, operation):
    rates, cpus = [], []
    for _ in range(runs):
        wall, cpu = time.perf_counter(), time.process_time()
        for index in range(count):
            operation(index)
        wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
        rates.append(count / wall)
        cpus.append(cpu * 1000 / count)
    return statistics.median(rates), statistics.median(cpus)


def main(folder, count, runs, algorithms):
    unsigned = [open("%s/%d.eml" % (folder, i), "rb").read() for i in range(count)]
    for algorithm in algorithms:
        key = open("%s/key-%s" % (folder, algorithm), "rb").read().strip()
        record = open("%s/record-%s" % (folder, algorithm), "rb").read().strip()
        signed = [open("%s/signed-%s-%d.eml" % (folder, algorithm, i), "rb").read() for i in range(count)]

        def sign(index):
            dkim.sign(unsigned[index], b"sel", b"example.com", key, canonicalize=(b"relaxed", b"relaxed"),
                      signature_algorithm=algorithm.encode(), include_headers=HEADERS)

        def verify(index):
            if not dkim.verify(signed[index], dnsfunc=lambda name, timeout=5: record):
                sys.exit("dkimpy does not verify signed-%s-%d.eml" % (algorithm, index))

        for name, operation in (("sign", sign), ("verify", verify)):
            rate, cpu = timed(count, runs, operation)
            print("%s %s %.1f %.3f" % (algorithm, name, rate, cpu), flush=True)


main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4:])
