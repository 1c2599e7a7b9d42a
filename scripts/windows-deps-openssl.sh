#!/usr/bin/env bash
# OpenSSL's libcrypto for 64-bit Windows, static, cross-built with
# MinGW-w64 from Debian's own source package (started by
# scripts/windows-deps.sh, which names the cache):
#
#   scripts/windows-deps-openssl.sh CACHE SERIES RECIPE
#
# Only libcrypto and its headers are built and installed (no libssl, no
# programs, no tests). The work folder is CACHE's name with a leading
# ".build-" beside it; the cache is renamed into place only when whole, so
# a cache that exists is complete.
set -euo pipefail

cache=$1 series=$2 recipe=$3
if [[ -f $cache/BUILD-INFO.txt ]]; then
  echo "windows deps: $cache is complete"
  exit 0
fi

triple=x86_64-w64-mingw32
jobs=${JOBS:-$(nproc)}
work=$(dirname "$cache")/.build-$(basename "$cache")
prefix=$work/prefix
mkdir -p "$work"
started=$(date +%s)

source "$(dirname "$0")/windows-deps-apt.sh"
if [[ ! -f $work/done-sources ]]; then
  apt_fetch "$work/apt" "$work/src" openssl
  touch "$work/done-sources"
fi
src=$(cd "$work/src" && ls -d openssl-*/ | head -1 | sed "s#/\$##;s#^#$work/src/#")
version=$(sed -n 's/^ *# *define OPENSSL_FULL_VERSION_STR "\(.*\)"/\1/p' "$src/include/openssl/opensslv.h" 2>/dev/null || true)
[[ -n $version ]] || version=$(sed -n 's/^MAJOR=//p;s/^MINOR=//p;s/^PATCH=//p' "$src/VERSION.dat" | paste -sd.)
if [[ $version != "$series".* ]]; then
  echo "windows deps: Debian's OpenSSL is $version, not $series.x (change the series in scripts/windows-deps.sh)" >&2
  exit 1
fi

# A build folder of its own (the source stays clean), made anew each run.
# The compiler is the posix thread model's, as for everything else.
build=$work/build
rm -rf "$build" "$prefix" && mkdir -p "$build" "$prefix/lib" "$prefix/include"
(cd "$build" && CC=gcc-posix perl "$src/Configure" mingw64 \
  --cross-compile-prefix=$triple- --prefix="$prefix" --libdir=lib \
  no-shared no-module no-tests no-engine no-dso --release >configure.log)
make -C "$build" -j "$jobs" build_generated >"$build/make.log"
make -C "$build" -j "$jobs" libcrypto.a >>"$build/make.log"
cp "$build/libcrypto.a" "$prefix/lib/"
mkdir -p "$prefix/include/openssl"
cp "$src"/include/openssl/*.h "$build"/include/openssl/*.h "$prefix/include/openssl/"

# libcrypto is static: its users link Winsock, the certificate store and
# the random source too.
mkdir -p "$prefix/lib/pkgconfig"
cat >"$prefix/lib/pkgconfig/libcrypto.pc" <<PC
prefix=\${pcfiledir}/../..
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: libcrypto
Description: OpenSSL's libcrypto for 64-bit Windows, static (scripts/windows-deps.sh)
Version: $version
Libs: -L\${libdir} -lcrypto -lws2_32 -lcrypt32 -lbcrypt
Cflags: -I\${includedir}
PC

took=$(( $(date +%s) - started ))
{
  echo "Built by scripts/windows-deps.sh (OpenSSL recipe $recipe) with $($triple-gcc-posix --version | head -1)"
  echo "Source (apt-get source, Debian bookworm main):"
  sed 's/^/  /' "$work/src-folders.txt"
  echo "OpenSSL $version: libcrypto only, static (no-shared no-module no-tests no-engine no-dso)"
  echo "Time: $took s (this run)"
  echo "Size: $(du -sh "$prefix" | cut -f1)"
} >"$prefix/BUILD-INFO.txt"
mv "$prefix" "$cache"
rm -rf "$work"
cat "$cache/BUILD-INFO.txt"
echo "windows deps: ready in $cache"
