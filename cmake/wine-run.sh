#!/bin/sh
# Runs a 64-bit Windows program under Wine, headless, in the given prefix:
#   wine-run.sh WINE64 PREFIX PROGRAM.exe [ARGUMENT...]
# Used as the emulator of the cross builds' test programs.
wine64=$1
export WINEPREFIX=$2
export WINEDEBUG=-all
shift 2
mkdir -p "$WINEPREFIX"
wineserver=$(dirname "$wine64")/wineserver
[ -x "$wineserver" ] || wineserver=wineserver
# The first program after the Wine server starts also starts Wine's background services, which keep
# the standard streams they inherit open for as long as the server lives; a test runner waiting for
# its pipe to close would hang. So the server is started here, kept a minute after its last client,
# and the services come up with no stream of the caller's.
flock -o "$WINEPREFIX.lock" sh -c '
  if "$2" -p60 </dev/null >/dev/null 2>&1; then
    "$1" wineboot --init </dev/null >/dev/null 2>&1
  fi' sh "$wine64" "$wineserver"
exec "$wine64" "$@"
