#!/usr/bin/env bash
# Builds the fuzz preset (clang) and runs each fuzz target for a short while
# (FUZZ_SECONDS each, default 30): the S-record reader and the virtual
# handset's protocol core. Crashing inputs are kept in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}

cmake --preset fuzz >/dev/null
cmake --build build/fuzz --target fuzz_mot_reader handset_core_fuzz -j 2

mkdir -p build/fuzz/artifacts
run() {
  local target=$1; shift
  local corpus
  corpus=$(mktemp -d)
  # New inputs go to a scratch corpus; seeds are only read.
  "build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build/fuzz/artifacts/ "$corpus" "$@"
  rm -rf "$corpus"
}
run image/fuzz_mot_reader -max_len=4096 fuzz/image/corpus
run handset/handset_core_fuzz -max_len=65536
