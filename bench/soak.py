#!/usr/bin/env python3
"""Soak run: udptrail under a mixed load for N minutes, its memory and processor use sampled over
time, then every phase's lines counted in the log folder.

    bench/soak.py [MINUTES]     (default 5; needs the bench preset built)

The load cycles through steady traffic, short bursts far above what can be written, long lines,
several lines per datagram and quiet spells; log files of 256 KiB so that rotation runs all the
time. Settings from the environment: PORT (47300), SAMPLE_SECONDS (5), OUT, BUILD."""
import os
import subprocess
import sys
import tempfile
import threading
import time

import benchlib as b

MIX = [  # name, lines/s, line length, lines per datagram, seconds; "quiet" sends nothing
    ("steady", 10000, 80, 1, 20),
    ("burst", 300000, 80, 1, 2),
    ("quiet", 0, 0, 0, 5),
    ("long", 2000, 1000, 1, 10),
    ("batched", 20000, 60, 8, 10),
    ("burst", 150000, 120, 4, 3),
    ("quiet", 0, 0, 0, 5),
]


def sample(pid, logs, every, out, done):
    """A row every `every` seconds: RSS, peak RSS, CPU % of one core since the last row, log files."""
    out.write("elapsed_s  rss_kib  hwm_kib  cpu_pct  log_files  log_mib\n")
    start = last_at = time.monotonic()
    last_cpu = b.cpu_ns(pid)
    while not done.wait(every):
        now, cpu = time.monotonic(), b.cpu_ns(pid)
        files = [e for e in os.scandir(logs) if e.is_file()]
        mib = sum(e.stat().st_size for e in files) / 2**20
        out.write(f"{now - start:9.0f}  {b.status_kib(pid, 'VmRSS'):7d}  "
                  f"{b.status_kib(pid, 'VmHWM'):7d}  {(cpu - last_cpu) / (now - last_at) / 1e7:7.1f}  "
                  f"{len(files):9d}  {mib:7.0f}\n")
        out.flush()
        last_cpu, last_at = cpu, now


def main():
    minutes = float(sys.argv[1]) if len(sys.argv) > 1 else 5
    port = int(os.environ.get("PORT", "47300"))
    out = os.environ.get("OUT") or tempfile.mkdtemp(prefix="udptrail-soak.")
    logs = os.path.join(out, "logs")
    os.makedirs(logs, exist_ok=True)
    b.require_build()
    # The console goes to a pipe that counts the queue-full warnings.
    with open(os.path.join(out, "queue_full.txt"), "w") as counted:
        grep = subprocess.Popen(["grep", "-c", "QUEUE FULL"], stdin=subprocess.PIPE, stdout=counted)
    server = b.start([b.UDPTRAIL, port, logs, 256, 1], out, stdout=grep.stdin)
    grep.stdin.close()
    if not b.wait_until(lambda: b.udp_sockets(port), 10):
        sys.exit("udptrail did not start")
    done = threading.Event()
    samples = open(os.path.join(out, "samples.txt"), "w")
    sampler = threading.Thread(target=sample, args=(server.pid, logs, float(
        os.environ.get("SAMPLE_SECONDS", "5")), samples, done))
    sampler.start()

    phases, end = [], time.monotonic() + minutes * 60
    while time.monotonic() < end:
        for name, rate, length, per, seconds in MIX:
            if time.monotonic() >= end:
                break
            if name == "quiet":
                time.sleep(seconds)
                continue
            tag = f"s{len(phases) + 1:04d}"
            gen = b.send(port, rate, seconds, tag, length=length, per_datagram=per)
            phases.append((name, tag, length, int(gen.get("sent", 0))))
    time.sleep(1)
    b.stop(server, grace=30)
    grep.wait(10)
    done.set()
    sampler.join()
    samples.close()

    print(f"soak: {minutes:g} min, results in {out}\nsamples:")
    print(open(os.path.join(out, "samples.txt")).read())
    print("phase    tag    sent  delivered  lost  duplicated  out_of_order  damaged")
    total_sent = total_delivered = 0
    for name, tag, length, sent in phases:
        got = b.count([logs], sent, tag, length)
        print(f"{name:<8} {tag} {sent:7d} {got['delivered']:10.0f} {got['lost']:5.0f} "
              f"{got['duplicated']:11.0f} {got['out_of_order']:13.0f} {got['damaged']:8.0f}")
        total_sent += sent
        total_delivered += got["delivered"]
    print(f"\ntotal: sent {total_sent}, delivered {total_delivered:.0f}, "
          f"lost {total_sent - total_delivered:.0f}")
    print("queue-full warnings on the console:",
          open(os.path.join(out, "queue_full.txt")).read().strip())


if __name__ == "__main__":
    main()
