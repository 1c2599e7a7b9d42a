#!/usr/bin/env bash
# The demo: builds everything, makes a sample S-record image, starts eight
# virtual handsets on pseudo-terminals (paced at the real line rate) and
# flashes all eight at once with kestrune-cli; then checks every handset's
# flash against the image and prints a summary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"

bin=build/default
work=$(mktemp -d /tmp/kestrune-demo.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

"$bin/bench/tools/kestrune-sample-image" make "$work/sample.mot" "${DEMO_KIB:-288}"

ports=()
for channel in 1 2 3 4 5 6 7 8; do
  "$bin/handset/kestrune-handset" --pty --realtime --once \
    --flash-out "$work/flash$channel.bin" >"$work/handset$channel.out" 2>"$work/handset$channel.log" &
  pids+=($!)
done
for channel in 1 2 3 4 5 6 7 8; do
  for _ in $(seq 100); do
    [ -s "$work/handset$channel.out" ] && break
    sleep 0.05
  done
  ports+=("$(head -n 1 "$work/handset$channel.out")")
done
export KESTRUNE_PORTS=$(IFS=:; echo "${ports[*]}")

echo "== Flashing $(basename "$work")/sample.mot into eight virtual handsets at 920K"
status=0
"$bin/cli/kestrune-cli" --speed 920K --image "$work/sample.mot" --summary "$work/summary.tsv" \
  "${ports[@]}" | grep -vE ' Flash Erasing Sector ([2-9]|[0-9]{2,3})/131$' || status=$?

for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
pids=()

image_bytes=$(( $(stat -c %s "$work/sample.bif") - 8 ))
echo
echo "== Summary (image $image_bytes bytes)"
printf '%-3s %-12s %-10s %-8s %-9s %s\n' ch port result seconds KiB/s flash
echo '(seconds and KiB/s for the whole run, boot ROM call and RAM program at 28800 baud included)'
verified=0
while IFS=$'\t' read -r channel port outcome seconds _; do
  if "$bin/bench/tools/kestrune-sample-image" verify "$work/flash$channel.bin" "$work/sample.bif" \
      2>"$work/verify$channel.log"; then
    flash=matches; verified=$((verified + 1))
  else
    flash="DIFFERS: $(cat "$work/verify$channel.log")"
  fi
  rate=$(awk -v b="$image_bytes" -v s="$seconds" 'BEGIN { printf "%.1f", (s > 0 ? b / 1024 / s : 0) }')
  printf '%-3s %-12s %-10s %-8.2f %-9s %s\n' "$channel" "$port" "$outcome" "$seconds" "$rate" "$flash"
done <"$work/summary.tsv"

if [ "$status" -ne 0 ] || [ "$verified" -ne 8 ]; then
  echo "demo: FAILED (kestrune-cli exit $status, $verified of 8 flashes match)"
  exit 1
fi
echo "demo: all eight handsets flashed and verified"
