#!/usr/bin/env python3
"""Turns the results.csv of compare.sh into the comparison tables and the target check."""
import csv
import statistics
import sys
from collections import defaultdict

REFERENCE = "udptrail"
PEERS = ["bare", "rsyslog", "socat"]


def main(path):
    header = []
    rate_rows, latency, idle = defaultdict(list), {}, {}
    latency_rate = 0
    receivers = []
    with open(path) as f:
        for line in f:
            if line.startswith("#"):
                header.append(line.strip("# \n"))
                continue
            if line.startswith("phase,"):
                continue
            row = next(csv.reader([line]))
            phase, name = row[0], row[1]
            if name not in receivers:
                receivers.append(name)
            if phase == "rate":
                keys = ["rate", "run", "sent", "achieved", "delivered", "lost", "duplicated",
                        "out_of_order", "damaged", "sock_drops", "snmp_rcvbuf", "snmp_inerrors",
                        "cpu_ns", "peak_rss_kb"]
                values = dict(zip(keys, (float(v) if v else 0.0 for v in row[2:])))
                rate_rows[(name, int(values["rate"]))].append(values)
            elif phase == "latency":
                latency_rate = int(row[2])
                latency[name] = dict(zip(["samples", "p50", "p99", "max"],
                                         (float(v) if v else 0.0 for v in row[4:8])))
            elif phase == "idle":
                seconds, cpu = float(row[4]), float(row[5] or 0)
                idle[name] = (100.0 * cpu / (seconds * 1e9), float(row[6] or 0))

    rates = sorted({rate for (_, rate) in rate_rows})
    for line in header:
        print(f"- {line}")
    print()
    print("| receiver | offered lines/s | delivered % (worst of runs) | lossless runs | "
          "kernel drops (most) | CPU ms per 10k lines (median) | peak RSS MiB |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    lossless_rate, cpu_at = {}, defaultdict(dict)
    for name in receivers:
        highest, broken = 0, False
        for rate in rates:
            runs = rate_rows.get((name, rate))
            if not runs:
                continue
            worst = min(100.0 * r["delivered"] / r["sent"] if r["sent"] else 0.0 for r in runs)
            clean = sum(1 for r in runs if r["sent"] and r["delivered"] == r["sent"]
                        and r["damaged"] == 0 and r["duplicated"] == 0)
            drops = max(r["sock_drops"] for r in runs)
            per10k = statistics.median(r["cpu_ns"] / 1e6 * 10000 / r["delivered"]
                                       for r in runs if r["delivered"] > 0) \
                if any(r["delivered"] > 0 for r in runs) else float("nan")
            rss = max(r["peak_rss_kb"] for r in runs) / 1024
            slow = any(r["achieved"] < 0.97 * rate for r in runs)
            cpu_at[name][rate] = per10k
            if clean == len(runs) and not broken:
                highest = rate
            else:
                broken = True
            mark = " (sender behind)" if slow else ""
            print(f"| {name} | {rate}{mark} | {worst:.2f} | {clean}/{len(runs)} | {drops:.0f} | "
                  f"{per10k:.1f} | {rss:.1f} |")
        lossless_rate[name] = highest

    print()
    print("| receiver | highest lossless rate (all runs, all lower rates too) | udptrail's ratio "
          "to it | latency p50 / p99 / max µs at "
          f"{latency_rate} lines/s | idle CPU % of one core |"
          " idle peak RSS MiB |")
    print("|---|---:|---:|---:|---:|---:|")
    ours = lossless_rate.get(REFERENCE, 0)
    for name in receivers:
        theirs = lossless_rate.get(name, 0)
        ratio = f"{ours / theirs:.2f}" if theirs else "n/a"
        lat = latency.get(name)
        lat_text = f"{lat['p50']:.0f} / {lat['p99']:.0f} / {lat['max']:.0f}" if lat else "n/a"
        idle_cpu, idle_rss = idle.get(name, (float("nan"), 0.0))
        print(f"| {name} | {theirs} | {ratio} | {lat_text} | {idle_cpu:.3f} | {idle_rss / 1024:.1f} |")

    print()
    print("Targets (udptrail against the others, same run):")
    check = lambda ok: "MET" if ok else "NOT MET"
    rs = lossless_rate.get("rsyslog", 0)
    bare = lossless_rate.get("bare", 0)
    print(f"- highest lossless rate >= 2x rsyslog's ({ours} vs {rs}): {check(rs and ours >= 2 * rs)}")
    print(f"- highest lossless rate >= the bare flushing reader's ({ours} vs {bare}): "
          f"{check(bare and ours >= bare)}")
    ours50, bare50 = cpu_at.get(REFERENCE, {}).get(50000), cpu_at.get("bare", {}).get(50000)
    if ours50 and bare50:
        print(f"- CPU per line at 50k lines/s <= 1.3x the bare reader's ({ours50:.1f} vs "
              f"{bare50:.1f} ms per 10k lines, {ours50 / bare50:.2f}x): {check(ours50 <= 1.3 * bare50)}")
    rss_peak = max((r["peak_rss_kb"] for (n, _), rows in rate_rows.items() if n == REFERENCE
                    for r in rows), default=0) / 1024
    print(f"- peak RSS <= 3 MiB ({rss_peak:.2f} MiB): {check(0 < rss_peak <= 3)}")
    if REFERENCE in idle:
        print(f"- idle CPU <= 0.5 % of one core ({idle[REFERENCE][0]:.3f} %): "
              f"{check(idle[REFERENCE][0] <= 0.5)}")
    if REFERENCE in latency:
        p99 = latency[REFERENCE]["p99"]
        print(f"- p99 datagram -> disk latency <= 2 ms ({p99 / 1000:.2f} ms): {check(p99 <= 2000)}")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: report.py results.csv")
    main(sys.argv[1])
