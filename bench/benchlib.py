"""What the benchmark scripts share: prerequisites, the build, /proc readings, starting and stopping
processes, load generation and line counting. Python 3 standard library only; loopback only; every
step bounded in time."""
import atexit
import datetime
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
BUILD = os.environ.get("BUILD", os.path.join(REPO, "build-bench"))
TOOLS = os.path.join(BUILD, "bench")
UDPTRAIL = os.path.join(BUILD, "udptrail")
LINE_LENGTH = 80  # bytes per load line, marker and line feed included


def log(text):
    print(time.strftime("%H:%M:%S"), text, file=sys.stderr, flush=True)


def tool(name):
    return os.path.join(TOOLS, "bench_" + name)


def env_list(name, default):
    return [int(v) for v in os.environ.get(name, default).split()]


# --- prerequisites and build ------------------------------------------------------------------

def missing_programs(programs):
    """`programs`: (program, how to install it). Returns a line per program not found."""
    return [f"{program} is missing; install it with: {how}"
            for program, how in programs if shutil.which(program) is None]


def require(programs):
    """Exits with a list of what to install when any program is missing; installs nothing."""
    missing = missing_programs(programs)
    if missing:
        sys.exit("\n".join(["cannot run:"] + missing))


def build(log_path):
    """cmake --preset bench && cmake --build --preset bench, output into log_path."""
    require([("cmake", "apt-get install cmake"), ("c++", "apt-get install g++")])
    log(f"building the bench preset into {BUILD}")
    with open(log_path, "w") as out:
        for step in (["cmake", "--preset", "bench"], ["cmake", "--build", "--preset", "bench"]):
            if subprocess.run(step, cwd=REPO, stdout=out, stderr=subprocess.STDOUT,
                              timeout=900).returncode != 0:
                sys.exit(f"build failed, see {log_path}")


def require_build(names=("loadgen", "count")):
    paths = [UDPTRAIL] + [tool(n) for n in names]
    absent = [p for p in paths if not os.access(p, os.X_OK)]
    if absent:
        sys.exit(f"missing {', '.join(absent)}: cmake --preset bench && cmake --build --preset bench")


# --- /proc --------------------------------------------------------------------------------------

def cpu_ns(pid):
    """Processor time of every thread of a process so far, in nanoseconds (0 if it is gone)."""
    total = 0
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            try:
                with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                    total += int(f.read().split()[0])
            except OSError:
                pass  # a thread that ended meanwhile
    except OSError:
        pass
    return total


def status_kib(pid, field):
    """A kB field of /proc/PID/status, e.g. VmHWM (peak RSS) or VmRSS; 0 if unknown."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def udp_sockets(port):
    """The /proc/net/udp rows (split) of sockets bound to a local port."""
    suffix = f":{port:04X}"
    with open("/proc/net/udp") as f:
        return [row for row in (line.split() for line in list(f)[1:]) if row[1].endswith(suffix)]


def socket_drops(port):
    return sum(int(row[-1]) for row in udp_sockets(port))


def snmp_udp(field):
    """One counter of the Udp: lines of /proc/net/snmp (e.g. RcvbufErrors)."""
    with open("/proc/net/snmp") as f:
        rows = [line.split() for line in f if line.startswith("Udp:")]
    return int(rows[1][rows[0].index(field)])


def wait_until(test, seconds, step=0.1):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if test():
            return True
        time.sleep(step)
    return test()


# --- processes ----------------------------------------------------------------------------------

_started = []


def start(argv, folder, stdout=subprocess.DEVNULL):
    """Starts a process with standard input from /dev/null and standard error into folder/stderr;
    it is stopped at the latest when this script ends."""
    with open(os.path.join(folder, "stderr"), "ab") as err:
        proc = subprocess.Popen([str(a) for a in argv], stdin=subprocess.DEVNULL, stdout=stdout,
                                stderr=err)
    _started.append(proc)
    return proc


def stop(proc, grace=5.0):
    """SIGTERM, then SIGKILL after `grace` seconds; returns the exit code."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(grace)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if proc in _started:
        _started.remove(proc)
    return proc.returncode


def _stop_all():
    for proc in list(_started):
        stop(proc, 1.0)


atexit.register(_stop_all)
for _signal in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
    signal.signal(_signal, lambda number, frame: sys.exit(128 + number))


def key_values(text):
    """'a=1 b=2.5' -> {'a': 1.0, 'b': 2.5} (last line that has any)."""
    values = {}
    for word in text.split():
        key, _, value = word.partition("=")
        try:
            values[key] = float(value)
        except ValueError:
            pass
    return values


# --- load and counting --------------------------------------------------------------------------

def send(port, rate, seconds, tag, length=LINE_LENGTH, per_datagram=1, senders=1):
    """Sends rate*seconds numbered lines to 127.0.0.1:port; returns the generator's report."""
    argv = [tool("loadgen"), "--port", port, "--rate", rate, "--duration", seconds, "--run", tag,
            "--length", length, "--per-datagram", per_datagram, "--senders", senders]
    done = subprocess.run([str(a) for a in argv], capture_output=True, text=True,
                          timeout=seconds + 30)
    return key_values(done.stdout)


def count(paths, sent, tag, length=LINE_LENGTH):
    """bench_count over files or folders: delivered, lost, duplicated, out_of_order, damaged."""
    if not paths:
        return {"delivered": 0.0, "lost": float(sent), "records": 0.0}
    done = subprocess.run([tool("count"), "--expect", str(int(sent)), "--run", tag, "--length",
                           str(length)] + list(paths), capture_output=True, text=True, timeout=120)
    return key_values(done.stdout)


def new_files(folder, before):
    """Regular files in folder whose names are not in `before` (a set), sorted."""
    return sorted(os.path.join(folder, e.name) for e in os.scandir(folder)
                  if e.is_file() and e.name not in before)


def wait_drained(files, sent, tag, length=LINE_LENGTH, limit=10.0):
    """Counts until every line sent was written, or nothing new came for 0.75 s."""
    last, still, end = -1, 0, time.monotonic() + limit
    while True:
        report = count(files(), sent, tag, length)
        got = report.get("records", 0)
        if got >= sent or time.monotonic() > end:
            return report
        still = still + 1 if got == last else 0
        if still >= 3:
            return report
        last = got
        time.sleep(0.25)


# --- log folders ----------------------------------------------------------------------------------

def fill_folder(folder, others, young_logs):
    """`others` files whose names are no log file's, and `young_logs` udplog_*.log files named an
    hour and more ago but modified now (within any retention period, so they stay)."""
    os.makedirs(folder, exist_ok=True)
    for i in range(others):
        open(os.path.join(folder, f"trace_{i}.txt"), "w").close()
    base = datetime.datetime.now() - datetime.timedelta(hours=1)
    for i in range(young_logs):
        name = (base - datetime.timedelta(seconds=i)).strftime("udplog_%Y%m%d%H%M%S.log")
        with open(os.path.join(folder, name), "w") as f:
            f.write("x\n")
    return set(os.listdir(folder))


def machine_line():
    with open("/proc/loadavg") as f:
        load = " ".join(f.read().split()[:3])
    rmem = {n: open(f"/proc/sys/net/core/{n}").read().strip() for n in ("rmem_default", "rmem_max")}
    git = ["git", "-C", REPO, "log", "-1", "--format=%h"]
    commit = subprocess.run(git + ["--", "src", "include"], capture_output=True, text=True).stdout.strip()
    head = subprocess.run(git, capture_output=True, text=True).stdout.strip()
    return (f"{os.cpu_count()} cpus, kernel {os.uname().release}, rmem_default "
            f"{rmem['rmem_default']}, rmem_max {rmem['rmem_max']}, load {load}, udptrail src at {commit} (tree {head}), "
            f"{time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime())}")
