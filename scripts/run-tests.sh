#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test, then the
# engine and handset tests again under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
jobs=$(nproc)

cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

# The thread-heavy suites once more under ThreadSanitizer (no desktop program).
cmake --preset tsan -DKESTRUNE_BUILD_UI=OFF
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -j "$jobs" -L 'engine|platform|cli|handset|e2e|sanitize'

# A short fuzz run of the S-record reader (clang, AddressSanitizer).
FUZZ_SECONDS=${FUZZ_SECONDS:-20} scripts/fuzz-image-smoke.sh
