#!/usr/bin/env bash
# Run records of the Windows kestrune-cli.exe under Wine: two runs into a
# Linux virtual handset linked as COM5. The first keeps its record in the
# station's database at %LOCALAPPDATA%\Orv\Kestrune\records.sqlite, and
# `records` lists it; the second, with a private PostgreSQL server on
# 127.0.0.1 (tests/records/tools/PgServerForScripts.cpp), sends both records
# there, which must hold each exactly once, and `records --records URL`
# lists them from there.
#
#   tests/wine/records-test.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
#
# Needs WINEPREFIX set to a prefix made for the test, and the Windows
# libraries on WINEPATH (scripts/wine-tests.sh does both).
set -euo pipefail
win=$(cd "$1" && pwd)
native=$(cd "$2" && pwd)
: "${WINEPREFIX:?must name a Wine prefix made for this test}"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEDEBUG=-all LC_ALL=C.UTF-8
work=$(mktemp -d /tmp/kestrune-wine-records.XXXXXX)
source "$(dirname "$0")/handsets.sh"
pg_pid=""
cleanup() {
  stop_handsets
  if [ -n "$pg_pid" ]; then
    exec {pg_in}>&- 2>/dev/null || true
    wait "$pg_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() { # what, then the command that must succeed
  local what=$1
  shift
  if "$@"; then
    echo "wine records: $what"
  else
    echo "wine records FAILED: $what"
    failures=$((failures + 1))
  fi
}

# The prefix's station database starts empty: the download test's runs
# before this one kept their records there too.
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Local/Orv/Kestrune
make_image "$work/image" 65536
image=$(windows_path "$work/image.bin")
cli=$win/cli/kestrune-cli.exe

# flash NAME [options...]: one run into a new handset on COM5; true when
# it passed and the flash equals the image.
flash() {
  local name=$1 status=0
  shift
  start_handset "$name" COM5 --once --flash-out "$work/$name.flash" || return 1
  timeout "${RUN_LIMIT:-120}" "$wine" "$cli" --speed 920K --image "$image" "$@" COM5 \
    >"$work/$name.cli" 2>&1 || status=$?
  poll '! kill -0 "${handset_pids[0]}" 2>/dev/null' 20 || true
  stop_handsets
  if [ "$status" -ne 0 ] || ! cmp -s -n 65536 "$work/image.bin" "$work/$name.flash"; then
    echo "run $name: kestrune-cli exit $status"
    sed 's/^/  cli: /' "$work/$name.cli" | tail -n 20
    return 1
  fi
}

check "a run into the station's database passed" flash local
database=$(find "$WINEPREFIX/drive_c/users" -path '*AppData/Local/Orv/Kestrune/records.sqlite' | head -n 1)
check "the record is in %LOCALAPPDATA%\\Orv\\Kestrune\\records.sqlite" test -s "$database"
"$wine" "$cli" records --format csv >"$work/list-local.csv" 2>"$work/list-local.err" || true
check "records lists the run" grep -q 'COM5' "$work/list-local.csv"
tr -d '\r' <"$work/list-local.csv" | sed 's/^/  /' | head -n 3

coproc pg { "$native/tests/records/records_pg_server"; }
pg_pid=$pg_PID
pg_in=${pg[1]}
read -r -t 60 url <&"${pg[0]}" || url=""
[[ $url == postgresql://* ]] || { echo "wine records: the PostgreSQL server did not start"; exit 1; }
# The server is Linux's; Wine's programs reach it on the same loopback.
check "a run with the server's URL passed" flash server --records "$url"
# The station's records not sent yet go with it: the first run's too.
echo "SELECT count(*) || ' ' || count(DISTINCT id) FROM kestrune_records WHERE port = 'COM5'" >&"$pg_in"
read -r -t 30 counts <&"${pg[0]}" || counts=""
check "the server holds both runs exactly once (records, distinct: $counts)" test "$counts" = "2 2"
"$wine" "$cli" records --records "$url" --format csv >"$work/list-server.csv" 2>&1 || true
check "records --records URL lists it from the server" grep -q 'COM5' "$work/list-server.csv"
"$wine" "$cli" records --format csv >"$work/list-both.csv" 2>/dev/null || true
check "the station's database holds both runs" \
  test "$(tr -d '\r' <"$work/list-both.csv" | grep -c 'COM5')" = 2

[ "$failures" -eq 0 ]
