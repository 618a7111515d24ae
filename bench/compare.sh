#!/usr/bin/env bash
# Runs udptrail, a bare recvmmsg reader, rsyslog and socat side by side on loopback, interleaved,
# and prints one comparison table: delivery, kernel drops, CPU, memory, latency and idle cost.
#
# Everything is sent to 127.0.0.1 only; every run is bounded in count and time. Settings come from
# the environment (defaults below); the whole default run takes about 8 minutes. LATENCY_SECONDS=0
# or IDLE_SECONDS=0 skips that phase.
set -uo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(dirname "$HERE")
BUILD=${BUILD:-$REPO/build-bench}
RATES=${RATES:-"10000 20000 50000 80000 120000 160000 200000 250000"}
RUNS=${RUNS:-3}                    # runs per receiver and rate; a rate is lossless if all are
RUN_SECONDS=${RUN_SECONDS:-2}
LENGTH=${LENGTH:-80}               # bytes per line, marker and line feed included
PER_DATAGRAM=${PER_DATAGRAM:-1}
LATENCY_RATE=${LATENCY_RATE:-10000}
LATENCY_SECONDS=${LATENCY_SECONDS:-3}
IDLE_SECONDS=${IDLE_SECONDS:-30}
RECEIVERS=${RECEIVERS:-"udptrail bare rsyslog socat udptrail-tty"}
PORT_BASE=${PORT_BASE:-47100}
PTY_THROTTLE_KBPS=${PTY_THROTTLE_KBPS:-0}  # how fast the terminal of udptrail-tty reads; 0: at once
SKIP_BUILD=${SKIP_BUILD:-0}
OUT=${OUT:-$(mktemp -d /tmp/udptrail-compare.XXXXXX)}

UDPTRAIL=$BUILD/udptrail
UDPTRAIL_BASE=${UDPTRAIL_BASE:-}
TOOLS=$BUILD/bench
CSV=$OUT/results.csv
STARTED_PIDS=()

log() { printf '%s %s\n' "$(date +%H:%M:%S)" "$*" >&2; }

# --- set-up ---------------------------------------------------------------------------------

ensure_packages() {
    local missing=()
    [ -x /usr/sbin/rsyslogd ] || missing+=(rsyslog)
    command -v socat >/dev/null || missing+=(socat)
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]} from Debian's packages"
    # The package must not start the machine's own syslog service: a policy-rc.d that refuses
    # every service start, only for the length of this install.
    local madePolicy=0
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
        chmod 755 /usr/sbin/policy-rc.d
        madePolicy=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
        >"$OUT/apt.log" 2>&1 ||
        { apt-get update -qq >>"$OUT/apt.log" 2>&1 &&
          DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
              "${missing[@]}" >>"$OUT/apt.log" 2>&1; }
    local rc=$?
    [ $madePolicy -eq 1 ] && rm -f /usr/sbin/policy-rc.d
    [ $rc -eq 0 ] || { log "apt-get failed, see $OUT/apt.log"; exit 1; }
}

build() {
    [ "$SKIP_BUILD" = 1 ] && return 0
    log "building (Release, benchmarks on) in $BUILD"
    cmake -S "$REPO" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DUDPTRAIL_BENCH=ON \
        -DUDPTRAIL_TESTS=OFF >"$OUT/build.log" 2>&1 &&
        cmake --build "$BUILD" -j2 >>"$OUT/build.log" 2>&1 ||
        { log "build failed, see $OUT/build.log"; exit 1; }
}

cleanup() {
    local pid
    for pid in "${STARTED_PIDS[@]}"; do
        kill -0 "$pid" 2>/dev/null && kill -TERM "$pid" 2>/dev/null
    done
    sleep 0.2
    for pid in "${STARTED_PIDS[@]}"; do
        kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
    done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- measuring one process ------------------------------------------------------------------

cpu_ns() {  # CPU time of every thread of a process, in nanoseconds
    cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%d", s }'
}

peak_rss_kb() { awk '/^VmHWM:/ { print $2 }' /proc/"$1"/status 2>/dev/null; }

port_hex() { printf '%04X' "$1"; }

socket_drops() {  # datagrams the kernel dropped on the sockets bound to a port
    awk -v p=":$(port_hex "$1")" 'NR > 1 && substr($2, length($2) - 4) == p { s += $NF }
        END { printf "%d", s }' /proc/net/udp
}

snmp_udp() {  # one counter of the Udp: line of /proc/net/snmp
    awk -v f="$1" '$1 == "Udp:" { if (!n) { for (i = 2; i <= NF; i++) c[$i] = i; n = 1 }
        else print $c[f] }' /proc/net/snmp
}

wait_port() {  # until something listens on the port, at most 10 s
    local hex i
    hex=$(port_hex "$1")
    for i in $(seq 100); do
        awk -v p=":$hex" 'NR > 1 && substr($2, length($2) - 4) == p { f = 1 } END { exit !f }' \
            /proc/net/udp && return 0
        sleep 0.1
    done
    return 1
}

# --- receivers --------------------------------------------------------------------------------
# start_receiver NAME PORT DIR: output goes into DIR/out; sets RPID (the process to stop) and
# MPID (the process to measure).

start_receiver() {
    local name=$1 port=$2 dir=$3
    mkdir -p "$dir/out"
    case $name in
    udptrail)
        "$UDPTRAIL" "$port" "$dir/out" </dev/null >/dev/null 2>"$dir/stderr" &
        RPID=$!
        MPID=$RPID
        ;;
    udptrail-base)  # an earlier build, for before/after comparisons (UDPTRAIL_BASE)
        "$UDPTRAIL_BASE" "$port" "$dir/out" </dev/null >/dev/null 2>"$dir/stderr" &
        RPID=$!
        MPID=$RPID
        ;;
    udptrail-tty | udptrail-base-tty)
        local binary=$UDPTRAIL
        [ "$name" = udptrail-base-tty ] && binary=$UDPTRAIL_BASE
        "$TOOLS/bench_pty_run" --throttle-kbps "$PTY_THROTTLE_KBPS" --pidfile "$dir/pid" \
            -- "$binary" "$port" "$dir/out" \
            </dev/null >/dev/null 2>"$dir/stderr" &
        RPID=$!
        ;;
    bare)
        "$TOOLS/bench_bare_reader" --port "$port" --out "$dir/out/bare.log" 2>"$dir/stderr" &
        RPID=$!
        MPID=$RPID
        ;;
    rsyslog)
        # An unprivileged foreground instance with its own configuration and work folder; the
        # template keeps each datagram as it came.
        mkdir -p "$dir/work"
        chown nobody:nogroup "$dir/out" "$dir/work"
        chmod 755 "$dir"
        cat >"$dir/rsyslog.conf" <<EOF
global(workDirectory="$dir/work")
module(load="imudp")
template(name="raw" type="string" string="%rawmsg%\n")
input(type="imudp" address="127.0.0.1" port="$port" ruleset="bench")
ruleset(name="bench") { action(type="omfile" file="$dir/out/rsyslog.log" template="raw") }
EOF
        setpriv --reuid=nobody --regid=nogroup --clear-groups /usr/sbin/rsyslogd -n \
            -f "$dir/rsyslog.conf" -i "$dir/work/rsyslog.pid" >"$dir/stderr" 2>&1 &
        RPID=$!
        MPID=$RPID
        ;;
    socat)
        socat -u "UDP4-RECV:$port,bind=127.0.0.1" "OPEN:$dir/out/socat.log,creat,append" \
            2>"$dir/stderr" &
        RPID=$!
        MPID=$RPID
        ;;
    *)
        log "unknown receiver $name"
        exit 2
        ;;
    esac
    STARTED_PIDS+=("$RPID")
    if ! wait_port "$port"; then
        log "$name did not bind port $port; see $dir/stderr"
        return 1
    fi
    if [ "$name" = udptrail-tty ] || [ "$name" = udptrail-base-tty ]; then
        MPID=$(cat "$dir/pid")
    fi
    return 0
}

stop_receiver() {
    local pid=$1 i
    kill -TERM "$pid" 2>/dev/null
    for i in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

count_field() { sed -n "s/.*\b$1=\([0-9.]*\).*/\1/p"; }

# Waits until the receiver has written every line sent, or nothing new came for 0.75 s (10 s at
# most); prints the counter's last report.
wait_drained() {
    local dir=$1 run=$2 sent=$3 last=-1 still=0 i report delivered
    for i in $(seq 40); do
        report=$("$TOOLS/bench_count" --expect "$sent" --run "$run" --length "$LENGTH" "$dir/out")
        delivered=$(echo "$report" | count_field records)
        [ "$delivered" -ge "$sent" ] && break
        if [ "$delivered" = "$last" ]; then
            still=$((still + 1))
            [ $still -ge 3 ] && break
        else
            still=0
        fi
        last=$delivered
        sleep 0.25
    done
    echo "$report"
}

# --- phases -----------------------------------------------------------------------------------

measure_rate() {  # one receiver, one rate, one run: a row of results.csv
    local name=$1 rate=$2 run=$3 port=$4
    local dir=$OUT/runs/$name-$rate-$run tag="r${rate}n$run"
    mkdir -p "$dir"
    start_receiver "$name" "$port" "$dir" || { stop_receiver "$RPID"; return; }
    local snmpBuf0 snmpErr0 cpu0 cpu1 gen sent achieved report drops
    snmpBuf0=$(snmp_udp RcvbufErrors)
    snmpErr0=$(snmp_udp InErrors)
    cpu0=$(cpu_ns "$MPID")
    gen=$("$TOOLS/bench_loadgen" --port "$port" --rate "$rate" --length "$LENGTH" \
        --per-datagram "$PER_DATAGRAM" --duration "$RUN_SECONDS" --run "$tag")
    sent=$(echo "$gen" | count_field sent)
    achieved=$(echo "$gen" | count_field achieved_rate)
    report=$(wait_drained "$dir" "$tag" "$sent")
    cpu1=$(cpu_ns "$MPID")
    drops=$(socket_drops "$port")
    local rss
    rss=$(peak_rss_kb "$MPID")
    echo "rate,$name,$rate,$run,$sent,$achieved,$(echo "$report" | count_field delivered)," \
        "$(echo "$report" | count_field lost),$(echo "$report" | count_field duplicated)," \
        "$(echo "$report" | count_field out_of_order),$(echo "$report" | count_field damaged)," \
        "$drops,$(($(snmp_udp RcvbufErrors) - snmpBuf0)),$(($(snmp_udp InErrors) - snmpErr0))," \
        "$((cpu1 - cpu0)),$rss" | tr -d ' ' >>"$CSV"
    stop_receiver "$RPID"
    rm -rf "$dir/out"  # the logs are counted; keep the disk small
}

measure_latency() {  # one receiver at LATENCY_RATE: p50 / p99 from datagram to record on disk
    local name=$1 port=$2
    local dir=$OUT/runs/$name-latency tag=lat
    local expect=$((LATENCY_RATE * LATENCY_SECONDS))
    mkdir -p "$dir"
    start_receiver "$name" "$port" "$dir" || { stop_receiver "$RPID"; return; }
    "$TOOLS/bench_latency" --dir "$dir/out" --run "$tag" --expect "$expect" --quiet-ms 2000 \
        --limit-s $((LATENCY_SECONDS + 30)) >"$dir/latency.txt" &
    local watcher=$! i
    STARTED_PIDS+=("$watcher")
    for i in $(seq 50); do
        grep -q ready "$dir/latency.txt" && break
        sleep 0.1
    done
    "$TOOLS/bench_loadgen" --port "$port" --rate "$LATENCY_RATE" --length "$LENGTH" \
        --duration "$LATENCY_SECONDS" --run "$tag" >/dev/null
    wait "$watcher"
    local line
    line=$(tail -1 "$dir/latency.txt")
    echo "latency,$name,$LATENCY_RATE,1,$(echo "$line" | count_field samples)," \
        "$(echo "$line" | count_field p50_us),$(echo "$line" | count_field p99_us)," \
        "$(echo "$line" | count_field max_us)" | tr -d ' ' >>"$CSV"
    stop_receiver "$RPID"
}

measure_idle() {  # all receivers at once, nothing sent, IDLE_SECONDS long
    local names=($RECEIVERS) rpids=() mpids=() cpu0=() i port
    for i in "${!names[@]}"; do
        port=$((PORT_BASE + 50 + i))
        start_receiver "${names[$i]}" "$port" "$OUT/runs/${names[$i]}-idle" || continue
        rpids[$i]=$RPID
        mpids[$i]=$MPID
    done
    sleep 2  # let start-up work finish
    for i in "${!mpids[@]}"; do cpu0[$i]=$(cpu_ns "${mpids[$i]}"); done
    sleep "$IDLE_SECONDS"
    for i in "${!mpids[@]}"; do
        echo "idle,${names[$i]},0,1,$IDLE_SECONDS,$(($(cpu_ns "${mpids[$i]}") - cpu0[$i]))," \
            "$(peak_rss_kb "${mpids[$i]}")" | tr -d ' ' >>"$CSV"
    done
    for i in "${!rpids[@]}"; do stop_receiver "${rpids[$i]}"; done
}

# --- main -------------------------------------------------------------------------------------

mkdir -p "$OUT/runs"
ensure_packages
build
[ -x "$TOOLS/bench_loadgen" ] || { log "missing bench tools in $BUILD"; exit 1; }
case " $RECEIVERS " in *" udptrail"*) [ -x "$UDPTRAIL" ] || { log "missing $UDPTRAIL"; exit 1; } ;; esac
{
    echo "# machine: $(lscpu | sed -n 's/^Model name: *//p') x$(nproc), kernel $(uname -r)," \
        "rmem_default $(cat /proc/sys/net/core/rmem_default), rmem_max $(cat /proc/sys/net/core/rmem_max)"
    echo "# date: $(date -u +%Y-%m-%dT%H:%M:%SZ) load: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "# settings: rates=[$RATES] runs=$RUNS seconds=$RUN_SECONDS length=$LENGTH" \
        "per_datagram=$PER_DATAGRAM latency_rate=$LATENCY_RATE idle_seconds=$IDLE_SECONDS"
    echo "# versions: udptrail $(git -C "$REPO" rev-parse --short HEAD 2>/dev/null)," \
        "rsyslog $(dpkg-query -W -f='${Version}' rsyslog), socat $(dpkg-query -W -f='${Version}' socat)"
    echo "phase,receiver,rate,run,sent,achieved,delivered,lost,duplicated,out_of_order,damaged,sock_drops,snmp_rcvbuf,snmp_inerrors,cpu_ns,peak_rss_kb"
} >"$CSV"
log "results in $OUT"

names=($RECEIVERS)
for rate in $RATES; do
    for run in $(seq "$RUNS"); do
        for i in "${!names[@]}"; do  # interleaved: every receiver once before the next run
            log "rate $rate run $run ${names[$i]}"
            measure_rate "${names[$i]}" "$rate" "$run" $((PORT_BASE + i))
        done
    done
done
if [ "$LATENCY_SECONDS" -gt 0 ]; then
    for i in "${!names[@]}"; do
        log "latency ${names[$i]}"
        measure_latency "${names[$i]}" $((PORT_BASE + 20 + i))
    done
fi
if [ "$IDLE_SECONDS" -gt 0 ]; then
    log "idle, $IDLE_SECONDS s"
    measure_idle
fi
python3 "$HERE/report.py" "$CSV" | tee "$OUT/report.md"
log "raw results: $CSV"
