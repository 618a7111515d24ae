#!/usr/bin/env bash
# Idle cost of udptrail's log folder upkeep: processor use, in % of one core, while no data comes
# in, with a log folder that is empty, holds ~1000 files whose names do not match the log files'
# pattern, or holds ~100 young log files (kept, but looked at on every pass).
#
#   bench/idle_folder.sh [SECONDS]      (default 30 per case; BUILD defaults to build-bench)
set -uo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(dirname "$HERE")
BUILD=${BUILD:-$REPO/build-bench}
SECONDS_PER_CASE=${1:-30}
PORT=${PORT:-47400}
UDPTRAIL=$BUILD/udptrail
[ -x "$UDPTRAIL" ] || { echo "missing $UDPTRAIL: build the bench preset first" >&2; exit 2; }

# Nanoseconds on a processor so far, summed over the process's threads.
cpu_ns() {
    cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%d\n", s}'
}

measure() {
    local name=$1 folder=$2
    "$UDPTRAIL" "$PORT" "$folder" </dev/null >/dev/null 2>&1 &
    local pid=$!
    sleep 1  # start-up is not idle time
    local before after
    before=$(cpu_ns $pid)
    sleep "$SECONDS_PER_CASE"
    after=$(cpu_ns $pid)
    kill -TERM $pid
    wait $pid 2>/dev/null
    awk -v n="$name" -v d=$((after - before)) -v s="$SECONDS_PER_CASE" \
        'BEGIN {printf "%-34s %6.3f %% of one core\n", n, d / (s * 1e9) * 100}'
}

WORK=$(mktemp -d /tmp/udptrail-idle.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

mkdir "$WORK/empty" "$WORK/other" "$WORK/logs"
for i in $(seq 1 1000); do : >"$WORK/other/trace_$i.txt"; done
# Young log files: within the retention period, so they stay; named as the server names them.
for i in $(seq 1 100); do
    printf 'x\n' >"$WORK/logs/$(date -d "-$i hours" +udplog_%Y%m%d%H%M%S.log)"
done

measure "empty folder" "$WORK/empty"
measure "1000 non-matching files" "$WORK/other"
measure "100 matching (young) log files" "$WORK/logs"
