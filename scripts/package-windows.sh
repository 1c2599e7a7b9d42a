#!/usr/bin/env bash
# Cross-builds the Windows programs (preset windows) and packs them with a
# short text on their use into build/windows/kestrune-<version>-windows-x64.zip.
#
# With the Windows libraries (scripts/windows-deps.sh) the zip holds the
# window kestrune.exe and kestrune-cli.exe with run records, beside every
# DLL they load that Windows does not have: Qt's, its platforms/, styles/
# and imageformats/ plugins, SQLite, libpq and the MinGW runtime. Without
# them it holds kestrune-cli.exe alone (no records), linked statically.
# Either way the script checks that nothing else is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

cmake --preset windows
build=build/windows
deps=$(sed -n 's/^KESTRUNE_WINDOWS_DEPS:PATH=//p' "$build/CMakeCache.txt")
targets=(kestrune-cli)
[ -n "$deps" ] && targets+=(kestrune)
cmake --build --preset windows -j "${JOBS:-$(nproc)}" --target "${targets[@]}"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
stage=$(mktemp -d /tmp/kestrune-zip.XXXXXX)
trap 'rm -rf "$stage"' EXIT
if [ -n "$deps" ]; then
  name=kestrune-$version-windows-x64
  readme=packaging/windows/README-window.txt
else
  name=kestrune-cli-$version-windows-x64
  readme=packaging/windows/README.txt
fi
dir=$stage/$name
mkdir "$dir"
strip=x86_64-w64-mingw32-strip
$strip -o "$dir/kestrune-cli.exe" "$build/cli/kestrune-cli.exe"
if [ -n "$deps" ]; then
  $strip -o "$dir/kestrune.exe" "$build/app/kestrune.exe"
  for plugin in platforms/qwindows styles/qwindowsvistastyle imageformats/qico; do
    mkdir -p "$dir/$(dirname "$plugin")"
    cp "$deps/plugins/$plugin.dll" "$dir/$plugin.dll"
  done
fi
# Windows wants CR LF in a text file a user opens with Notepad.
sed 's/$/\r/' "$readme" >"$dir/README.txt"

# Every DLL named by a program, plugin or DLL of the zip: one Windows has,
# or one copied beside the programs from the libraries or the MinGW runtime.
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32|imm32|winmm|ws2_32|msvcrt|bcrypt|secur32|crypt32|rpcrt4|shlwapi|uxtheme|dwmapi|version|netapi32|userenv|wtsapi32|setupapi|mpr|authz|d3d9|d3d11|d3d12|dxgi|dwrite|d2d1|opengl32|shcore|api-ms-win-.*)\.dll$'
runtime_dirs=()
[ -n "$deps" ] && runtime_dirs+=("$deps/bin")
runtime_dirs+=("$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")"
  /usr/x86_64-w64-mingw32/lib)
# Windows matches DLL names without regard to case (a program may name
# LIBPQ.dll, the file being libpq.dll).
find_dll() { # folder, name
  find "$1" -maxdepth 1 -type f -iname "$2" -print -quit 2>/dev/null
}
queue=("$dir"/*.exe "$dir"/*/*.dll)
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  while read -r dll; do
    lower=$(echo "$dll" | tr 'A-Z' 'a-z')
    echo "$lower" | grep -qE "$system_dlls" && continue
    [ -n "$(find_dll "$dir" "$dll")" ] && continue
    found=""
    for d in "${runtime_dirs[@]}"; do
      found=$(find_dll "$d" "$dll")
      [ -n "$found" ] && break
    done
    if [ -z "$found" ]; then
      echo "package-windows: $(basename "$file") needs $dll, which neither Windows nor the zip has" >&2
      exit 1
    fi
    cp "$found" "$dir/"
    queue+=("$dir/$(basename "$found")")
  done < <(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/.*DLL Name: //p')
done

# Debug symbols stay out of the zip (the MinGW runtime's libstdc++ alone
# carries 20 MB of them).
find "$dir" -type f \( -name '*.exe' -o -name '*.dll' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +

zip=$PWD/$build/$name.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "$name")
echo "package-windows: wrote $zip ($(cd "$stage" && du -sh "$name" | cut -f1) unpacked)"
(cd "$dir" && find . -type f | sort | sed 's/^\.\//  /')
