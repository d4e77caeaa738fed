#!/usr/bin/env bash
# Prepares everything the Windows cross-build needs, once, into a cache
# folder (argument 1, e.g. build-windows/deps):
#   - the mingw-w64 cross compiler, wine (32-bit) and dpkg-dev from Debian;
#   - Tcl 8.6 from Debian's tcl8.6 source package, built as a static
#     library for i686-w64-mingw32 (<cache>/tcl/{include,lib});
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
apt_install() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "$@"
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
  $sudo apt-get update
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
  $sudo apt-get update
fi

# ---- Tcl --------------------------------------------------------------------
if [ ! -f "$cache/tcl/lib/libtcl.a" ]; then
  work="$cache/tcl-src"
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && apt-get source tcl8.6 >/dev/null 2>&1)
  src=$(find "$work" -maxdepth 1 -type d -name 'tcl8.6-*' | head -n1)
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
