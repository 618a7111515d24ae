#!/usr/bin/env python3
"""CPU per line of the console's patterns: udptrail with its console written to a file, at one
offered rate, without patterns and with two --grep patterns and one --highlight (--color=always,
so that the highlight is applied into the file), interleaved, medians of the runs.

    bench/filter_cost.py        (RATE=50000 RUNS=3 RUN_SECONDS=2; SKIP_BUILD=1: no build)"""
import os
import statistics
import sys
import tempfile

import benchlib as b

RATE = int(os.environ.get("RATE", "50000"))
RUNS = int(os.environ.get("RUNS", "3"))
RUN_SECONDS = int(os.environ.get("RUN_SECONDS", "2"))
PORT = int(os.environ.get("PORT_BASE", "47300"))
OUT = tempfile.mkdtemp(prefix="udptrail-filter-cost.")
# The load generator's lines carry "tag seq": every line matches the first pattern.
CASES = {
    "no pattern": ["--color=always"],
    "2 --grep, 1 --highlight": ["--color=always", "--grep", "r[0-9]+n", "--grep", "^never here$",
                                "--highlight", "[0-9]{3}"],
}


def measure(name, argv, run):
    folder = os.path.join(OUT, f"{len(argv)}-{run}")
    os.makedirs(folder)
    with open(os.path.join(folder, "console"), "wb") as console:
        proc = b.start([b.UDPTRAIL, PORT, folder] + argv, folder, stdout=console)
        b.wait_until(lambda: b.udp_sockets(PORT), 10)
        cpu0 = b.cpu_ns(proc.pid)
        tag = f"r{RATE}n{run}"
        gen = b.send(PORT, RATE, RUN_SECONDS, tag)
        sent = int(gen.get("sent", 0))
        logs = lambda: [os.path.join(folder, f) for f in os.listdir(folder) if f.startswith("udplog")]
        got = b.wait_drained(logs, sent, tag)
        cpu = b.cpu_ns(proc.pid) - cpu0
        b.stop(proc)
    return cpu / max(sent, 1) * 10000 / 1e6, got.get("delivered", 0) / max(sent, 1)


def main():
    if os.environ.get("SKIP_BUILD") != "1":
        b.build(os.path.join(OUT, "build.log"))
    b.require_build()
    results = {name: [] for name in CASES}
    for run in range(RUNS):
        for name, argv in CASES.items():
            results[name].append(measure(name, argv, run))
    print(f"{b.machine_line()}\nCPU ms per 10k lines at {RATE} lines/s, console to a file:")
    for name, rows in results.items():
        cpu = statistics.median(r[0] for r in rows)
        worst = min(r[1] for r in rows)
        print(f"  {name:26} {cpu:6.1f}   delivered {worst:.1%} (worst run)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
