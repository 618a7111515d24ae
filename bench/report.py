#!/usr/bin/env python3
"""Turns the results.jsonl of compare.py into the comparison tables and the target check."""
import json
import statistics
import sys
from collections import defaultdict

REFERENCE = "udptrail"
NAN = float("nan")


def per10k(row):
    return row["cpu_ns"] / 1e6 * 10000 / row["delivered"] if row["delivered"] else NAN


def clean(row):
    return row["sent"] and row["delivered"] == row["sent"] and not row["damaged"] \
        and not row["duplicated"]


def median(values):
    values = [v for v in values if v == v]
    return statistics.median(values) if values else NAN


def ratio(ours, theirs):
    return ours / theirs if theirs and ours == ours and theirs == theirs else NAN


def check(ok, *measured):
    """MET / NOT MET, or n/a when a figure it needs was not measured (NaN or 0)."""
    if any(v != v or not v for v in measured):
        return "n/a (not measured)"
    return "MET" if ok else "NOT MET"


def main(path):
    rows = [json.loads(line) for line in open(path)]
    runs = defaultdict(list)           # (receiver, rate, senders) -> rate rows
    latency, idle, tty, names = {}, {}, None, []
    for row in rows:
        if row["phase"] == "machine":
            print(f"- machine: {row['text']}\n- settings: {row['settings']}\n")
        elif row["phase"] == "rate":
            runs[(row["receiver"], row["rate"], row["senders"])].append(row)
        elif row["phase"] == "latency":
            latency[(row["receiver"], row["rate"])] = row
        elif row["phase"] == "idle":
            idle[row["receiver"]] = (100.0 * row["cpu_ns"] / (row["seconds"] * 1e9),
                                     row["peak_rss_kb"] / 1024)
        elif row["phase"] == "tty":
            tty = row
        if "receiver" in row and row["receiver"] not in names:
            names.append(row["receiver"])

    print("| receiver | offered lines/s | delivered % (worst run) | lossless runs | kernel drops "
          "(most) | CPU ms per 10k lines (median) | peak RSS MiB |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    lossless, cpu, rss = {}, defaultdict(dict), defaultdict(float)
    for name in names:
        highest, broken = 0, False
        for (n, rate, senders), group in sorted(runs.items(), key=lambda kv: kv[0][1]):
            if n != name or senders != 1:
                continue
            worst = min(100.0 * r["delivered"] / r["sent"] if r["sent"] else 0.0 for r in group)
            good = sum(1 for r in group if clean(r))
            cpu[name][rate] = median(per10k(r) for r in group)
            rss[name] = max([rss[name]] + [r["peak_rss_kb"] / 1024 for r in group])
            broken = broken or good < len(group)
            highest = highest if broken else rate
            behind = " (sender behind)" if any(r["achieved"] < 0.97 * rate for r in group) else ""
            print(f"| {name} | {rate}{behind} | {worst:.2f} | {good}/{len(group)} | "
                  f"{max(r['sock_drops'] for r in group):.0f} | {cpu[name][rate]:.1f} | "
                  f"{rss[name]:.1f} |")
        lossless[name] = highest

    lat_rates = sorted({rate for (_, rate) in latency})
    print("\n| receiver | highest lossless rate (all runs, all lower rates too) | CPU ms per 10k at "
          "50k / 100k (udptrail's ratio) | " + "".join(
              f"latency p50 / p99 / max µs at {r} | " for r in lat_rates) + "idle CPU % of one core |")
    print("|---|---:|---:|" + "---:|" * len(lat_rates) + "---:|")
    for name in names:
        ours = cpu.get(REFERENCE, {})
        at = " / ".join(f"{cpu[name].get(r, NAN):.1f} ({ratio(ours.get(r, NAN), cpu[name].get(r, NAN)):.2f}×)"
                        for r in (50000, 100000))
        lat = "".join(f"{latency[(name, r)]['p50_us']:.0f} / {latency[(name, r)]['p99_us']:.0f} / "
                      f"{latency[(name, r)]['max_us']:.0f} | " if (name, r) in latency else "n/a | "
                      for r in lat_rates)
        print(f"| {name} | {lossless.get(name, 'n/a')} | {at} | {lat}"
              f"{idle.get(name, (NAN,))[0]:.3f} |")

    senders = sorted({(n, rate, s) for (n, rate, s) in runs if s > 1})
    if senders:
        print("\n| receiver | senders | offered lines/s | delivered % (worst run) | CPU ms per 10k "
              "lines (median) |")
        print("|---|---:|---:|---:|---:|")
        for name in sorted({n for (n, _, _) in senders}):
            for (n, rate, s) in sorted(k for k in runs if k[0] == name and k[1] in
                                       {r for (_, r, _) in senders}):
                group = runs[(n, rate, s)]
                worst = min(100.0 * r["delivered"] / r["sent"] if r["sent"] else 0 for r in group)
                print(f"| {n} | {s} | {rate} | {worst:.2f} | {median(per10k(r) for r in group):.1f} |")

    if tty:
        shown_rate = tty["shown"] / tty["seconds"] if tty["seconds"] else NAN
        cat_rate = tty["cat_lines"] / tty["cat_seconds"] if tty["cat_seconds"] else NAN
        print(f"\nConsole on a pseudo-terminal read as fast as it can be, {tty['offered']} lines/s "
              f"offered for {tty['seconds']:.1f} s: udptrail showed {tty['shown']:.0f} of "
              f"{tty['sent']:.0f} lines ({shown_rate:,.0f} lines/s; logged {tty['logged']:.0f}); "
              f"`cat` of the same screen output: {tty['cat_lines']:.0f} lines in "
              f"{tty['cat_seconds']:.2f} s ({cat_rate:,.0f} lines/s); udptrail/cat "
              f"{ratio(shown_rate, cat_rate):.2f}.")

    print("\nTargets (udptrail against the others, same run):")
    for rate in (50000, 100000):
        ours, bare, rs = (cpu.get(n, {}).get(rate, NAN) for n in (REFERENCE, "bare", "rsyslog"))
        print(f"- CPU per line at {rate // 1000}k <= 1.2x the bare flushing reader's and below "
              f"rsyslog's ({ours:.1f} vs {bare:.1f} and {rs:.1f} ms per 10k lines, "
              f"{ratio(ours, bare):.2f}x / {ratio(ours, rs):.2f}x): "
              f"{check(ours <= 1.2 * bare and ours < rs, ours, bare, rs)}")
    ours, bare4 = lossless.get(REFERENCE, 0), lossless.get("bare-4m", 0)
    print(f"- highest lossless rate >= 0.8x the bare reader with a 4 MiB buffer ({ours} vs {bare4}"
          f"): {check(ours >= 0.8 * bare4, bare4)}")
    for rate in lat_rates:
        if (REFERENCE, rate) in latency:
            p99 = latency[(REFERENCE, rate)]["p99_us"]
            print(f"- p99 datagram -> record in the file <= 2 ms at {rate // 1000}k lines/s "
                  f"({p99 / 1000:.2f} ms): {check(p99 <= 2000)}")
    for name in (REFERENCE, "udptrail-bigfolder"):
        if name in idle:
            print(f"- idle CPU <= 0.5 % of one core, {name} ({idle[name][0]:.3f} %): "
                  f"{check(idle[name][0] <= 0.5)}")
    peak = max(rss.get(REFERENCE, 0), idle.get(REFERENCE, (0, 0))[1])
    print(f"- peak RSS <= 3 MiB ({peak:.2f} MiB): {check(0 < peak <= 3)}")
    for (n, rate, s), group in sorted(runs.items()):
        if n == "udptrail-bigfolder":
            good = sum(1 for r in group if clean(r))
            print(f"- no loss at {rate // 1000}k lines/s with 25,000 files in the log folder "
                  f"({good}/{len(group)} runs lossless, worst "
                  f"{min(r['delivered'] / r['sent'] * 100 for r in group):.2f} % delivered): "
                  f"{check(good == len(group))}")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: report.py results.jsonl")
    main(sys.argv[1])
