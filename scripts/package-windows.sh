#!/usr/bin/env bash
# Cross-builds kestrune-cli.exe for 64-bit Windows (preset windows) and
# packs it with a short text on its use into
# build/windows/kestrune-cli-<version>-windows-x64.zip. The program is
# linked statically: besides it the zip holds nothing, and the script
# checks that it needs only DLLs every Windows has.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

cmake --preset windows
cmake --build --preset windows -j "${JOBS:-$(nproc)}" --target kestrune-cli

build=build/windows
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
stage=$(mktemp -d /tmp/kestrune-zip.XXXXXX)
trap 'rm -rf "$stage"' EXIT
name=kestrune-cli-$version-windows-x64
mkdir "$stage/$name"
x86_64-w64-mingw32-strip -o "$stage/$name/kestrune-cli.exe" "$build/cli/kestrune-cli.exe"
# Windows wants CR LF in a text file a user opens with Notepad.
sed 's/$/\r/' packaging/windows/README.txt >"$stage/$name/README.txt"

system_dlls='^(kernel32|user32|advapi32|shell32|msvcrt|bcrypt|winmm|ws2_32|ole32)\.dll$'
while read -r dll; do
  if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -qE "$system_dlls"; then
    echo "package-windows: kestrune-cli.exe needs $dll, which Windows does not have" >&2
    exit 1
  fi
done < <(x86_64-w64-mingw32-objdump -p "$stage/$name/kestrune-cli.exe" | sed -n 's/.*DLL Name: //p')

zip=$PWD/$build/$name.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "$name")
echo "package-windows: wrote $zip"
