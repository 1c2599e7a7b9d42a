#!/usr/bin/env bash
# The Windows kestrune-cli.exe, run under Wine, flashes the Linux virtual
# handset over a pseudo-terminal that the Wine prefix knows as COM5, once at
# each line speed; every time the handset's flash must equal the image. The
# image sits in a Korean-named folder under a Korean name, so its path
# reaches the program only through the wide (UTF-16) Windows calls. Last,
# Ctrl+C (SIGINT, which Wine hands to the console) must stop the run.
#
#   tests/wine/download-test.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
#
# Needs WINEPREFIX set to a prefix made for the test (scripts/wine-tests.sh
# makes one). Wine cannot set 28800 baud on a pseudo-terminal and leaves
# 38400, so the handset runs with its test-only --test-wine-boot-rate. The
# handset runs its RAM program in host code (--model host): it answers the
# same bytes as the emulated core, but switches its rate the moment it
# reads the speed message, so a loaded machine that holds up the emulated
# core cannot make the host's first fast bytes look garbled. A run that
# hangs all the same ends after RUN_LIMIT seconds and fails with the
# handset's trace.
set -euo pipefail
win=$(cd "$1" && pwd)
native=$(cd "$2" && pwd)
: "${WINEPREFIX:?must name a Wine prefix made for this test}"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEDEBUG=-all LC_ALL=C.UTF-8

work=$(mktemp -d /tmp/kestrune-wine-download.XXXXXX)
handset_pid=""
cleanup() {
  if [ -n "$handset_pid" ]; then kill "$handset_pid" 2>/dev/null || true; fi
  rm -f "$WINEPREFIX/dosdevices/com5"
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $2 seconds (in steps of 0.05 s) for the command in $1 to succeed.
poll() {
  local steps=$(( $2 * 20 ))
  for _ in $(seq "$steps"); do
    if eval "$1"; then return 0; fi
    sleep 0.05
  done
  return 1
}

mkdir "$work/이미지"
image="$work/이미지/펌웨어.bin"
head -c 98304 /dev/urandom >"$image"
size=$(stat -c %s "$image")
windows_image="Z:${image//\//\\}"

failures=0
for speed in 115K 460K 920K; do
  out="$work/handset-$speed.out"
  flash="$work/flash-$speed.bin"
  "$native/handset/kestrune-handset" --pty --once --test-wine-boot-rate --model host --trace \
    --flash-out "$flash" \
    >"$out" 2>"$work/handset-$speed.log" &
  handset_pid=$!
  if ! poll '[ -n "$(head -n 1 "$out" 2>/dev/null)" ]' 10; then
    echo "wine download $speed: the handset did not start"; cat "$work/handset-$speed.log"
    exit 1
  fi
  ln -sfn "$(head -n 1 "$out")" "$WINEPREFIX/dosdevices/com5"

  started=$(date +%s%N)
  status=0
  timeout "${RUN_LIMIT:-120}" "$wine" "$win/cli/kestrune-cli.exe" --speed "$speed" --image "$windows_image" COM5 \
    >"$work/cli-$speed.out" 2>&1 || status=$?
  ms=$(( ($(date +%s%N) - started) / 1000000 ))
  # The handset writes its flash before the run's last answer and ends
  # when the host closes the line.
  poll '! kill -0 "$handset_pid" 2>/dev/null' 20 || kill "$handset_pid" 2>/dev/null || true
  wait "$handset_pid" 2>/dev/null || true
  handset_pid=""
  rm -f "$WINEPREFIX/dosdevices/com5"

  if [ "$status" -eq 0 ] && [ -f "$flash" ] && cmp -s -n "$size" "$image" "$flash"; then
    printf 'wine download %-4s passed: %d bytes flashed and equal to the image (%d ms)\n' \
      "$speed" "$size" "$ms"
  else
    failures=$((failures + 1))
    echo "wine download $speed FAILED (kestrune-cli exit $status)"
    sed 's/^/  cli: /' "$work/cli-$speed.out" | tail -n 20
    sed 's/^/  handset: /' "$work/handset-$speed.log" | grep -v 'got E (boot call)' | tail -n 40
    [ -f "$flash" ] && cmp -n "$size" "$image" "$flash" | sed 's/^/  /' || true
  fi
done
# Stop All: Wine turns SIGINT into the console's Ctrl+C, which the
# program's console control handler takes. The handset stays silent, so the
# channel is still calling it when the stop comes.
out="$work/handset-stop.out"
"$native/handset/kestrune-handset" --pty --power-on-delay 600000 >"$out" 2>/dev/null &
handset_pid=$!
poll '[ -n "$(head -n 1 "$out" 2>/dev/null)" ]' 10
ln -sfn "$(head -n 1 "$out")" "$WINEPREFIX/dosdevices/com5"
"$wine" "$win/cli/kestrune-cli.exe" --image "$windows_image" COM5 >"$work/cli-stop.out" 2>&1 &
cli_pid=$!
stop_status=0
if poll 'grep -qs "전원 On/Reset Mobile" "$work/cli-stop.out"' 60; then
  kill -INT "$cli_pid"
  poll '! kill -0 "$cli_pid" 2>/dev/null' 20 || kill "$cli_pid" 2>/dev/null || true
fi
wait "$cli_pid" || stop_status=$?
kill "$handset_pid" 2>/dev/null || true
wait "$handset_pid" 2>/dev/null || true
handset_pid=""
if [ "$stop_status" -eq 1 ] && grep -qE '^1 +COM5 +stopped .*COMM Closed' "$work/cli-stop.out"; then
  echo "wine stop all passed: Ctrl+C stopped the channel, exit status 1"
else
  failures=$((failures + 1))
  echo "wine stop all FAILED (kestrune-cli exit $stop_status)"
  sed 's/^/  cli: /' "$work/cli-stop.out" | tail -n 20
fi

[ "$failures" -eq 0 ]
