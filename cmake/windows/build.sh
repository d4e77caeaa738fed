#!/usr/bin/env bash
# The Windows cross-build, run from the project root by build.sh:
#   windows       build-windows/rplc.exe (i686-w64-mingw32, static runtime)
#   windows-test  also the unit tests under wine, then the end-to-end tests
#                 of rplc.exe, run under wine from the build host
#   windows-zip   the release archive build-windows/rplc-<version>-win32.zip
set -euo pipefail
out=build-windows
deps=$out/deps
jobs=$(nproc 2>/dev/null || echo 2)

bash cmake/windows/build-deps.sh "$deps"
deps=$(realpath "$deps")

tests=OFF
[ "$1" = windows-test ] && tests=ON

# A wine prefix of our own, made once; nothing depends on the user's.
# wineserver -p keeps one server for the whole run, which saves the
# start-up of every process under wine.
export WINEPREFIX="$PWD/$out/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$out"
# The server outlives this script: it must not hold its output open. (It
# may be running already, from an earlier run.)
wineserver -p 60 </dev/null >/dev/null 2>&1 || true
# wineboot also starts wine's services, which stay as long as the server:
# started by a test instead, they would hold its output open and ctest
# would wait for them.
wineboot </dev/null >/dev/null 2>&1 || true

cmake -S . -B "$out" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DRPLC_TESTS=$tests \
  -DTCL_INCLUDE_PATH="$deps/tcl/include" -DTCL_LIBRARY="$deps/tcl/lib/libtcl.a" \
  -DPCRE2_INCLUDE_DIR="$deps/pcre2/include" -DPCRE2_LIBRARY="$deps/pcre2/lib/libpcre2-8.a" \
  -DGTest_DIR="$deps/gtest/lib/cmake/GTest" >/dev/null
case "$1" in
  windows)
    cmake --build "$out" -j"$jobs" --target rplc
    echo "built $out/rplc.exe"
    exit 0
    ;;
  windows-zip)
    cmake --build "$out" -j"$jobs" --target rplc rplc_help_text
    (cd "$out" && cpack -G ZIP >/dev/null)
    ls "$out"/rplc-*-win32.zip
    exit 0
    ;;
esac
cmake --build "$out" -j"$jobs"
ctest --test-dir "$out" --output-on-failure -j"$jobs"

host=$out/host
cmake -S tests/cli/windows -B "$host" -DCMAKE_BUILD_TYPE=Release \
  -DRPLC_EXE="$PWD/$out/rplc.exe" >/dev/null
cmake --build "$host" -j"$jobs"
ctest --test-dir "$host" --output-on-failure -j"$jobs"
