#!/usr/bin/env bash
# Builds the Debian package, installs it, checks what it installed (programs, manual, header,
# service unit, a headless run fed by udptrail-send), then removes it again. Needs root.
# A udptrail package already installed on this machine is replaced, and removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build_dir=${UDPTRAIL_PACKAGE_BUILD_DIR:-$source_dir/build-package}
work=$(mktemp -d "${TMPDIR:-/tmp}/udptrail-package.XXXXXX")
server_pid=
installed=

say() { printf '== %s\n' "$*"; }
fail() { printf 'package check FAILED: %s\n' "$*" >&2; exit 1; }

cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  if [ -n "$installed" ]; then dpkg -r udptrail >/dev/null 2>&1 || true; fi
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

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/udptrail ./usr/bin/udptrail-send ./usr/include/udptrail_client.h \
    ./usr/share/man/man1/udptrail.1.gz ./usr/share/man/man1/udptrail-send.1.gz \
    ./usr/share/doc/udptrail/ ./usr/lib/systemd/system/udptrail@.service; do
  grep -q " $path\$" <<<"$contents" || grep -q " $path " <<<"$contents" || fail "$path is not in the package"
done

say "installing it"
installed=yes
dpkg -i "$deb" >/dev/null

say "udptrail --version and the usage text"
[ "$(/usr/bin/udptrail --version </dev/null)" = "udptrail $version" ] || fail "udptrail --version"
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
else
  say "systemd-analyze is not available: checking the unit's content"
  for line in 'ExecStart=/usr/bin/udptrail %i /var/log/udptrail $UDPTRAIL_LIMITS' \
      'StandardInput=null' 'LogsDirectory=udptrail' '[Service]' '[Install]'; do
    grep -qxF "$line" "$unit" || fail "the unit lacks '$line'"
  done
fi
if ls /etc/systemd/system/*.wants/udptrail@* >/dev/null 2>&1; then fail "the unit was enabled"; fi

say "a program built against the installed header"
cc -Wall -Wextra -Werror -o "$work/client_example" "$source_dir/tools/tests/client_example.c"

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

say "removing it"
dpkg -r udptrail >/dev/null
installed=
[ ! -e /usr/bin/udptrail ] || fail "/usr/bin/udptrail is still there after dpkg -r"
say "package checks passed"
