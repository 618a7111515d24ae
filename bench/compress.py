#!/usr/bin/env python3
"""The cost of --compress: the gzip's processor time per MiB and its ratio (bench_gzip_cost), then
udptrail at 50k lines/s with 2 MiB log files (one closed and compressed about every 0.5 s) with
and without --compress, interleaved: datagram -> record-on-disk latency p50/p99/max, and the
processor time of the line-writing threads apart from the compressing thread's (found by its
scheduling class, SCHED_IDLE). Loopback only; every step bounded.

Settings from the environment: RUNS=3 RATE=50000 SECONDS=3 FILES=8 (files for bench_gzip_cost)."""
import os
import subprocess
import tempfile

import benchlib as b

RUNS = int(os.environ.get("RUNS", "3"))
RATE = int(os.environ.get("RATE", "50000"))
SECONDS = int(os.environ.get("SECONDS", "3"))
FILES = os.environ.get("FILES", "8")
PORT = 47310
SCHED_IDLE = 5


def split_cpu_ns(pid):
    """(ns of the threads that write lines, ns of the SCHED_IDLE compressing thread)."""
    lines, idle = 0, 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            ns = int(open(f"/proc/{pid}/task/{task}/schedstat").read().split()[0])
            policy = int(open(f"/proc/{pid}/task/{task}/stat").read().rsplit(")", 1)[1].split()[38])
        except (OSError, IndexError, ValueError):
            continue
        if policy == SCHED_IDLE:
            idle += ns
        else:
            lines += ns
    return lines, idle


def run(compress, index, work):
    tag = f"c{int(compress)}r{index}"
    folder = os.path.join(work, tag)
    os.makedirs(folder)
    argv = [b.UDPTRAIL, PORT, folder, 2048, 30] + (["--compress"] if compress else [])
    server = b.start(argv, work)
    if not b.wait_until(lambda: b.udp_sockets(PORT), 10):
        raise RuntimeError("udptrail did not bind its port")
    report = os.path.join(work, tag + ".latency")
    with open(report, "w") as out:
        watcher = b.start([b.tool("latency"), "--dir", folder, "--run", tag, "--expect",
                           RATE * SECONDS, "--quiet-ms", 1000, "--limit-s", SECONDS + 20],
                          work, stdout=out)
    b.wait_until(lambda: "ready" in open(report).read(), 5)
    before = split_cpu_ns(server.pid)
    gen = b.send(PORT, RATE, SECONDS, tag)
    after = split_cpu_ns(server.pid)
    try:
        watcher.wait(SECONDS + 25)
    finally:
        b.stop(watcher)
    b.stop(server)
    got = b.key_values(open(report).read().splitlines()[-1])
    sent = max(gen.get("sent", 1), 1)
    gz = [n for n in os.listdir(folder) if n.endswith(".log.gz")]
    return dict(compress=compress, sent=int(sent), seen=int(got.get("samples", 0)),
                p50=got.get("p50_us", 0), p99=got.get("p99_us", 0), max=got.get("max_us", 0),
                line_ms_10k=(after[0] - before[0]) / 1e6 / sent * 10000,
                gzip_ms_10k=(after[1] - before[1]) / 1e6 / sent * 10000, gz_files=len(gz))


def main():
    b.require_build(["loadgen", "latency", "gzip_cost"])
    print(subprocess.run([b.tool("gzip_cost"), FILES], capture_output=True, text=True,
                         timeout=300).stdout, end="")
    with tempfile.TemporaryDirectory(prefix="udptrail-compress-") as work:
        rows = []
        for i in range(RUNS):
            for compress in (False, True):
                b.log(f"run {i + 1} of {RUNS}, --compress {compress}")
                rows.append(run(compress, i, work))
    print("| --compress | sent | seen | p50 µs | p99 µs | max µs | line threads ms/10k | "
          "gzip thread ms/10k | .gz files |")
    print("|---|---|---|---|---|---|---|---|---|")
    for r in rows:
        print(f"| {'yes' if r['compress'] else 'no'} | {r['sent']} | {r['seen']} | {r['p50']:.0f} | "
              f"{r['p99']:.0f} | {r['max']:.0f} | {r['line_ms_10k']:.1f} | {r['gzip_ms_10k']:.1f} | "
              f"{r['gz_files']} |")


if __name__ == "__main__":
    main()
