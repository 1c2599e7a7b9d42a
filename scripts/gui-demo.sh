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
for i in 1 2 3 4 5 6 7 8; do
  "$build/handset/kestrune-handset" --pty --realtime --erase-ms 15 --erase-small-ms 5 \
    >"$work/handset$i.out" 2>"$work/handset$i.err" &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$work/handset$i.out" ] && break; sleep 0.1; done
  path=$(head -n1 "$work/handset$i.out")
  [ -n "$path" ] || { echo "handset $i did not start: $(cat "$work/handset$i.err")" >&2; exit 1; }
  ports+="$path:"
  paths+=("$path")
done
export KESTRUNE_PORTS=$ports
echo "virtual handsets on ${ports//:/ }"

# A 256 KiB sample image as Motorola S-records, converted to .bif on load.
head -c 262144 /dev/urandom >"$work/sample.bin"
srec_cat "$work/sample.bin" -binary -o "$work/sample.mot" -motorola -address-length=4
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data

# Settings as a previous run would have left them: channel n on handset n.
mkdir -p "$XDG_CONFIG_HOME/Orv"
{
  echo "[General]"
  for i in 0 1 2 3 4 5 6 7; do
    suffix=$([ "$i" -eq 0 ] && echo "" || echo "$i")
    echo "COMM%20Port$suffix=${paths[$i]}"
  done
} >"$XDG_CONFIG_HOME/Orv/Kestrune.conf"

if [ "$mode" = --screenshots ]; then
  mkdir -p docs/screenshots
  export PATH=/usr/sbin:/usr/bin:/sbin:/bin  # no desktop database tools needed
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/tests/ui/ui_window_screenshots" docs/screenshots/window-mid-run.png \
    docs/screenshots/window-done.png "$work/sample.mot"
else
  "$build/app/kestrune" "$work/sample.mot"
fi
