#!/usr/bin/env bash
# Builds the Debian package, installs it, checks what it installed (programs, manual, header,
# copyright, service unit, sysctl setting, a headless run fed by udptrail-send, two service
# instances side by side), then removes it again. Needs root.
# A udptrail package already installed on this machine is replaced, and removed at the end; the
# receive-buffer limit the package's postinst applies is put back as it was.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build_dir=${UDPTRAIL_PACKAGE_BUILD_DIR:-$source_dir/build-package}
work=$(mktemp -d "${TMPDIR:-/tmp}/udptrail-package.XXXXXX")
server_pid=
instance_pids=()
installed=
rmem_max_before=$(cat /proc/sys/net/core/rmem_max 2>/dev/null || true)

say() { printf '== %s\n' "$*"; }
fail() { printf 'package check FAILED: %s\n' "$*" >&2; exit 1; }

cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  for pid in "${instance_pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  if [ -n "$installed" ]; then dpkg -r udptrail >/dev/null 2>&1 || true; fi
  if [ -n "$rmem_max_before" ] && [ "$(cat /proc/sys/net/core/rmem_max 2>/dev/null)" != "$rmem_max_before" ]; then
    echo "$rmem_max_before" >/proc/sys/net/core/rmem_max 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# What a fresh Debian 12 machine lacks for building and checking the package.
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v cc >/dev/null || missing+=(gcc)
command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)   # the package's real dependencies
command -v file >/dev/null || missing+=(file)                 # cpack needs it to find binaries
command -v gzip >/dev/null || missing+=(gzip)
[ -f /usr/include/pcre2.h ] || missing+=(libpcre2-dev)              # the console's patterns
command -v pkg-config >/dev/null || missing+=(pkg-config)
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

say "building the package in $build_dir"
cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DUDPTRAIL_TESTS=OFF \
  -DUDPTRAIL_WERROR=ON >/dev/null
cmake --build "$build_dir" -j2 >/dev/null
rm -f "$build_dir"/udptrail_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
deb=$(ls "$build_dir"/udptrail_*.deb)
version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
say "$(basename "$deb"): Depends: $depends"
case "$depends" in *libc6*) ;; *) fail "the package names no dependency on libc6" ;; esac
maintainer=$(dpkg-deb -f "$deb" Maintainer)
say "Maintainer: $maintainer"
case "$maintainer" in *localhost*|'') fail "the package names no real maintainer" ;; esac

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/udptrail ./usr/bin/udptrail-send ./usr/include/udptrail_client.h \
    ./usr/share/man/man1/udptrail.1.gz ./usr/share/man/man1/udptrail-send.1.gz \
    ./usr/share/doc/udptrail/ ./usr/share/doc/udptrail/copyright \
    ./usr/lib/systemd/system/udptrail@.service ./usr/lib/sysctl.d/60-udptrail.conf \
    ./etc/lnav/formats/installed/udptrail_log.json; do
  grep -q " $path\$" <<<"$contents" || grep -q " $path " <<<"$contents" || fail "$path is not in the package"
done

say "installing it"
installed=yes
dpkg -i "$deb" >/dev/null

say "the copyright file, in the machine-readable format"
copyright=/usr/share/doc/udptrail/copyright
[ "$(head -n 1 "$copyright")" = \
  'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ] || fail "$copyright: no Format line"
grep -qx 'License: MIT' "$copyright" || fail "$copyright names no MIT licence"
grep -q '^Copyright: 2026 the udptrail developers$' "$copyright" || fail "$copyright names no copyright holder"

say "the receive-buffer limit in /usr/lib/sysctl.d/60-udptrail.conf"
grep -qx 'net.core.rmem_max = 4194304' /usr/lib/sysctl.d/60-udptrail.conf || fail "the sysctl file does not raise net.core.rmem_max"
if [ -w /proc/sys/net/core/rmem_max ]; then
  [ "$(cat /proc/sys/net/core/rmem_max)" -ge 4194304 ] || fail "postinst did not apply the sysctl file"
else
  say "skipped: /proc/sys/net/core/rmem_max cannot be written here"
fi

if command -v lnav >/dev/null; then
  say "lnav reads a --time=iso log file with the installed format"
  mkdir "$work/home"
  printf '2026-12-09T19:31:03.211+01:00 192.0.2.7:5000 <11>disk failed\n' >"$work/udplog_20261209193103.log"
  table=$(HOME="$work/home" timeout 60 lnav -n -c ';SELECT log_level, sender FROM udptrail_log' \
    "$work/udplog_20261209193103.log" 2>&1)
  grep -q 'error *192\.0\.2\.7:5000' <<<"$table" || fail "lnav did not read the log file: $table"
else
  say "lnav is not installed: the lnav format is not checked here"
fi

say "udptrail --version and the usage text"
version_text=$(/usr/bin/udptrail --version </dev/null)
[ "$(head -n 1 <<<"$version_text")" = "udptrail $version" ] || fail "udptrail --version: $version_text"
grep -q 'MIT' <<<"$version_text" || fail "udptrail --version names no licence: $version_text"
set +e
usage=$(/usr/bin/udptrail </dev/null); status=$?
set -e
[ "$status" -eq 0 ] || fail "udptrail without arguments ended with $status"
grep -q '^Usage: udptrail Port ' <<<"$usage" || fail "no usage text: $usage"
[ "$(/usr/bin/udptrail-send --version)" = "udptrail-send $version" ] || fail "udptrail-send --version"
/usr/bin/udptrail-send -h | grep -q '^Usage: udptrail-send ' || fail "udptrail-send -h"

if command -v man >/dev/null; then
  say "man -w udptrail"
  page=$(man -w udptrail 2>/dev/null) || page=
  if [ -z "$page" ] && grep -qs 'path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
    say "skipped: dpkg on this machine excludes manual pages"
  else
    [ "$page" = /usr/share/man/man1/udptrail.1.gz ] || fail "man -w udptrail gave '$page'"
    man -w udptrail-send >/dev/null || fail "man -w udptrail-send"
    MANPAGER=cat MANWIDTH=80 man udptrail 2>/dev/null | grep -q 'COLOUR MARKERS' || fail "man udptrail does not render"
  fi
else
  say "man-db is not installed: manual page lookup not checked"
fi

unit=/usr/lib/systemd/system/udptrail@.service
if command -v systemd-analyze >/dev/null; then
  say "systemd-analyze verify $unit"
  # Its Documentation= links are looked up with man, which a minimal machine may lack.
  man_check=()
  command -v man >/dev/null || man_check=(--man=no)
  systemd-analyze verify "${man_check[@]}" "$unit" || fail "systemd-analyze verify"
  # The sandbox's rating, for the record (the offline mode came with systemd 250).
  systemd-analyze security --offline=true "$unit" 2>/dev/null | tail -n 1 || true
else
  say "systemd-analyze is not available: checking the unit's content"
fi
for line in 'ExecStart=/usr/bin/udptrail $UDPTRAIL_OPTIONS %i /var/log/udptrail/%i $UDPTRAIL_LIMITS' \
    'WorkingDirectory=/var/log/udptrail/%i' 'LogsDirectory=udptrail/%i' 'StandardInput=null' \
    '[Service]' '[Install]'; do
  grep -qxF "$line" "$unit" || fail "the unit lacks '$line'"
done
if ls /etc/systemd/system/*.wants/udptrail@* >/dev/null 2>&1; then fail "the unit was enabled"; fi

say "a program built against the installed header, as strict C99"
cc -std=c99 -pedantic -Wall -Wextra -Werror -o "$work/client_example" "$source_dir/tools/tests/client_example.c"

say "a headless server (standard input /dev/null) fed by udptrail-send and the header"
port_bound() { grep -q "^ *[0-9]*: [0-9A-F]*:$(printf '%04X' "$1") " /proc/net/udp; }
port=
for candidate in $(shuf -i 20000-60000 -n 20); do
  if ! port_bound "$candidate"; then port=$candidate; break; fi
done
[ -n "$port" ] || fail "no free UDP port found"
mkdir "$work/logs"
/usr/bin/udptrail "$port" "$work/logs" </dev/null >"$work/console" 2>&1 &
server_pid=$!
for _ in $(seq 300); do port_bound "$port" && break; sleep 0.1; done
port_bound "$port" || fail "the server did not bind port $port: $(cat "$work/console")"
/usr/bin/udptrail-send -c green "127.0.0.1:$port" 'sent from the shell'
"$work/client_example" 127.0.0.1 "$port" 'sent from C'
for _ in $(seq 300); do
  [ "$(cat "$work"/logs/udplog_*.log 2>/dev/null | wc -l)" -ge 2 ] && break
  sleep 0.1
done
kill -TERM "$server_pid"
set +e
wait "$server_pid"; status=$?
set -e
server_pid=
[ "$status" -eq 0 ] || fail "the server ended with $status after SIGTERM"
records=$(cat "$work"/logs/udplog_*.log 2>/dev/null || true)
grep -qx '[0-9]\{6\}: sent from the shell' <<<"$records" || fail "shell line not logged: $records"
grep -qx '[0-9]\{6\}: line 1: sent from C' <<<"$records" || fail "C line not logged: $records"

# Two instances as the unit starts them (its ExecStart and WorkingDirectory, %i the port; no
# running systemd is needed): instance A keeps no log file older than 0 days, and its clean-up
# must not reach instance B's folder.
say "two service instances keep separate folders"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
start_instance() {  # PORT LIMITS
  local folder=/var/log/udptrail/$1 command
  mkdir -p "$folder"
  command=${exec_start//%i/$1}
  command=${command//\$UDPTRAIL_OPTIONS/}
  command=${command//\$UDPTRAIL_LIMITS/$2}
  (cd "$folder" && exec $command </dev/null >>"$work/instances" 2>&1) &
  instance_pids+=($!)
}
ports=()
for candidate in $(shuf -i 20000-60000 -n 40); do
  if ! port_bound "$candidate"; then ports+=("$candidate"); fi
  [ ${#ports[@]} -ge 2 ] && break
done
[ ${#ports[@]} -ge 2 ] || fail "no two free UDP ports found"
port_a=${ports[0]} port_b=${ports[1]}
for p in "$port_a" "$port_b"; do
  [ ! -e "/var/log/udptrail/$p" ] || fail "/var/log/udptrail/$p exists already"
done
mkdir -p "/var/log/udptrail/$port_b"
touch -d '3 days ago' "/var/log/udptrail/$port_b/udplog_20000101000000.log" \
  "/var/log/udptrail/$port_b/udplog_20000101000001.log"
start_instance "$port_b" '2048 30'
start_instance "$port_a" '2048 0'
for p in "$port_a" "$port_b"; do
  for _ in $(seq 300); do port_bound "$p" && break; sleep 0.1; done
  port_bound "$p" || fail "instance $p did not bind: $(cat "$work/instances")"
done
/usr/bin/udptrail-send "127.0.0.1:$port_b" 'to instance B'
/usr/bin/udptrail-send "127.0.0.1:$port_a" 'to instance A, first file'
for _ in $(seq 300); do
  [ "$(cat "/var/log/udptrail/$port_a"/udplog_*.log 2>/dev/null | wc -l)" -ge 1 ] && break; sleep 0.1
done
# An old file planted in A's folder now and deleted soon after shows that A's clean-up ran.
touch -d '3 days ago' "/var/log/udptrail/$port_a/udplog_20000101000002.log"
for _ in $(seq 300); do
  [ ! -e "/var/log/udptrail/$port_a/udplog_20000101000002.log" ] && break; sleep 0.1
done
[ ! -e "/var/log/udptrail/$port_a/udplog_20000101000002.log" ] || fail "instance A's clean-up did not run"
for old in udplog_20000101000000.log udplog_20000101000001.log; do
  [ -e "/var/log/udptrail/$port_b/$old" ] || fail "instance A's retention deleted $old of instance B"
done
grep -qx '[0-9]\{6\}: to instance B' "/var/log/udptrail/$port_b"/udplog_20[1-9]*.log || fail "instance B did not log its line"
grep -qx '[0-9]\{6\}: to instance A, first file' "/var/log/udptrail/$port_a"/udplog_20[1-9]*.log || fail "instance A did not log its line"
! grep -qs 'to instance B' "/var/log/udptrail/$port_a"/udplog_*.log || fail "instance B's line went into A's folder"
for pid in "${instance_pids[@]}"; do kill -TERM "$pid"; wait "$pid" || fail "an instance ended badly after SIGTERM"; done
instance_pids=()
rm -rf "/var/log/udptrail/$port_a" "/var/log/udptrail/$port_b"
rmdir /var/log/udptrail 2>/dev/null || true

say "removing it"
dpkg -r udptrail >/dev/null
installed=
[ ! -e /usr/bin/udptrail ] || fail "/usr/bin/udptrail is still there after dpkg -r"
say "package checks passed"
