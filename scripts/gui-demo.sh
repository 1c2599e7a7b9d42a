#!/usr/bin/env bash
# The desktop program with eight virtual handsets: builds what it needs,
# starts eight `kestrune-handset --pty`, makes a sample S-record image and
# opens the window with the handsets' ports in its lists and the image
# chosen. Press "Start All" to flash all eight.
#
#   scripts/gui-demo.sh                  open the window on your display
#   scripts/gui-demo.sh --screenshots    under Xvfb: press Start All by itself
#                                        and write docs/screenshots/*.png
#
# The demo keeps its settings in a temporary XDG home: yours stay untouched.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/default
mode=${1:-window}

scripts/bootstrap.sh >/dev/null
cmake --preset default >/dev/null
targets=(kestrune kestrune-handset)
[ "$mode" = --screenshots ] && targets+=(ui_window_screenshots)
cmake --build "$build" --target "${targets[@]}" -j2 >/dev/null

work=$(mktemp -d /tmp/kestrune-demo.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Eight handsets paced at the line rate, with a short erase per segment, so
# that a run takes a few seconds and can be watched.
ports=""
paths=()
start_handset() { # name, then extra options
  local name=$1
  shift
  "$build/handset/kestrune-handset" --pty --realtime --erase-ms 15 --erase-small-ms 5 "$@" \
    >"$work/$name.out" 2>"$work/$name.err" &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$work/$name.out" ] && break; sleep 0.1; done
  path=$(head -n1 "$work/$name.out")
  [ -n "$path" ] || { echo "handset $name did not start: $(cat "$work/$name.err")" >&2; exit 1; }
  ports+="$path:"
}
for i in 1 2 3 4 5 6 7 8; do
  start_handset "handset$i"
  paths+=("$path")
done
# For the pictures, a second set in which channels 2, 3 and 5 fail in three
# different ways and channel 6 is never switched on (it is stopped).
fault_ports=""
if [ "$mode" = --screenshots ]; then
  for i in 1 2 3 4 5 6 7 8; do
    case $i in
      2) extra=(--erase-fail 7) ;;
      3) extra=(--unsupported-flash) ;;
      5) extra=(--program-error) ;;
      6) extra=(--power-on-delay 600000) ;;
      *) extra=() ;;
    esac
    start_handset "fault$i" "${extra[@]}"
    fault_ports+="$path:"
  done
  # Repeat mode on channel 1: units swapped after each run, the second one
  # failing its erase.
  start_handset repeat --swap-after-run 6000 --erase-fail 7 --erase-fail-run 2
  repeat_port=$path
fi
export KESTRUNE_PORTS=$ports
echo "virtual handsets on ${ports//:/ }"

# A 256 KiB sample image as Motorola S-records, converted to .bif on load.
head -c 262144 /dev/urandom >"$work/sample.bin"
srec_cat "$work/sample.bin" -binary -o "$work/sample.mot" -motorola -address-length=4
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data

# Settings as a previous run would have left them: channel n on handset n.
write_settings() {
  mkdir -p "$XDG_CONFIG_HOME/Orv"
  {
    echo "[General]"
    for i in 0 1 2 3 4 5 6 7; do
      suffix=$([ "$i" -eq 0 ] && echo "" || echo "$i")
      echo "COMM%20Port$suffix=${paths[$i]}"
    done
  } >"$XDG_CONFIG_HOME/Orv/Kestrune.conf"
}
write_settings

if [ "$mode" = --screenshots ]; then
  mkdir -p docs/screenshots
  export PATH=/usr/sbin:/usr/bin:/sbin:/bin  # no desktop database tools needed
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/tests/ui/ui_window_screenshots" docs/screenshots/window-mid-run.png \
    docs/screenshots/window-done.png docs/screenshots/window-log.png \
    docs/screenshots/station-controls.png "$fault_ports" \
    "$work/sample.mot" docs/screenshots/window-repeat-wait.png "$repeat_port" \
    docs/screenshots/run-records.png
  # The same window on a 1280x1024 screen at 200 % scaling.
  write_settings
  QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/tests/ui/ui_window_screenshots" docs/screenshots/window-200-percent.png \
    "$work/sample.mot"
else
  "$build/app/kestrune" "$work/sample.mot"
fi
