#!/usr/bin/env bash
# Cross-builds, with MinGW-w64, the libraries the Windows window and the run
# records need, from Debian's own source packages:
#
#   qtbase (Core, Gui, Widgets, Test, the windows platform plugin and the
#   windowsvista style), SQLite, libpq (from PostgreSQL, without SSL: there
#   is no MinGW OpenSSL in Debian) and libpqxx (static).
#
#   scripts/windows-deps.sh                  build both caches when missing
#   scripts/windows-deps.sh --print          print the main cache's folder
#   scripts/windows-deps.sh --print-openssl  print OpenSSL's cache's folder
#   scripts/windows-deps.sh openssl          build only OpenSSL's cache
#
# OpenSSL's libcrypto (static, for the job signatures and the supervisor's
# password) has a cache of its own beside the main one, with its own work
# folder, so that adding it never rebuilds Qt.
#
# Sources come only through `apt-get source`, with an apt configuration of
# this script's own (its own deb-src list, state and cache folders), so the
# machine's apt set-up is left as it is.
#
# The result goes to ~/.cache/kestrune/windows-deps/<versions>-r<recipe>
# (KESTRUNE_DEPS_ROOT overrides ~/.cache/kestrune/windows-deps). It is built
# in a work folder beside it and renamed into place only when whole, so a
# cache that exists is complete; then this script exits at once. Each part
# finished in the work folder is kept, so a run that was stopped goes on
# where it stopped.
set -euo pipefail

recipe=1
qt_version=6.4.2
sqlite_version=3.40.1
pg_major=15
pqxx_version=6.4.5
name=qt${qt_version}-sqlite${sqlite_version}-pq${pg_major}-pqxx${pqxx_version}-r${recipe}

openssl_recipe=1
openssl_series=3.0
openssl_name=openssl${openssl_series}-r${openssl_recipe}

root=${KESTRUNE_DEPS_ROOT:-$HOME/.cache/kestrune/windows-deps}
cache=$root/$name
openssl_cache=$root/$openssl_name
case ${1:-} in
  --print) echo "$cache"; exit 0 ;;
  --print-openssl) echo "$openssl_cache"; exit 0 ;;
esac

# Only the parts named on the command line (for trying one part), else all.
parts=("$@")
[[ ${#parts[@]} -gt 0 ]] || parts=(openssl qt sqlite libpq pqxx)
if [[ ${parts[0]} == openssl ]]; then
  "$(dirname "$0")/windows-deps-openssl.sh" "$openssl_cache" "$openssl_series" "$openssl_recipe"
  parts=("${parts[@]:1}")
  [[ ${#parts[@]} -gt 0 ]] || exit 0
fi
if [[ -f $cache/BUILD-INFO.txt ]]; then
  echo "windows deps: $cache is complete"
  exit 0
fi

triple=x86_64-w64-mingw32
cc=$triple-gcc-posix
cxx=$triple-g++-posix
jobs=${JOBS:-$(nproc)}
work=$root/.build-$name
prefix=$work/prefix
mkdir -p "$work" "$prefix"
started=$(date +%s)
timings=$work/timings.txt

step_done() { [[ -f $work/done-$1 ]]; }
finish_step() {
  local took=$(( $(date +%s) - $2 ))
  echo "$1: ${took} s" >>"$timings"
  echo "windows deps: $1 took ${took} s"
  touch "$work/done-$1"
}

# --- Sources, through a private apt configuration -------------------------
source "$(dirname "$0")/windows-deps-apt.sh"
fetch_sources() {
  apt_fetch "$work/apt" "$work/src" qt6-base sqlite3 postgresql-${pg_major} libpqxx
}

src_of() { (cd "$work/src" && ls -d "$1"-*/ | head -1 | sed "s#/\$##;s#^#$work/src/#"); }

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

write_toolchain() {
  cat >"$work/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $cc)
set(CMAKE_CXX_COMPILER $cxx)
set(CMAKE_RC_COMPILER $triple-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$triple $prefix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
EOF
}

# --- qtbase ----------------------------------------------------------------
# Only what the window and its tests use is built and installed: Core, Gui,
# Widgets, Test, the windows platform plugin, the
# windowsvista style and the .ico reader. Features that only add build time
# are off (Qt's switches are the FEATURE_... cache variables).
qt_targets=(Core Gui Widgets Test EntryPointImplementation QWindowsIntegrationPlugin
  QWindowsVistaStylePlugin QICOPlugin)
# The bundled third-party parts install the CMake packages that Core and
# Gui name as their dependencies (zlib, libpng, HarfBuzz, PCRE2).
qt_install_dirs=(. src src/corelib src/entrypoint src/gui src/widgets src/testlib
  src/3rdparty/zlib src/3rdparty/libpng src/3rdparty/harfbuzz-ng src/3rdparty/pcre2
  src/plugins src/plugins/platforms src/plugins/platforms/windows
  src/plugins/styles src/plugins/styles/windowsvista
  src/plugins/imageformats src/plugins/imageformats/ico)
build_qt() {
  local src build=$work/build-qt dir
  src=$(src_of qt6-base)
  # Debian's cleaned source has no wintab.h, hence no tablet events. OpenGL
  # stays on: the windows platform plugin needs it with dynamic OpenGL.
  # Direct2D stays on too: the plugin asks for the DirectWrite font
  # database whenever directwrite3 is on, but Gui builds it only with
  # Direct2D, and without it qwindows.dll does not link.
  cmake -G Ninja -S "$src" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" "${launcher[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_tabletevent=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_freetype=OFF \
    -DFEATURE_zstd=OFF -DFEATURE_icu=OFF \
    -DFEATURE_freetype=OFF -DFEATURE_direct2d=ON -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF \
    -DFEATURE_pdf=OFF -DFEATURE_vulkan=OFF -DFEATURE_textodfwriter=OFF \
    -DFEATURE_textmarkdownreader=OFF -DFEATURE_textmarkdownwriter=OFF \
    -DFEATURE_calendarwidget=OFF -DFEATURE_mdiarea=OFF -DFEATURE_sessionmanager=OFF
  cmake --build "$build" -j "$jobs" --target "${qt_targets[@]}"
  # Each folder's own install rules, without those of the folders below.
  for dir in "${qt_install_dirs[@]}"; do
    cmake -DCMAKE_INSTALL_LOCAL_ONLY=ON -P "$build/$dir/cmake_install.cmake"
  done
}

# --- SQLite: the amalgamation, made by the source tree's own makefile (with
# the host's compiler: its generators run here), compiled into a DLL ------
build_sqlite() {
  local src build=$work/build-sqlite
  src=$(src_of sqlite3)
  rm -rf "$build" && mkdir -p "$build"
  (cd "$build" && "$src/configure" --disable-tcl --disable-readline >configure.log &&
    make sqlite3.c sqlite3.h >make.log)
  local flags=(-O2 -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_FTS5 -DSQLITE_DEFAULT_FOREIGN_KEYS=0
    -DSQLITE_API=__declspec\(dllexport\))
  mkdir -p "$prefix/bin" "$prefix/lib" "$prefix/include"
  $cc "${flags[@]}" -shared -o "$prefix/bin/libsqlite3-0.dll" "$build/sqlite3.c" \
    -Wl,--out-implib,"$prefix/lib/libsqlite3.dll.a"
  cp "$build/sqlite3.h" "$prefix/include/"
}

# --- libpq: only the client library, without SSL, zlib or readline --------
build_libpq() {
  local src build=$work/build-pq
  src=$(src_of postgresql-${pg_major})
  rm -rf "$build" && mkdir -p "$build"
  (cd "$build" && "$src/configure" --host=$triple CC=$cc CXX=$cxx \
    --without-readline --without-zlib --without-icu --without-openssl \
    --without-gssapi --without-ldap --without-lz4 --without-zstd \
    --prefix="$prefix" >configure.log)
  make -C "$build/src/interfaces/libpq" -j "$jobs"
  make -C "$build/src/interfaces/libpq" install
  install -m 644 "$src/src/include/postgres_ext.h" "$build/src/include/pg_config_ext.h" \
    "$prefix/include/"
}

# --- libpqxx, static, against that libpq ------------------------------------
build_pqxx() {
  local src build=$work/build-pqxx
  src=$(src_of libpqxx)
  cmake -G Ninja -S "$src" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" "${launcher[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_TEST=OFF -DBUILD_DOC=OFF \
    -DSKIP_BUILD_TEST=ON -DSKIP_PQXX_SHARED=ON -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DPostgreSQL_INCLUDE_DIR="$prefix/include" -DPostgreSQL_TYPE_INCLUDE_DIR="$prefix/include" \
    -DPostgreSQL_LIBRARY="$prefix/lib/libpq.a"
  cmake --build "$build" -j "$jobs"
  cmake --install "$build"
}

# --- pkg-config files that hold no absolute path: the cache can move --------
write_pkgconfig() {
  local pqxx
  mkdir -p "$prefix/lib/pkgconfig"
  pqxx=$(cd "$prefix/lib" && ls libpqxx*.a | head -1 | sed 's/^lib//;s/\.a$//')
  write_pc sqlite3 "$sqlite_version" "-lsqlite3" ""
  write_pc libpq "$pg_major" "-lpq" ""
  # libpqxx is static: its users link libpq and Winsock too.
  write_pc libpqxx "$pqxx_version" "-l$pqxx -lpq -lws2_32" "libpq"
}
write_pc() { # name, version, libraries, required
  cat >"$prefix/lib/pkgconfig/$1.pc" <<EOF
prefix=\${pcfiledir}/../..
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: $1
Description: $1 for 64-bit Windows (scripts/windows-deps.sh)
Version: $2
Requires: $4
Libs: -L\${libdir} $3
Cflags: -I\${includedir}
EOF
}

# A CMake project that asks for every package the window and the records
# use: a part that was built but not installed shows here, not later in the
# Windows build.
check_prefix() {
  local check=$work/check
  rm -rf "$check" && mkdir -p "$check"
  cat >"$check/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.21)
project(windows_deps_check CXX)
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Test)
find_package(PkgConfig REQUIRED)
pkg_check_modules(SQLITE3 REQUIRED sqlite3)
pkg_check_modules(PQXX REQUIRED libpqxx)
EOF
  PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig cmake -S "$check" -B "$check/build" \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    >"$check/log" 2>&1 || {
    cat "$check/log"
    echo "windows deps: the libraries in $prefix are not whole (log above)" >&2
    exit 1
  }
}

step() {
  local part=$1 t
  step_done "$part" && return 0
  t=$(date +%s)
  echo "windows deps: building $part"
  "build_$part"
  finish_step "$part" "$t"
}

if ! step_done sources; then
  t=$(date +%s)
  fetch_sources
  finish_step sources "$t"
fi
write_toolchain
for part in "${parts[@]}"; do step "$part"; done
for part in qt sqlite libpq pqxx; do step_done "$part" || exit 0; done

# Whole: checked as a user of it sees it, then what went in is recorded and
# it is renamed into place.
write_pkgconfig
check_prefix
{
  echo "Built by scripts/windows-deps.sh (recipe $recipe) with $($cxx --version | head -1)"
  echo "Sources (apt-get source, Debian bookworm main):"
  sed 's/^/  /' "$work/src-folders.txt"
  echo "Times:"
  sed 's/^/  /' "$timings"
  echo "Size: $(du -sh "$prefix" | cut -f1)"
} >"$prefix/BUILD-INFO.txt"
mv "$prefix" "$cache"
rm -rf "$work"
cat "$cache/BUILD-INFO.txt"
echo "windows deps: ready in $cache ($(( $(date +%s) - started )) s this run)"
