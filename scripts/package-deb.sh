#!/usr/bin/env bash
# Builds the programs with Debian's hardening flags in build/package and makes
# the Debian package there: build/package/kestrune_<version>_<arch>.deb.
# Then checks it with lintian when lintian is installed.
#   scripts/package-deb.sh [--no-lintian]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

lintian=1
[ "${1:-}" = "--no-lintian" ] && lintian=0

# Files and folders in the package must not be group-writable.
umask 022
build=build/package
# dpkg-buildflags gives what Debian builds its own packages with: hardening
# (fortify, stack protector, RELRO, and with +all bind now) and the
# optimisation level.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CFLAGS CXXFLAGS LDFLAGS

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None \
  -DKESTRUNE_BUILD_TESTS=OFF -DKESTRUNE_BUILD_BENCH=OFF -DKESTRUNE_BUILD_FUZZ=OFF \
  -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS"
cmake --build "$build" -j "${JOBS:-$(nproc)}"
(cd "$build" && cpack -G DEB)

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb="$build/kestrune_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "package-deb: $deb was not made" >&2; exit 1; }
echo "package-deb: $deb"

if [ "$lintian" = 1 ] && command -v lintian > /dev/null; then
  # Errors fail the script; the warnings kept are listed in docs/packaging.md.
  lintian --fail-on error "$deb"
fi
