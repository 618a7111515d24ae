#!/usr/bin/env python3
"""Runs udptrail and other receivers side by side on loopback, interleaved, and prints one report:
delivery and kernel drops per offered rate, CPU per line, peak RSS, latency, idle cost, the log
folder of 25,000 files, several senders and the console on a pseudo-terminal against `cat`.

    bench/compare.py            (no root needed; installs nothing, changes nothing on the host)

It builds the bench preset (SKIP_BUILD=1: not), checks that every receiver it is asked for can run
and says what to install if not. Settings come from the environment; see bench/README.md."""
import json
import os
import subprocess
import sys
import tempfile
import time

import benchlib as b

E = os.environ
RECEIVERS = E.get("RECEIVERS", "udptrail bare bare-4m rsyslog").split()
RATES = b.env_list("RATES", "50000 100000 150000 200000")
RUNS = int(E.get("RUNS", "3"))                 # runs per receiver and rate; medians
RUN_SECONDS = int(E.get("RUN_SECONDS", "2"))
LATENCY_RATES = b.env_list("LATENCY_RATES", "10000 50000")
LATENCY_SECONDS = int(E.get("LATENCY_SECONDS", "3"))
FOLDER_RATES = b.env_list("FOLDER_RATES", "50000")   # udptrail with 25,000 files in its folder
SENDERS = b.env_list("SENDERS", "2 8 64")
SENDERS_RATE = int(E.get("SENDERS_RATE", "50000"))
SENDERS_RECEIVERS = E.get("SENDERS_RECEIVERS", "udptrail bare").split()
TTY_RATE = int(E.get("TTY_RATE", "100000"))    # offered to udptrail on a pseudo-terminal; 0: skip
IDLE_SECONDS = int(E.get("IDLE_SECONDS", "15"))
PORT_BASE = int(E.get("PORT_BASE", "47100"))
OUT = E.get("OUT") or tempfile.mkdtemp(prefix="udptrail-compare.")
RSYSLOGD = E.get("RSYSLOGD", "rsyslogd")
if "/" not in RSYSLOGD and os.path.exists("/usr/sbin/rsyslogd"):
    RSYSLOGD = "/usr/sbin/rsyslogd"  # /usr/sbin is not on every user's PATH

RSYSLOG_CONF = """global(workDirectory="{dir}")
module(load="imudp")
template(name="raw" type="string" string="%rawmsg%\\n")
input(type="imudp" address="127.0.0.1" port="{port}" ruleset="bench")
ruleset(name="bench") {{ action(type="omfile" file="{out}/rsyslog.log" template="raw") }}
"""


def write_rsyslog_conf(v):
    with open(os.path.join(v["dir"], "rsyslog.conf"), "w") as f:
        f.write(RSYSLOG_CONF.format(**v))


def big_folder(v):
    """The log folder of 25,000 files, 5,000 of them young udplog_*.log, filled once per run."""
    folder = os.path.join(OUT, "bigfolder")
    if not os.path.isdir(folder):
        b.log("filling a log folder with 25,000 files")
        b.fill_folder(folder, 20000, 5000)
    return folder


# Every receiver: its command line ({port}, {out}: the folder it writes into, {dir}: its own work
# folder), what it needs installed, what prepares its run (may hand another output folder), and
# which process is measured ("self", or the pid its runner writes to {dir}/pid). Each is started
# with standard input and output on /dev/null and stopped with SIGTERM (SIGKILL after 5 s).
UDPTRAIL_ARGV = ["{udptrail}", "{port}", "{out}"]
RECEIVER_TABLE = {
    "udptrail": dict(argv=UDPTRAIL_ARGV),
    "udptrail-bigfolder": dict(argv=UDPTRAIL_ARGV, prepare=big_folder),
    # The console into a file, as a service manager's log or `> file` would take it.
    "udptrail-file": dict(argv=["/bin/sh", "-c", 'exec "$0" "$1" "$2" > "$3"'] + UDPTRAIL_ARGV +
                          ["{dir}/console.txt"]),
    "udptrail-tty": dict(argv=["{tools}/bench_pty_run", "--pidfile", "{dir}/pid", "--save",
                               "{dir}/screen", "--"] + UDPTRAIL_ARGV, measured="pidfile"),
    "udptrail-base": dict(argv=["{base}", "{port}", "{out}"],  # an earlier build: UDPTRAIL_BASE
                          needs=[(E.get("UDPTRAIL_BASE", "UDPTRAIL_BASE"),
                                  "set UDPTRAIL_BASE to an udptrail binary")]),
    "bare": dict(argv=["{tools}/bench_bare_reader", "--port", "{port}", "--out", "{out}/bare.log"]),
    "bare-4m": dict(argv=["{tools}/bench_bare_reader", "--port", "{port}", "--out",
                          "{out}/bare.log", "--rcvbuf", "4194304"]),
    "rsyslog": dict(argv=[RSYSLOGD, "-n", "-f", "{dir}/rsyslog.conf", "-i", "{dir}/rsyslog.pid"],
                    needs=[(RSYSLOGD, "apt-get install rsyslog")], prepare=write_rsyslog_conf),
    "socat": dict(argv=["socat", "-u", "UDP4-RECV:{port},bind=127.0.0.1",
                        "OPEN:{out}/socat.log,creat,append"], needs=[("socat", "apt-get install socat")]),
}


class Running:
    """One receiver started for one measurement."""

    def __init__(self, name, port, label):
        entry = RECEIVER_TABLE[name]
        self.dir = os.path.join(OUT, "runs", label)
        os.makedirs(os.path.join(self.dir, "out"), exist_ok=True)
        v = dict(port=port, dir=self.dir, out=os.path.join(self.dir, "out"), tools=b.TOOLS,
                 udptrail=b.UDPTRAIL, base=E.get("UDPTRAIL_BASE", ""))
        prepared = entry.get("prepare", lambda v: None)(v)
        v["out"] = self.out = prepared or v["out"]
        self.before = set(os.listdir(self.out))
        self.proc = b.start([a.format(**v) for a in entry["argv"]], self.dir)
        self.pid = self.proc.pid
        if not b.wait_until(lambda: b.udp_sockets(port), 10):
            raise RuntimeError(f"{name} did not bind port {port}; see {self.dir}/stderr")
        if entry.get("measured") == "pidfile":
            pidfile = os.path.join(self.dir, "pid")
            b.wait_until(lambda: os.path.exists(pidfile), 5)
            self.pid = int(open(pidfile).read())

    def files(self):
        return b.new_files(self.out, self.before)

    def stop(self):
        b.stop(self.proc)
        for path in self.files():  # counted already; keep the disk small
            os.remove(path)


def record(results, **row):
    results.write(json.dumps(row) + "\n")
    results.flush()


def measure_rate(results, name, rate, run, port, senders=1):
    tag = f"r{rate}s{senders}n{run}"
    r = Running(name, port, f"{name}-{tag}")
    buf0, err0, cpu0 = b.snmp_udp("RcvbufErrors"), b.snmp_udp("InErrors"), b.cpu_ns(r.pid)
    gen = b.send(port, rate, RUN_SECONDS, tag, senders=senders)
    sent = int(gen.get("sent", 0))
    got = b.wait_drained(r.files, sent, tag)
    record(results, phase="rate", receiver=name, rate=rate, senders=senders, run=run, sent=sent,
           achieved=gen.get("achieved_rate", 0), delivered=got.get("delivered", 0),
           duplicated=got.get("duplicated", 0), out_of_order=got.get("out_of_order", 0),
           damaged=got.get("damaged", 0), sock_drops=b.socket_drops(port),
           snmp_rcvbuf=b.snmp_udp("RcvbufErrors") - buf0, snmp_inerrors=b.snmp_udp("InErrors") - err0,
           cpu_ns=b.cpu_ns(r.pid) - cpu0, peak_rss_kb=b.status_kib(r.pid, "VmHWM"))
    r.stop()


def measure_latency(results, name, rate, port):
    tag = f"lat{rate}"
    r = Running(name, port, f"{name}-{tag}")
    report = os.path.join(r.dir, "latency.txt")
    with open(report, "w") as f:
        watcher = b.start([b.tool("latency"), "--dir", r.out, "--run", tag, "--expect",
                           rate * LATENCY_SECONDS, "--quiet-ms", 1000, "--limit-s",
                           LATENCY_SECONDS + 20], r.dir, stdout=f)
    b.wait_until(lambda: "ready" in open(report).read(), 5)
    b.send(port, rate, LATENCY_SECONDS, tag)
    try:
        watcher.wait(LATENCY_SECONDS + 25)
    finally:
        b.stop(watcher)
    got = b.key_values(open(report).read().splitlines()[-1])
    record(results, phase="latency", receiver=name, rate=rate, samples=got.get("samples", 0),
           p50_us=got.get("p50_us", 0), p99_us=got.get("p99_us", 0), max_us=got.get("max_us", 0))
    r.stop()


def pty_report(path):
    lines = [l for l in open(path, errors="replace") if l.startswith("pty bytes=")]
    return b.key_values(lines[-1]) if lines else {}


def measure_tty(results, port):
    """udptrail's console on a pseudo-terminal read as fast as it can be, then `cat` of the very
    bytes it showed to the same kind of pseudo-terminal."""
    tag = "tty"
    r = Running("udptrail-tty", port, "udptrail-tty")
    cpu0 = b.cpu_ns(r.pid)
    gen = b.send(port, TTY_RATE, RUN_SECONDS, tag)
    got = b.wait_drained(r.files, gen.get("sent", 0), tag)
    cpu = b.cpu_ns(r.pid) - cpu0
    r.stop()
    screen = os.path.join(r.dir, "screen")
    shown = sum(1 for line in open(screen, "rb") if b"UTB tty " in line)
    replay = os.path.join(r.dir, "replay")
    os.makedirs(replay, exist_ok=True)
    cat = b.start([b.tool("pty_run"), "--save", "/dev/null", "--", "cat", screen], replay)
    cat.wait(120)
    catted = pty_report(os.path.join(replay, "stderr"))
    record(results, phase="tty", offered=TTY_RATE, sent=gen.get("sent", 0),
           seconds=gen.get("elapsed_s", 0), logged=got.get("delivered", 0), shown=shown,
           cpu_ns=cpu, cat_lines=catted.get("lines", 0), cat_seconds=catted.get("first_to_last_s", 0))


def measure_idle(results, names):
    running = {}
    for i, name in enumerate(names):
        running[name] = Running(name, PORT_BASE + 80 + i, f"{name}-idle")
    time.sleep(2)  # start-up is not idle time
    cpu0 = {n: b.cpu_ns(r.pid) for n, r in running.items()}
    time.sleep(IDLE_SECONDS)
    for name, r in running.items():
        record(results, phase="idle", receiver=name, seconds=IDLE_SECONDS,
               cpu_ns=b.cpu_ns(r.pid) - cpu0[name], peak_rss_kb=b.status_kib(r.pid, "VmHWM"))
        r.stop()


def main():
    wanted = set(RECEIVERS + SENDERS_RECEIVERS + (["udptrail-bigfolder"] if FOLDER_RATES else []))
    unknown = wanted - RECEIVER_TABLE.keys()
    if unknown:
        sys.exit(f"unknown receivers {sorted(unknown)}; known: {sorted(RECEIVER_TABLE)}")
    b.require([need for n in wanted for need in RECEIVER_TABLE[n].get("needs", [])])
    os.makedirs(os.path.join(OUT, "runs"), exist_ok=True)
    if E.get("SKIP_BUILD") != "1":
        b.build(os.path.join(OUT, "build.log"))
    b.require_build(["loadgen", "count", "bare_reader", "latency", "pty_run"])
    b.log(f"results in {OUT}")
    path = os.path.join(OUT, "results.jsonl")
    with open(path, "w") as results:
        record(results, phase="machine", text=b.machine_line(), settings=dict(
            rates=RATES, runs=RUNS, seconds=RUN_SECONDS, length=b.LINE_LENGTH))
        for rate in RATES:
            for run in range(1, RUNS + 1):
                for i, name in enumerate(RECEIVERS):  # interleaved: each once before the next run
                    b.log(f"rate {rate} run {run} {name}")
                    measure_rate(results, name, rate, run, PORT_BASE + i)
        for rate in FOLDER_RATES:
            for run in range(1, RUNS + 1):
                b.log(f"rate {rate} run {run} udptrail-bigfolder")
                measure_rate(results, "udptrail-bigfolder", rate, run, PORT_BASE + 20)
        for senders in SENDERS:
            for run in range(1, RUNS + 1):
                for i, name in enumerate(SENDERS_RECEIVERS):
                    b.log(f"{senders} senders at {SENDERS_RATE} run {run} {name}")
                    measure_rate(results, name, SENDERS_RATE, run, PORT_BASE + 30 + i, senders)
        for rate in LATENCY_RATES:
            for i, name in enumerate(RECEIVERS):
                b.log(f"latency at {rate} {name}")
                measure_latency(results, name, rate, PORT_BASE + 40 + i)
        if TTY_RATE:
            b.log(f"console on a pseudo-terminal at {TTY_RATE}")
            measure_tty(results, PORT_BASE + 60)
        if IDLE_SECONDS:
            b.log(f"idle, {IDLE_SECONDS} s")
            measure_idle(results, RECEIVERS + (["udptrail-bigfolder"] if FOLDER_RATES else []))
    report = subprocess.run([sys.executable, os.path.join(b.HERE, "report.py"), path],
                            capture_output=True, text=True)
    with open(os.path.join(OUT, "report.md"), "w") as f:
        f.write(report.stdout)
    print(report.stdout + report.stderr)
    b.log(f"raw results: {path}")


if __name__ == "__main__":
    main()
