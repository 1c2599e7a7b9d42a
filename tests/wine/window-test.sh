#!/usr/bin/env bash
# The Windows window under Wine, on the X display in DISPLAY (Xvfb, started
# by scripts/wine-tests.sh), driven by tests/ui/tools/WindowRunCheck.cpp:
# the eight panels with the Korean texts drawable (NanumGothic given to the
# prefix as a Korean Windows has its Korean fonts), the prefix's COM ports
# listed, Start All at 920K into two Linux virtual handsets linked as COM5
# and COM6 (both PASSED, each flash equal to the image) while a third on
# COM7 is never switched on, a picture under build/; then the settings in
# HKCU\Software\Orv\Kestrune, and the same ports and file at the next start.
#
#   tests/wine/window-test.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR PICTURE
#
# Needs WINEPREFIX, WINEPATH (the Windows libraries) and DISPLAY.
set -euo pipefail
win=$(cd "$1" && pwd)
native=$(cd "$2" && pwd)
picture=$3
: "${WINEPREFIX:?must name a Wine prefix made for this test}" "${DISPLAY:?needs an X display}"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEDEBUG=-all LC_ALL=C.UTF-8
work=$(mktemp -d /tmp/kestrune-wine-window.XXXXXX)
source "$(dirname "$0")/handsets.sh"
trap 'stop_handsets; rm -rf "$work"' EXIT

failures=0
check() { # what, then the command that must succeed
  local what=$1
  shift
  if "$@"; then
    echo "wine window: $what"
  else
    echo "wine window FAILED: $what"
    failures=$((failures + 1))
  fi
}

# A Korean font, as a Korean Windows has one: NanumGothic in the prefix's
# Fonts folder, registered, and standing in for the Korean UI fonts.
fonts='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
cp /usr/share/fonts/truetype/nanum/NanumGothic.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
"$wine" reg add "$fonts\\Fonts" /v 'NanumGothic (TrueType)' /t REG_SZ /d NanumGothic.ttf /f \
  >/dev/null 2>&1
for family in 'Malgun Gothic' Gulim Dotum Batang; do
  "$wine" reg add "$fonts\\FontSubstitutes" /v "$family" /t REG_SZ /d NanumGothic /f >/dev/null 2>&1
done

make_image "$work/image" 131072
start_handset a COM5 --once --flash-out "$work/a.flash"
start_handset b COM6 --once --flash-out "$work/b.flash"
start_handset silent COM7 --power-on-delay 600000

mkdir -p "$(dirname "$picture")"
status=0
timeout "${RUN_LIMIT:-300}" "$wine" "$win/tests/ui/ui_window_run_check.exe" run \
  "$(windows_path "$(cd "$(dirname "$picture")" && pwd)/$(basename "$picture")")" \
  "$(windows_path "$work/image.mot")" COM5 COM6 COM7 >"$work/run.out" 2>&1 || status=$?
tr -d '\r' <"$work/run.out" | sed 's/^/  /'
check "the window's run passed its checks (exit $status)" test "$status" -eq 0
for h in a b; do
  check "handset $h's flash equals the image" cmp -s -n 131072 "$work/image.bin" "$work/$h.flash"
done
check "picture written: $picture" test -s "$picture"
stop_handsets

"$wine" reg query 'HKCU\Software\Orv\Kestrune' >"$work/reg.txt" 2>&1 || true
tr -d '\r' <"$work/reg.txt" | sed 's/^/  /' | grep -E 'COMM Port|Flash File' || true
# Ports are kept as their numbers: COM5 is 5.
check "the registry keeps channel 1's port" grep -qE 'COMM Port +REG_DWORD +0x0*5' "$work/reg.txt"
check "the registry keeps channel 2's port" grep -qE 'COMM Port1 +REG_DWORD +0x0*6' "$work/reg.txt"
check "the registry keeps the file" grep -q 'Flash File.*image\.mot' "$work/reg.txt"

"$wine" "$win/tests/ui/ui_window_run_check.exe" settings >"$work/settings.out" 2>&1 || true
tr -d '\r' <"$work/settings.out" | sed 's/^/  /'
check "the next start shows channel 1 on COM5" grep -q 'channel 1 port: COM5' "$work/settings.out"
check "the next start shows channel 2 on COM6" grep -q 'channel 2 port: COM6' "$work/settings.out"
check "the next start shows the file" grep -q 'file: .*image\.mot' "$work/settings.out"

[ "$failures" -eq 0 ]
