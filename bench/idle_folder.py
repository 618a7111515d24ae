#!/usr/bin/env python3
"""What udptrail's log folder upkeep costs: processor use while no data comes in (% of one core),
then whether it loses lines under load, with a log folder that is empty, holds 1,000 files whose
names are no log file's, 100 young log files, or 25,000 files of which 5,000 are young log files.

    bench/idle_folder.py [SECONDS]     (default 30 per case; needs the bench preset built)

Settings from the environment: RATE (lines/s of the load run, default 50000; 0: no load run),
LOAD_SECONDS (2), PORT (47400), BUILD (build-bench)."""
import os
import shutil
import sys
import tempfile
import time

import benchlib as b

CASES = [  # name, files with other names, young log files
    ("empty folder", 0, 0),
    ("1000 non-matching files", 1000, 0),
    ("100 matching (young) log files", 0, 100),
    ("25000 files, 5000 young log files", 20000, 5000),
]


def measure(case, folder, seconds, port, rate, load_seconds):
    name, others, young_logs = case
    before = b.fill_folder(folder, others, young_logs)
    proc = b.start([b.UDPTRAIL, port, folder], os.path.dirname(folder))
    if not b.wait_until(lambda: b.udp_sockets(port), 10):
        sys.exit(f"udptrail did not bind port {port}")
    time.sleep(1)  # start-up is not idle time
    cpu0 = b.cpu_ns(proc.pid)
    time.sleep(seconds)
    idle = (b.cpu_ns(proc.pid) - cpu0) / (seconds * 1e9) * 100
    load = ""
    if rate:
        gen = b.send(port, rate, load_seconds, "idle")
        got = b.wait_drained(lambda: b.new_files(folder, before), gen["sent"], "idle")
        load = (f"   at {rate} lines/s: {got.get('delivered', 0):.0f} of {gen['sent']:.0f} "
                f"logged, kernel drops {b.socket_drops(port)}")
    b.stop(proc)
    print(f"{name:<36} {idle:6.3f} % of one core{load}", flush=True)


def main():
    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 30
    rate = int(os.environ.get("RATE", "50000"))
    b.require_build()
    work = tempfile.mkdtemp(prefix="udptrail-idle.")
    try:
        for i, case in enumerate(CASES):
            measure(case, os.path.join(work, f"case{i}"), seconds,
                    int(os.environ.get("PORT", "47400")), rate,
                    int(os.environ.get("LOAD_SECONDS", "2")))
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
