#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test, then the
# engine and handset tests again under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
jobs=$(nproc)

cmake --preset default
cmake --build --preset default -j "$jobs"
# Every label, postgres included: those tests start a private PostgreSQL
# server each (from the Debian package postgresql; they say so and skip
# when its programs are missing) and run one at a time.
ctest --preset default -j "$jobs"

# The Windows build (MinGW-w64 cross build) and its tests under Wine: the
# portable suites, then kestrune-cli.exe flashing the virtual handset.
scripts/wine-tests.sh build/default

# A short fuzz run of the S-record reader and the handset core (clang,
# AddressSanitizer and UndefinedBehaviorSanitizer).
FUZZ_SECONDS=${FUZZ_SECONDS:-15} scripts/fuzz-smoke.sh

# The thread-heavy suites once more under ThreadSanitizer, the window's
# channel suites included.
cmake --preset tsan -DKESTRUNE_BUILD_UI=ON
cmake --build --preset tsan -j "$jobs" --target engine_tests platform_tests cli_tests cli_view_tests \
  handset_tests e2e_tests image_thread_tests ui_channels_test ui_download_test ui_ports_test \
  ramprogram_tests \
  records_tests
ctest --preset tsan -j "$jobs" -L 'engine|platform|cli|handset|e2e|sanitize|records'
