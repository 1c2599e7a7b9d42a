#!/usr/bin/env bash
# The Windows zip on a station with nothing else: unpacked into an empty
# folder of a new Wine prefix, with no build folder on the path, the window
# (kestrune.exe) must open and kestrune-cli.exe must answer --help and list
# its records.
#
#   tests/wine/zip-test.sh ZIP
#
# Needs DISPLAY (an X server for the window). Makes and removes its own prefix.
set -euo pipefail
zip=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
: "${DISPLAY:?needs an X display}"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineboot=$(command -v wineboot || echo /usr/lib/wine/wineboot)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
root=$(mktemp -d /tmp/kestrune-wine-zip.XXXXXX)
export WINEPREFIX=$root/prefix WINEDEBUG=-all WINEARCH=win64 LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEPATH
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$root"' EXIT
"$wineboot" -i >/dev/null 2>&1
"$wineserver" -w

station=$WINEPREFIX/drive_c/Station
mkdir "$station"
(cd "$station" && cmake -E tar xf "$zip")
folder=$(ls -d "$station"/*/)
echo "zip test: unpacked $(find "$folder" -type f | wc -l) files into C:\\Station"

failures=0
if "$wine" "$folder/kestrune-cli.exe" --help >"$root/help.txt" 2>&1 &&
   grep -q -- '--records' "$root/help.txt"; then
  echo "zip test: kestrune-cli.exe --help answers, with --records"
else
  echo "zip test FAILED: kestrune-cli.exe --help"; sed 's/^/  /' "$root/help.txt" | head
  failures=$((failures + 1))
fi
if "$wine" "$folder/kestrune-cli.exe" records >"$root/records.txt" 2>&1; then
  echo "zip test: kestrune-cli.exe records answers"
else
  echo "zip test FAILED: kestrune-cli.exe records"; sed 's/^/  /' "$root/records.txt" | head
  failures=$((failures + 1))
fi

"$wine" "$folder/kestrune.exe" >"$root/window.txt" 2>&1 &
window_pid=$!
shown=0
for _ in $(seq 120); do
  if xwininfo -root -tree 2>/dev/null | grep -q 'Zel bufferedwrite 8ch'; then shown=1; break; fi
  kill -0 "$window_pid" 2>/dev/null || break
  sleep 0.5
done
if [ "$shown" = 1 ]; then
  echo "zip test: kestrune.exe opened its window"
else
  echo "zip test FAILED: kestrune.exe showed no window"; sed 's/^/  /' "$root/window.txt" | head
  failures=$((failures + 1))
fi
"$wineserver" -k 2>/dev/null || true
wait "$window_pid" 2>/dev/null || true
[ "$failures" -eq 0 ]
