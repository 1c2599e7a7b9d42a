#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the
# default build, the Windows build under Wine, a short fuzz run, then the
# thread-heavy suites again under ThreadSanitizer.
#
# Most tests wait on virtual handsets paced at the line rate and leave the
# CPU idle, so ctest runs one more at once than there are cores (the
# stress tests of several programs and sixteen handsets each need a core
# of their own, and more of them at once starve each other), and the
# Windows and ThreadSanitizer builds run behind the default tests at the
# lowest priority. Their output goes to build/<preset>-build.log and is shown
# when they fail.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
jobs=$(nproc)
test_jobs=$((jobs + 1))
started=$(date +%s)
phase() { echo "== $1 ($(($(date +%s) - started)) s)"; }

cmake --preset default
cmake --build --preset default -j "$jobs"
phase "default build done"

tsan_targets=(engine_tests platform_tests cli_tests cli_view_tests handset_tests e2e_tests
  image_thread_tests ui_channels_test ui_download_test ui_ports_test ramprogram_tests
  records_tests serial_tests serial_ledger_tests jobcount_tests)
cmake --preset tsan -DKESTRUNE_BUILD_UI=ON

# The two builds run one after the other behind the tests, Windows first
# (the Wine tests need it sooner; on a machine's first run it includes the
# Windows libraries). Each writes its exit status to
# build/<preset>-build.status when it ends.
rm -f build/windows-build.status build/tsan-build.status
# Job control puts the builds in a process group of their own, so that
# stopping the run stops the compilers too.
set -m
(
  status=0
  # The Windows libraries (Qt, SQLite, libpq, libpqxx) first: cross-built
  # from Debian's sources into ~/.cache/kestrune once per machine, at once
  # when they are there. The Windows build finds them when configured.
  {
    nice -n 19 scripts/windows-deps.sh && cmake --preset windows &&
      nice -n 19 cmake --build --preset windows -j "$jobs"
  } >build/windows-build.log 2>&1 || status=$?
  echo "$status" >build/windows-build.status
  status=0
  nice -n 19 cmake --build --preset tsan -j "$jobs" --target "${tsan_targets[@]}" \
    >build/tsan-build.log 2>&1 || status=$?
  echo "$status" >build/tsan-build.status
) &
background=$!
set +m
trap 'kill -- "-$background" 2>/dev/null || true' EXIT

# Waits for one background build; on failure shows its log and stops.
finish_build() {
  local name=$1
  while [[ ! -s build/$name-build.status ]] && kill -0 "$background" 2>/dev/null; do
    sleep 1
  done
  if [[ "$(cat "build/$name-build.status" 2>/dev/null)" != 0 ]]; then
    cat "build/$name-build.log"
    echo "the $name build failed (log above: build/$name-build.log)" >&2
    exit 1
  fi
  phase "$name build done"
}

# Every label, postgres included: those tests start a private PostgreSQL
# server each (from the Debian package postgresql; they say so and skip
# when its programs are missing) and run one at a time.
ctest --preset default -j "$test_jobs"
phase "default tests passed"

# A short fuzz run of the S-record reader and the handset core (clang,
# AddressSanitizer and UndefinedBehaviorSanitizer).
FUZZ_SECONDS=${FUZZ_SECONDS:-15} scripts/fuzz-smoke.sh
phase "fuzz smoke passed"

# The Windows programs and portable suites under Wine, kestrune-cli.exe
# flashing the virtual handset and keeping run records, the window, and
# the zip in a new prefix.
finish_build windows
scripts/wine-tests.sh build/default
phase "wine tests passed"

# The thread-heavy suites once more under ThreadSanitizer, the window's
# channel suites included. The long realistic-timing run is about waiting,
# not threads, and is left to the default pass.
finish_build tsan
ctest --preset tsan -j "$test_jobs" -L 'engine|platform|cli|handset|e2e|sanitize|records|serial|jobcount' -LE long
phase "all passed"
