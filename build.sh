#!/usr/bin/env bash
# Builds rplc and runs it once (no argument), or builds and runs the whole
# test suite ("test"), or the suite under AddressSanitizer and
# UndefinedBehaviorSanitizer ("sanitize"), or under ThreadSanitizer ("tsan",
# also "sanitize-thread"). "windows" cross-builds build-windows/rplc.exe for
# 32-bit Windows; "windows-test" also runs the unit tests and the end-to-end
# tests of rplc.exe under wine; "windows-zip" makes the Windows release
# archive. Installs missing Debian packages first when run as root or with
# sudo available.
set -euo pipefail
cd "$(dirname "$0")"

packages=(g++ cmake make pkg-config libgtest-dev tcl8.6-dev libpcre2-dev libicu72 groff-base strace patch git unzip util-linux)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # A mirror in mid-sync fails now and then: tried again a few times.
  for attempt in 1 2 3 4 5; do
    $sudo apt-get update && break
    echo "apt-get update failed (attempt $attempt)" >&2
    sleep $((attempt * 10))
  done
  for attempt in 1 2 3 4 5; do
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}" && break
    ((attempt < 5)) || exit 1
    echo "apt-get install failed (attempt $attempt)" >&2
    sleep $((attempt * 10))
    $sudo apt-get update || true
  done
fi

jobs=$(nproc 2>/dev/null || echo 2)
case "${1:-}" in
  "")
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$jobs" --target rplc
    printf 'teh cat sat on teh mat\n' | ./build/rplc -f:teh -t:the
    ;;
  test)
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$jobs"
    ctest --test-dir build --output-on-failure -j"$jobs"
    ;;
  sanitize)
    cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug -DRPLC_SANITIZE=address >/dev/null
    cmake --build build-san -j"$jobs"
    # Tests whose names end in "Slow" (gigabytes of data) run once, in the
    # plain build's suite.
    ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-san --output-on-failure -j"$jobs" -E 'Slow$'
    ;;
  tsan|sanitize-thread)
    # The library, engine and driver suites, then the end-to-end runs of the
    # file mode, which reads, replaces and writes files on several threads.
    # The other end-to-end runs are left out: they run on one thread, and
    # their timing bounds do not allow for the sanitizer's slowdown.
    cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRPLC_SANITIZE=thread >/dev/null
    cmake --build build-tsan -j"$jobs"
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan_suppressions.txt"
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" -LE '^cli_tests$'
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L '^cli_tests$' \
      -R '^(FileModeTest|ParallelFileModeTest)\.'
    ;;
  windows|windows-test|windows-zip)
    bash cmake/windows/build.sh "$1"
    ;;
  *)
    echo "usage: $0 [test|sanitize|tsan|windows|windows-test|windows-zip]" >&2
    exit 2
    ;;
esac
