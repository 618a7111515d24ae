#!/usr/bin/env bash
# Soak run: udptrail under a mixed load for N minutes, with its memory and processor use sampled
# over time, then every phase's lines counted in the log folder.
#
#   bench/soak.sh [MINUTES]        (default 5; needs the bench tools: cmake --preset bench && cmake --build --preset bench)
#
# The load cycles through steady traffic, short bursts far above what can be written, long lines,
# several lines per datagram and quiet spells. Everything goes to 127.0.0.1 only. Settings come
# from the environment: BUILD (default build-bench), PORT (47300), SAMPLE_SECONDS (5), OUT.
set -uo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(dirname "$HERE")
BUILD=${BUILD:-$REPO/build-bench}
MINUTES=${1:-5}
PORT=${PORT:-47300}
SAMPLE_SECONDS=${SAMPLE_SECONDS:-5}
OUT=${OUT:-$(mktemp -d /tmp/udptrail-soak.XXXXXX)}
LOGS=$OUT/logs
SAMPLES=$OUT/samples.csv
PHASES=$OUT/phases.csv
mkdir -p "$LOGS"

for tool in "$BUILD/udptrail" "$BUILD/bench/bench_loadgen" "$BUILD/bench/bench_count"; do
    [ -x "$tool" ] || { echo "missing $tool: build the bench preset first" >&2; exit 2; }
done

# Small log files so that rotation runs all the time; retention of one day.
# The console goes to a pipe that counts the queue-full warnings.
"$BUILD/udptrail" "$PORT" "$LOGS" 256 1 </dev/null 2>"$OUT/stderr.txt" \
    > >(grep -c 'QUEUE FULL' >"$OUT/queue_full.txt") &
SERVER=$!
trap 'kill -TERM $SERVER 2>/dev/null; kill $SAMPLER 2>/dev/null' EXIT
sleep 0.5
kill -0 $SERVER 2>/dev/null || { echo "udptrail did not start" >&2; exit 1; }

TICKS=$(getconf CLK_TCK)
sample() {
    local start=$SECONDS lastTicks=0 lastAt=$SECONDS
    echo "elapsed_s,rss_kib,hwm_kib,cpu_pct,log_files,log_mib" >"$SAMPLES"
    while kill -0 $SERVER 2>/dev/null; do
        local stat ticks rss hwm now files mib
        stat=$(cat /proc/$SERVER/stat 2>/dev/null) || break
        ticks=$(echo "$stat" | awk '{print $14 + $15}')
        rss=$(awk '/^VmRSS/ {print $2}' /proc/$SERVER/status)
        hwm=$(awk '/^VmHWM/ {print $2}' /proc/$SERVER/status)
        now=$SECONDS
        local cpu=0
        [ $now -gt $lastAt ] && cpu=$(( (ticks - lastTicks) * 100 / TICKS / (now - lastAt) ))
        files=$(find "$LOGS" -type f | wc -l)
        mib=$(du -sm "$LOGS" | cut -f1)
        echo "$((now - start)),$rss,$hwm,$cpu,$files,$mib" >>"$SAMPLES"
        lastTicks=$ticks
        lastAt=$now
        sleep "$SAMPLE_SECONDS"
    done
}
sample &
SAMPLER=$!

# name rate length per-datagram duration; "quiet" phases send nothing.
MIX=(
    "steady 10000 80 1 20"
    "burst 300000 80 1 2"
    "quiet 0 0 0 5"
    "long 2000 1000 1 10"
    "batched 20000 60 8 10"
    "burst 150000 120 4 3"
    "quiet 0 0 0 5"
)
echo "phase,tag,sent,delivered,lost,duplicated,out_of_order,damaged" >"$PHASES"
END=$((SECONDS + MINUTES * 60))
n=0
while [ $SECONDS -lt $END ]; do
    for entry in "${MIX[@]}"; do
        [ $SECONDS -ge $END ] && break
        read -r name rate length per duration <<<"$entry"
        if [ "$name" = quiet ]; then
            sleep "$duration"
            continue
        fi
        n=$((n + 1))
        tag=$(printf 's%04d' $n)
        sent=$("$BUILD/bench/bench_loadgen" --port "$PORT" --rate "$rate" --length "$length" \
            --per-datagram "$per" --duration "$duration" --run "$tag" | sed -n 's/^sent=\([0-9]*\).*/\1/p')
        echo "$name,$tag,$length,$sent" >>"$OUT/sent.txt"
    done
done

sleep 1
kill -TERM $SERVER
wait $SERVER
kill $SAMPLER 2>/dev/null
wait $SAMPLER 2>/dev/null
trap - EXIT

totalSent=0
totalDelivered=0
while IFS=, read -r name tag length sent; do
    result=$("$BUILD/bench/bench_count" --expect "$sent" --run "$tag" --length "$length" "$LOGS")
    get() { echo "$result" | sed -n "s/.*$1=\([0-9]*\).*/\1/p"; }
    echo "$name,$tag,$sent,$(get delivered),$(get lost),$(get duplicated),$(get out_of_order),$(get damaged)" >>"$PHASES"
    totalSent=$((totalSent + sent))
    totalDelivered=$((totalDelivered + $(get delivered)))
done <"$OUT/sent.txt"

echo "soak: $MINUTES min, results in $OUT"
echo "samples (every ${SAMPLE_SECONDS}s):"
column -t -s, "$SAMPLES"
echo
echo "phases:"
column -t -s, "$PHASES"
echo
echo "total: sent $totalSent, delivered $totalDelivered, lost $((totalSent - totalDelivered))"
sleep 0.5
echo "queue-full warnings on the console: $(cat "$OUT/queue_full.txt" 2>/dev/null)"
