#!/usr/bin/env bash
# Makes the Debian package from a build folder into a temporary folder and
# checks what it holds: the programs, the desktop entry, the MIME type, the
# icons, the manual pages and Debian's doc files, all under /usr and owned
# by root; and its control fields.
#   check-deb.sh BUILD_DIR SOURCE_DIR VERSION WITH_WINDOW(ON|OFF)
set -euo pipefail
build=$1 source=$2 version=$3 window=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "package: $*" >&2; failed=1; }

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" > "$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  exit 1
fi
deb="$work/kestrune_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "package: no $deb" >&2; ls "$work" >&2; exit 1; }

# "mode owner/group size date time ./path" -> "mode owner/group /path"
dpkg-deb -c "$deb" | awk '{sub(/^\./, "", $6); print $1, $2, $6}' > "$work/list"
entry() { awk -v p="$1" '$3 == p' "$work/list"; }
has() {
  local line
  line=$(entry "$1")
  [ -n "$line" ] || { fail "missing $1"; return; }
  [ -z "${2:-}" ] || [ "${line%% *}" = "$2" ] || fail "$1 has mode ${line%% *}, not $2"
}

programs=(kestrune-cli kestrune-handset)
# The dashboard, where its web server library was there to build it.
[ -x "$build/line/kestrune-line" ] && programs+=(kestrune-line)
[ "$window" = ON ] && programs+=(kestrune)
for p in "${programs[@]}"; do
  has "/usr/bin/$p" -rwxr-xr-x
  has "/usr/share/man/man1/$p.1.gz" -rw-r--r--
done
has /usr/share/doc/kestrune/copyright -rw-r--r--
has /usr/share/doc/kestrune/changelog.gz -rw-r--r--
sizes=(16 32 48 64 128 256)
if [ "$window" = ON ]; then
  has /usr/share/applications/kestrune.desktop -rw-r--r--
  has /usr/share/mime/packages/kestrune.xml -rw-r--r--
  has /usr/share/icons/hicolor/scalable/apps/kestrune.svg -rw-r--r--
  for s in "${sizes[@]}"; do
    has "/usr/share/icons/hicolor/${s}x$s/apps/kestrune.png" -rw-r--r--
  done
fi

awk '$3 !~ /^\/usr\// && $3 != "/" && $3 != "/usr/"' "$work/list" |
  while read -r line; do fail "outside /usr: $line"; done
awk '$2 != "root/root"' "$work/list" | while read -r line; do fail "not owned by root: $line"; done
awk 'substr($1, 6, 1) == "w" || substr($1, 9, 1) == "w"' "$work/list" |
  while read -r line; do fail "writable by others: $line"; done

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kestrune ] || fail "Package is $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version is $(field Version), not $version"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ "$(field Section)" = electronics ] || fail "Section is $(field Section)"
depends=$(field Depends)
wanted=(fonts-nanum libc6 libstdc++6)
[ "$window" = ON ] && wanted+=(libqt6widgets6)
# The package names alone, one a line.
names=$(tr ',|' '\n\n' <<< "$depends" | awk 'NF {print $1}')
for d in "${wanted[@]}"; do
  grep -qxF "$d" <<< "$names" || fail "Depends lacks $d: $depends"
done

mkdir "$work/root"
dpkg-deb -x "$deb" "$work/root"
top=$(zcat "$work/root/usr/share/doc/kestrune/changelog.gz" | head -n 1)
[[ "$top" == "kestrune ($version) "* ]] || fail "changelog's last entry is not $version: $top"

if [ "$window" = ON ]; then
  desktop="$work/root/usr/share/applications/kestrune.desktop"
  mime="$work/root/usr/share/mime/packages/kestrune.xml"
  if command -v desktop-file-validate > /dev/null; then
    desktop-file-validate "$desktop" || fail "desktop entry does not validate"
  fi
  exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -x "$work/root/usr/bin/$exec_program" ] || fail "Exec runs $exec_program, not in the package"
  [ "$(sed -n 's/^Icon=//p' "$desktop")" = kestrune ] || fail "Icon is not kestrune"
  # The system type is the one the program registers for the user at each start.
  user_type=$(sed -n 's/.*MotMimeType = "\(.*\)";/\1/p' "$source/platform/XdgAssociation.h")
  mime_type=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$mime")
  [ -n "$user_type" ] && [ "$mime_type" = "$user_type" ] ||
    fail "MIME type '$mime_type' is not the per-user '$user_type'"
  grep -q "^MimeType=$mime_type;$" "$desktop" || fail "desktop entry does not open $mime_type"
  grep -q '<glob pattern="\*\.mot"/>' "$mime" || fail "MIME type does not match *.mot"
  grep -q '<comment>Motorola S-Record Image</comment>' "$mime" || fail "MIME type comment"
  cmp -s "$work/root/usr/share/icons/hicolor/scalable/apps/kestrune.svg" "$source/ui/icons/kestrune.svg" ||
    fail "the icon is not the window's own"
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  for s in "${sizes[@]}"; do
    png="$work/root/usr/share/icons/hicolor/${s}x$s/apps/kestrune.png"
    [ -f "$png" ] || continue
    read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
      awk '{print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8}')
    [ "$w" = "$s" ] && [ "$h" = "$s" ] || fail "the ${s}x$s icon is ${w}x$h"
  done
fi
exit $failed
