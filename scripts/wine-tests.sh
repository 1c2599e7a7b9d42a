#!/usr/bin/env bash
# The Windows part of the test command: cross-builds the Windows programs
# and portable test suites (preset windows), runs the suites under Wine,
# then the download test (tests/wine/download-test.sh), in which the
# Windows kestrune-cli.exe flashes the Linux virtual handset at each speed.
#
#   scripts/wine-tests.sh [LINUX_BUILD_DIR]   (default build/default, built
#                                              with kestrune-handset in it)
#
# Wine runs in a prefix of its own under a temporary folder, made once per
# call and removed, with its wineserver, at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
native=${1:-build/default}
jobs=${JOBS:-$(nproc)}
started=$(date +%s)

cmake --preset windows
cmake --build --preset windows -j "$jobs"

prefix_root=$(mktemp -d /tmp/kestrune-wine.XXXXXX)
export WINEPREFIX=$prefix_root/prefix WINEDEBUG=-all WINEARCH=win64 LC_ALL=C.UTF-8
# No Mono or Gecko installer dialogs: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$prefix_root"
}
trap cleanup EXIT

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineboot=$(command -v wineboot || echo /usr/lib/wine/wineboot)
"$wineboot" -i >/dev/null 2>&1
"$wineserver" -w
# One wineserver for the whole run, started before the tests: test programs
# started together would otherwise race to start it, and the loser's
# connection is reset. The first program waits until it answers.
"$wineserver" -p >/dev/null 2>&1
"$wine" cmd.exe /c exit 0 >/dev/null 2>&1

status=0
ctest --preset windows -j "$jobs" || status=$?
tests/wine/download-test.sh build/windows "$native" || status=$?
echo "wine tests: $(( $(date +%s) - started )) s in all (build included)"
exit "$status"
