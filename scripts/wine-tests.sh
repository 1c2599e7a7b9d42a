#!/usr/bin/env bash
# The Windows part of the test command: cross-builds the Windows programs
# and portable test suites (preset windows), runs the suites under Wine,
# then the download test (tests/wine/download-test.sh), in which the
# Windows kestrune-cli.exe flashes the Linux virtual handset at each speed,
# and, with OpenSSL's libcrypto (scripts/windows-deps.sh), the signed jobs
# (tests/wine/job-test.sh).
#
#   scripts/wine-tests.sh [LINUX_BUILD_DIR]   (default build/default, built
#                                              with kestrune-handset in it)
#
# With the Windows libraries (scripts/windows-deps.sh) it then tests the
# run records (tests/wine/records-test.sh), the window on an Xvfb display of
# its own (tests/wine/window-test.sh) and the zip in a new prefix
# (tests/wine/zip-test.sh); without them it says that those are skipped.
#
# Wine runs in a prefix of its own under a temporary folder, made once per
# call and removed, with its wineserver, at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
native=${1:-build/default}
jobs=${JOBS:-$(nproc)}
started=$(date +%s)

deps=$(scripts/windows-deps.sh --print)
openssl=$(scripts/windows-deps.sh --print-openssl)
full=0
[ -f "$deps/BUILD-INFO.txt" ] && full=1

cmake --preset windows
cmake --build --preset windows -j "$jobs"

prefix_root=$(mktemp -d /tmp/kestrune-wine.XXXXXX)
export WINEPREFIX=$prefix_root/prefix WINEDEBUG=-all WINEARCH=win64 LC_ALL=C.UTF-8
# No Mono or Gecko installer dialogs: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
xvfb_pid=""
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$prefix_root"
}
trap cleanup EXIT
if [ "$full" = 1 ]; then
  # The libraries' DLLs and the compiler's runtime DLLs, which Qt's load,
  # and an X server on a display nobody uses.
  dll_path="Z:$deps/bin"
  for dll in libstdc++-6.dll libwinpthread-1.dll; do
    dll_path+=";Z:$(dirname "$(realpath "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)")")"
  done
  export WINEPATH=${dll_path//\//\\}
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$prefix_root/display" \
    >"$prefix_root/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$prefix_root/display" ] && break; sleep 0.1; done
  [ -s "$prefix_root/display" ] || { cat "$prefix_root/xvfb.log"; echo "wine tests: Xvfb did not start" >&2; exit 1; }
  export DISPLAY=:$(cat "$prefix_root/display")
fi

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineboot=$(command -v wineboot || echo /usr/lib/wine/wineboot)
"$wineboot" -i >/dev/null 2>&1
"$wineserver" -w
# One wineserver for the whole run, started before the tests: test programs
# started together would otherwise race to start it, and the loser's
# connection is reset. The first program waits until it answers.
"$wineserver" -p >/dev/null 2>&1
"$wine" cmd.exe /c exit 0 >/dev/null 2>&1
# A program that crashes prints its backtrace and ends; Wine's crash dialog
# would wait for a click that never comes.
"$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
  >/dev/null 2>&1

status=0
ctest --preset windows -j "$jobs" || status=$?
tests/wine/download-test.sh build/windows "$native" || status=$?
if [ -f "$openssl/BUILD-INFO.txt" ]; then
  tests/wine/job-test.sh build/windows "$native" || status=$?
else
  echo "wine tests: signed jobs SKIPPED: no libcrypto for Windows in $openssl" \
    "(scripts/windows-deps.sh builds it)"
fi
if [ "$full" = 1 ]; then
  tests/wine/records-test.sh build/windows "$native" || status=$?
  tests/wine/window-test.sh build/windows "$native" build/windows/wine-window.png || status=$?
  "$wineserver" -k 2>/dev/null || true
  scripts/package-windows.sh >"$prefix_root/package.log" 2>&1 ||
    { cat "$prefix_root/package.log"; status=1; }
  zip=$(sed -n 's/^package-windows: wrote \(.*\.zip\) .*/\1/p' "$prefix_root/package.log")
  [ -n "$zip" ] && { tests/wine/zip-test.sh "$zip" || status=$?; }
else
  echo "wine tests: run records, the window and the zip SKIPPED: no Windows libraries" \
    "in $deps (scripts/windows-deps.sh builds them)"
fi
echo "wine tests: $(( $(date +%s) - started )) s in all (build included)"
exit "$status"
