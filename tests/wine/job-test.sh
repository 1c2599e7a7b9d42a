#!/usr/bin/env bash
# Signed production jobs with the Windows kestrune-cli.exe under Wine: a key
# pair is made, a job is signed and verified (against a folder named with
# --trusted-keys, and against the station's own per-user folder
# %APPDATA%\Orv\Kestrune\trusted-keys); a job with one byte changed and a
# job signed by a key the station does not trust are refused with their
# texts, by `job verify` and by `--job`, and the handset on COM5 is never
# touched; last, the signed job flashes one Linux virtual handset linked as
# COM5, and the flash equals the image.
#
#   tests/wine/job-test.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
#
# Needs WINEPREFIX set to a prefix made for the test (scripts/wine-tests.sh
# makes one), and a Windows build with libcrypto (scripts/windows-deps.sh
# builds its cache).
set -euo pipefail
win=$(cd "$1" && pwd)
native=$(cd "$2" && pwd)
: "${WINEPREFIX:?must name a Wine prefix made for this test}"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEDEBUG=-all LC_ALL=C.UTF-8
work=$(mktemp -d /tmp/kestrune-wine-job.XXXXXX)
source "$(dirname "$0")/handsets.sh"
user_keys=""
cleanup() {
  stop_handsets
  [ -n "$user_keys" ] && rm -rf "$user_keys"
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() { # what, then the command that must succeed
  local what=$1
  shift
  if "$@"; then
    echo "wine job: $what"
  else
    echo "wine job FAILED: $what"
    failures=$((failures + 1))
  fi
}
cli=$win/cli/kestrune-cli.exe
# cli NAME ARGS...: runs kestrune-cli.exe; its exit status in $work/NAME.exit,
# standard output and error (without Windows' line ends) in $work/NAME.txt.
cli() {
  local name=$1 status=0
  shift
  timeout "${RUN_LIMIT:-120}" "$wine" "$cli" "$@" >"$work/$name.raw" 2>&1 || status=$?
  tr -d '\r' <"$work/$name.raw" >"$work/$name.txt"
  echo "$status" >"$work/$name.exit"
}
exited() { [ "$(cat "$work/$1.exit")" = "$2" ]; }
says() { grep -qF -- "$2" "$work/$1.txt"; }
show() { sed 's/^/  cli: /' "$work/$1.txt" | tail -n 5; }

mkdir -p "$work/trusted" "$work/other"
cli keygen job keygen "$(windows_path "$work/supervisor.pem")" \
  "$(windows_path "$work/trusted/supervisor-public.pem")"
check "job keygen makes an Ed25519 key pair" \
  eval 'exited keygen 0 && grep -q "BEGIN PRIVATE KEY" "$work/supervisor.pem" &&
        grep -q "BEGIN PUBLIC KEY" "$work/trusted/supervisor-public.pem"'
cli keygen-other job keygen "$(windows_path "$work/other.pem")" \
  "$(windows_path "$work/other/other-public.pem")"
cli keygen-again job keygen "$(windows_path "$work/supervisor.pem")" \
  "$(windows_path "$work/again-public.pem")"
check "job keygen never overwrites a key" eval 'exited keygen-again 1 && says keygen-again "exists"'

# The job pins the image by the SHA-256 of its bytes; its path is taken
# from the job file's folder.
make_image "$work/image" 65536
digest=$(sha256sum "$work/image.bin" | cut -d' ' -f1)
job() { # FILE VERSION
  printf '{"name": "wine-line", "version": "%s",\n "image": {"path": "image.bin", "sha256": "%s"},\n "speed": "920K"}\n' \
    "$2" "$digest" >"$1"
}
job "$work/job.json" 1
cli sign job sign --key "$(windows_path "$work/supervisor.pem")" "$(windows_path "$work/job.json")"
check "job sign writes the signature into the job" \
  eval 'exited sign 0 && grep -q "\"key_sha256\"" "$work/job.json"'
trusted=$(windows_path "$work/trusted")
cli verify job verify --trusted-keys "$trusted" "$(windows_path "$work/job.json")"
check "job verify trusts it" eval 'exited verify 0 && says verify "job wine-line 1 is signed by trusted key"' ||
  show verify

# One byte changed after signing: the version 1 becomes 2.
sed 's/"version": "1"/"version": "2"/' "$work/job.json" >"$work/changed.json"
check "the changed job differs in one byte" test "$(cmp -l "$work/job.json" "$work/changed.json" | wc -l)" = 1
cli changed job verify --trusted-keys "$trusted" "$(windows_path "$work/changed.json")"
check "job verify refuses the changed job" \
  eval 'exited changed 1 && says changed "job refused: job wine-line 2: its signature does not match its content"' ||
  show changed

job "$work/untrusted.json" 1
cli sign-other job sign --key "$(windows_path "$work/other.pem")" "$(windows_path "$work/untrusted.json")"
cli untrusted job verify --trusted-keys "$trusted" "$(windows_path "$work/untrusted.json")"
check "job verify refuses a key the station does not trust" \
  eval 'exited untrusted 1 && says untrusted "which this station does not trust"' || show untrusted

job "$work/unsigned.json" 1
cli unsigned job verify --trusted-keys "$trusted" "$(windows_path "$work/unsigned.json")"
check "job verify refuses an unsigned job" \
  eval 'exited unsigned 1 && says unsigned "job wine-line 1 is not signed (unsigned jobs are allowed only with --allow-unsigned-jobs)"' ||
  show unsigned

# The station's own per-user folder, without --trusted-keys.
# Wine keeps %APPDATA% of its user (the Linux user's name) here.
user_keys="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Orv/Kestrune/trusted-keys"
mkdir -p "$user_keys"
cli default-untrusted job verify "$(windows_path "$work/job.json")"
check "without --trusted-keys and with no key in the station's folders the job is refused" \
  eval 'exited default-untrusted 1 && says default-untrusted "which this station does not trust"' ||
  show default-untrusted
cp "$work/trusted/supervisor-public.pem" "$user_keys/"
cli default job verify "$(windows_path "$work/job.json")"
check "a key in %APPDATA%\\Orv\\Kestrune\\trusted-keys is trusted" \
  eval 'exited default 0 && says default "Orv\\Kestrune\\trusted-keys\\supervisor-public.pem"' || show default
rm -rf "$user_keys"

# --job refuses before the port opens: the handset sees nothing.
untouched() { ! grep -q 'host opened the line\|got ' "$work/$1.log"; }
refused_run() { # NAME JOB TEXT
  start_handset "$1" COM5 --once --trace || return 1
  cli "$1" --job "$(windows_path "$2")" --trusted-keys "$trusted" COM5
  sleep 0.5
  stop_handsets
  exited "$1" 1 && says "$1" "$3" && untouched "$1" || { show "$1"; return 1; }
}
check "--job refuses the changed job and the handset is untouched" \
  refused_run run-changed "$work/changed.json" "its signature does not match its content"
check "--job refuses the untrusted key and the handset is untouched" \
  refused_run run-untrusted "$work/untrusted.json" "which this station does not trust"
cp "$work/image.bin" "$work/image-good.bin"
head -c 65536 /dev/urandom >"$work/image.bin"
check "--job refuses an image whose bytes are not the job's and the handset is untouched" \
  refused_run run-image "$work/job.json" "the job pins $digest"
mv "$work/image-good.bin" "$work/image.bin"
cli pinned --job "$(windows_path "$work/job.json")" --trusted-keys "$trusted" --speed 115K COM5
check "an option the job pins is a usage error" \
  eval 'exited pinned 2 && says pinned "the job pins --speed"' || show pinned

# The signed job flashes the handset.
flashed() {
  start_handset flash COM5 --once --flash-out "$work/flash.bin" || return 1
  cli flash --job "$(windows_path "$work/job.json")" --trusted-keys "$trusted" COM5
  poll '! kill -0 "${handset_pids[0]}" 2>/dev/null' 20 || true
  stop_handsets
  exited flash 0 && grep -qE "^1 +COM5 +passed" "$work/flash.txt" && cmp -s -n 65536 "$work/image.bin" "$work/flash.bin" ||
    { show flash; return 1; }
}
check "--job flashes the handset on COM5 with the job's image" flashed

[ "$failures" -eq 0 ]
