#!/usr/bin/env bash
# Prepares everything the Windows cross-build needs, once, into a cache
# folder (argument 1, e.g. build-windows/deps):
#   - the mingw-w64 cross compiler, wine (32-bit) and dpkg-dev from Debian;
#   - Tcl 8.6 from Debian's tcl8.6 source package, built as a static
#     library for i686-w64-mingw32 (<cache>/tcl/{include,lib});
#   - PCRE2 from Debian's pcre2 source package, its 8-bit library with the
#     JIT, built as a static library (<cache>/pcre2/{include,lib});
#   - GoogleTest from Debian's googletest sources, built with the cross
#     compiler (<cache>/gtest/{include,lib}).
# Each step is skipped when its result is already in the cache.
set -euo pipefail
cache=$(realpath -m "$1")
triple=i686-w64-mingw32
jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p "$cache"

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# A mirror in mid-sync fails an update or a download now and then: each is
# tried again a few times.
apt_update() {
  local attempt
  for attempt in 1 2 3 4 5; do
    $sudo apt-get update && return 0
    echo "apt-get update failed (attempt $attempt)" >&2
    sleep $((attempt * 10))
  done
}
apt_install() {
  local attempt
  for attempt in 1 2 3 4 5; do
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "$@" &&
      return 0
    ((attempt < 5)) || return 1
    echo "apt-get install failed (attempt $attempt)" >&2
    sleep $((attempt * 10))
    $sudo apt-get update || true
  done
}
installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# ---- packages ---------------------------------------------------------------
need=()
for p in g++-mingw-w64-i686-posix dpkg-dev cmake make libgtest-dev; do
  installed "$p" || need+=("$p")
done
installed wine32:i386 || need+=(wine wine32:i386)
if ((${#need[@]})); then
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  apt_update
  apt_install "${need[@]}"
fi

# apt-get source needs a deb-src line for the archive the machine uses.
src_list=/etc/apt/sources.list.d/rplc-deb-src.sources
if ! apt-get source --print-uris tcl8.6 >/dev/null 2>&1; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -n '/^Types: deb$/,/^$/p' /etc/apt/sources.list.d/debian.sources |
      sed 's/^Types: deb$/Types: deb-src/' | $sudo tee "$src_list" >/dev/null
  else
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $sudo tee /etc/apt/sources.list.d/rplc-deb-src.list >/dev/null
  fi
  apt_update
fi

# Unpacks Debian's source package $1 into the folder $2: the version apt
# picks, or else the newest other version the archive lists (a mirror may
# lack the files of one).
fetch_source() {
  local version
  (cd "$2" && apt-get source "$1" >/dev/null 2>&1) && return 0
  for version in $(apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -V -r); do
    rm -rf "${2:?}"/*
    (cd "$2" && apt-get source "$1=$version" >/dev/null 2>&1) && return 0
  done
  echo "could not fetch the source package $1" >&2
  return 1
}

# ---- Tcl --------------------------------------------------------------------
if [ ! -f "$cache/tcl/lib/libtcl.a" ]; then
  work="$cache/tcl-src"
  rm -rf "$work" && mkdir -p "$work"
  fetch_source tcl8.6 "$work"
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'tcl8.6-*' | head -n1)
  (
    cd "$src/win"
    ./configure --host=$triple --prefix="$cache/tcl" --disable-shared \
      --enable-threads >configure.log 2>&1 || { tail -n 30 configure.log >&2; exit 1; }
    lib=$(sed -n 's/^TCL_LIB_FILE[[:space:]]*=[[:space:]]*//p' Makefile)
    make -j"$jobs" "$lib" >make.log 2>&1 || { tail -n 30 make.log >&2; exit 1; }
    mkdir -p "$cache/tcl/lib"
    cp "$lib" "$cache/tcl/lib/libtcl.a"
  )
  mkdir -p "$cache/tcl/include"
  cp "$src/generic/tcl.h" "$src/generic/tclDecls.h" "$src/generic/tclPlatDecls.h" \
    "$cache/tcl/include/"
  rm -rf "$work"
fi

# ---- PCRE2 ------------------------------------------------------------------
# The 8-bit library only, static, with the JIT (sljit emits x86-32 code into
# pages from VirtualAlloc, which wine runs as Windows does).
if [ ! -f "$cache/pcre2/lib/libpcre2-8.a" ]; then
  work="$cache/pcre2-src"
  rm -rf "$work" && mkdir -p "$work"
  fetch_source pcre2 "$work"
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'pcre2-*' | head -n1)
  cmake -S "$src" -B "$work/build" \
    -DCMAKE_TOOLCHAIN_FILE="$(realpath "$(dirname "$0")/../mingw-i686.cmake")" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
    -DPCRE2_BUILD_PCRE2_8=ON -DPCRE2_BUILD_PCRE2_16=OFF -DPCRE2_BUILD_PCRE2_32=OFF \
    -DPCRE2_SUPPORT_JIT=ON -DPCRE2_SUPPORT_UNICODE=OFF -DPCRE2_BUILD_PCRE2GREP=OFF \
    -DPCRE2_BUILD_TESTS=OFF -DPCRE2_SUPPORT_LIBBZ2=OFF -DPCRE2_SUPPORT_LIBZ=OFF \
    -DPCRE2_SUPPORT_LIBEDIT=OFF -DPCRE2_SUPPORT_LIBREADLINE=OFF \
    -DCMAKE_INSTALL_PREFIX="$cache/pcre2" -DCMAKE_INSTALL_LIBDIR=lib \
    >"$work/configure.log" 2>&1 || { tail -n 30 "$work/configure.log" >&2; exit 1; }
  cmake --build "$work/build" -j"$jobs" >"$work/make.log" 2>&1 ||
    { tail -n 30 "$work/make.log" >&2; exit 1; }
  cmake --install "$work/build" >/dev/null
  rm -rf "$work"
fi

# ---- GoogleTest -------------------------------------------------------------
if [ ! -f "$cache/gtest/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$cache/gtest-build" \
    -DCMAKE_TOOLCHAIN_FILE="$(realpath "$(dirname "$0")/../mingw-i686.cmake")" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF \
    -DCMAKE_INSTALL_PREFIX="$cache/gtest" -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
  cmake --build "$cache/gtest-build" -j"$jobs" >/dev/null
  cmake --install "$cache/gtest-build" >/dev/null
  rm -rf "$cache/gtest-build"
fi
