#!/usr/bin/env bash
# End-to-end test of udptrail.exe under Wine, driven from Linux: datagrams go to 127.0.0.1 from
# bash, keys come through a pipe, and the log folder and the piped console output are checked.
#   wine_e2e_test.sh UDPTRAIL_EXE EMULATOR [EMULATOR_ARGUMENT...]
set -uo pipefail

exe=$1
shift
emulator=("$@")
work=$(mktemp -d "${TMPDIR:-/tmp}/udptrail-wine-e2e.XXXXXX")
server_pid=
failures=0

cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    exec 3>&- 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Polls until the command succeeds, for at most $1 seconds.
wait_for() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [ $SECONDS -ge $deadline ] && return 1
        sleep 0.1
    done
}

# Starts the server with its standard input on a fifo (descriptor 3 writes keys) and its standard
# output through a pipe into $work/out.txt.
start_server() {
    rm -f "$work/keys" "$work/out.txt" "$work/err.txt" "$work/rc.txt" "$work/pid.txt"
    mkfifo "$work/keys"
    (
        "${emulator[@]}" "$exe" "$@" <"$work/keys" 2>"$work/err.txt" &
        echo $! >"$work/pid.txt"
        wait $!
        echo $? >"$work/rc.txt"
    ) | cat >"$work/out.txt" &
    exec 3>"$work/keys"
    wait_for 10 test -s "$work/pid.txt"
    server_pid=$(cat "$work/pid.txt")
}

# Waits for the server to end; its exit code lands in $rc ("" if it had to be killed).
wait_server_end() {
    rc=
    if ! wait_for 60 test -s "$work/rc.txt"; then
        kill "$server_pid" 2>/dev/null
        return 1
    fi
    rc=$(cat "$work/rc.txt")
    server_pid=
    wait
}

console_text() { tr -d '\r' <"$work/out.txt"; }

# --- Without arguments: the usage text, nothing else, exit code 0 -------------------------------
start_server
exec 3>&-
wait_server_end || fail "udptrail.exe without arguments did not end"
[ "$rc" = 0 ] || fail "usage run ended with exit code '$rc', not 0"
console_text | grep -q '^Usage: udptrail Port <debugFolder: default: current folder>' ||
    fail "usage text missing: $(console_text)"
console_text | grep -q 'Press "q" to quit the progam!' || fail "usage text's last line missing"

# --- A run with a log folder, lines, retention 0, and q ------------------------------------------
logs="$work/logs"
mkdir -p "$logs/udplog_folder.log"
for name in udplog_old.log UDPLOG_CASE.LOG notes.txt; do
    echo stale >"$logs/$name"
    touch -d '40 days ago' "$logs/$name"
done
windows_logs="Z:${logs//\//\\}"

for attempt in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    start_server "$port" "$windows_logs" 2048 0
    wait_for 60 grep -q -e "Start listening port:$port" -e "can not bind" "$work/out.txt"
    grep -q "Start listening port:$port" "$work/out.txt" && break
    printf q >&3
    exec 3>&-
    wait_server_end
done
grep -q "Start listening port:$port" "$work/out.txt" || fail "server did not start: $(console_text)"

send() { printf "$1" >"/dev/udp/127.0.0.1/$port"; }
send '\xe2boot ok\n'
send 'Aalpha\nBbeta\n'
send 'Xone\nXtw'
send 'o\n'
send 'P100%% done %%s\n'
send 'Cwin\r\n'

log_records() { cat "$logs"/udplog_2*.log 2>/dev/null | tr -cd '\n' | wc -c; }
all_records_logged() { [ "$(log_records)" -ge 7 ]; }
wait_for 30 all_records_logged || fail "only $(log_records) records reached the log file"
sleep 0.5  # some idle passes with retention 0 while the log file is open
printf 'xQq' >&3
exec 3>&-
wait_server_end || fail "q through the pipe did not end the server"
[ "$rc" = 0 ] || fail "run ended with exit code '$rc', not 0"

# The log file: one, named after its first line, CR LF on disk, survived retention 0 while open.
shopt -s nullglob
files=("$logs"/udplog_2*.log)
if [ ${#files[@]} -ne 1 ]; then
    fail "expected one log file, found ${#files[@]}: $(ls -A "$logs")"
else
    log=${files[0]}
    name=$(basename "$log")
    [[ $name =~ ^udplog_[0-9]{8}([0-9]{6})\.log$ ]] || fail "log file name $name"
    first_prefix=$(head -c 6 "$log")
    [ "$first_prefix" = "${BASH_REMATCH[1]}" ] || fail "first record's time $first_prefix is not the name's"
    grep -qvE $'^[0-9]{6}: ' "$log" && fail "a record without its time prefix: $(od -c "$log")"
    sed -E 's/^[0-9]{6}: //' "$log" >"$work/texts"
    printf 'boot ok\r\nalpha\r\nbeta\r\none\r\ntwo\r\n100%% done %%s\r\nwin\r\r\n' >"$work/expected"
    cmp -s "$work/texts" "$work/expected" ||
        fail "log file texts differ: $(od -c "$work/texts")"
fi

# Retention 0 removed the closed log files, whatever the case of their names, and nothing else.
[ -e "$logs/udplog_old.log" ] && fail "udplog_old.log was not deleted"
[ -e "$logs/UDPLOG_CASE.LOG" ] && fail "UDPLOG_CASE.LOG was not deleted"
[ -e "$logs/notes.txt" ] || fail "notes.txt was deleted"
[ -d "$logs/udplog_folder.log" ] || fail "the folder udplog_folder.log was deleted"

# The console output through the pipe: banner, the lines in order, the closing lines, no colour.
console_text >"$work/console"
grep -qF $'\tLog folder: '"$windows_logs" "$work/console" || fail "banner lacks the log folder"
grep -qF $'\tRetention period: 0 days' "$work/console" || fail "banner lacks the retention"
grep -qF ' The program terminate!!! ' "$work/console" || fail "closing line missing"
grep -q $'\x1b' "$work/out.txt" && fail "escape sequences written to a pipe"
grep -E '^[0-9]{6}: ' "$work/console" | sed -E 's/^[0-9]{6}: //' >"$work/shown"
printf 'boot ok\nalpha\nbeta\none\ntwo\n100%% done %%s\nwin\n' >"$work/expected_shown"
cmp -s "$work/shown" "$work/expected_shown" || fail "console lines differ: $(cat "$work/console")"
# Standard error holds the statistics line of the way out, and nothing else.
grep -q '^udptrail stats: received=8 .* logged=7 ' "$work/err.txt" ||
    fail "no statistics line on standard error: $(cat "$work/err.txt")"
grep -v '^udptrail stats: ' "$work/err.txt" | grep -q . &&
    fail "unexpected standard error: $(cat "$work/err.txt")"

# --- An interrupt (Ctrl+C for the program) ends the run the orderly way, like q -------------------
logs2="$work/logs2"
mkdir -p "$logs2"
cd "$logs2" || exit 1
for attempt in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    start_server "$port"  # the current folder is the log folder
    wait_for 60 grep -q -e "Start listening port:$port" -e "can not bind" "$work/out.txt"
    grep -q "Start listening port:$port" "$work/out.txt" && break
    exec 3>&-
    wait_server_end
done
cd "$work" || exit 1
send '\xe9before the interrupt\n'
interrupt_logged() { grep -qs 'before the interrupt' "$logs2"/udplog_2*.log; }
wait_for 30 interrupt_logged || fail "the line before the interrupt was not logged"
kill -INT "$server_pid"
wait_server_end || fail "an interrupt did not end the server"
exec 3>&-
[ "$rc" = 0 ] || fail "interrupted run ended with exit code '$rc', not 0"
console_text | grep -qF ' The program terminate!!! ' || fail "no closing lines after an interrupt"

if [ $failures -eq 0 ]; then
    echo "udptrail.exe under Wine: usage, lines, CR LF log file, retention, piped console and interrupt all good"
fi
exit $((failures > 0))
