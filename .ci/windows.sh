#!/usr/bin/env bash
# Windows leg of CI: cross-builds udptrail.exe for 32-bit and 64-bit Windows with MinGW-w64
# (warnings as errors on both) and runs the 64-bit build's tests under Wine, headless.
# Needs root on Debian 12 for the package installs; the 32-bit build is compiled and linked only,
# as this machine's kernel runs no 32-bit x86 code.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=()
command -v cmake >/dev/null || packages+=(cmake)
command -v make >/dev/null || packages+=(make)
command -v i686-w64-mingw32-g++-posix >/dev/null || packages+=(g++-mingw-w64-i686-posix)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || packages+=(g++-mingw-w64-x86-64-posix)
[ -x /usr/lib/wine/wine64 ] || packages+=(wine wine64)
[ -f /usr/x86_64-w64-mingw32/include/zlib.h ] || packages+=(libz-mingw-w64-dev)  # --compress
[ -f /usr/src/googletest/CMakeLists.txt ] || packages+=(googletest)
if [ ${#packages[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${packages[@]}"
fi

# The 32-bit program alone: its tests could not run here, and the program is what must be clean.
cmake -S . -B build-win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
  -DUDPTRAIL_WERROR=ON -DUDPTRAIL_TESTS=OFF
cmake --build build-win-i686 -j2
cmake -S . -B build-win-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
  -DUDPTRAIL_WERROR=ON
cmake --build build-win-x86_64 -j2

# A Wine server of the build tree's own prefix, started (with the prefix made) before ctest so
# that Wine's background services hold none of ctest's pipes, and stopped at the end.
export WINEPREFIX="$PWD/build-win-x86_64/wineprefix" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
/usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1
ctest --test-dir build-win-x86_64 --timeout 180 -j2 --output-on-failure
