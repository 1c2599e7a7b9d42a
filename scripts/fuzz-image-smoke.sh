#!/usr/bin/env bash
# Builds the fuzz preset (clang) and runs the S-record reader's fuzz target
# for a short while (FUZZ_SECONDS, default 30). Crashing inputs are kept in
# build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}

cmake --preset fuzz >/dev/null
cmake --build build/fuzz --target fuzz_mot_reader -j 2

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
mkdir -p build/fuzz/artifacts
# New inputs go to the scratch corpus; the seeds are only read.
build/fuzz/fuzz/image/fuzz_mot_reader -max_total_time="$seconds" -max_len=4096 \
  -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ "$corpus" fuzz/image/corpus
