#!/usr/bin/env bash
# mail.sh [BUILD_DIR]: one mail with a 20 MiB attachment, sent by the engine
# and by swaks(1) to the same sink, which answers at once and reads at memory
# speed, in a network namespace of the benchmark's own. Prints the median time
# of three sends each and the peak memory of the sending process.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
dir="${1:-$top/build/bench}"
"$top/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DQUORLIX_BENCH=ON -- mail_bench >/dev/null
[ "$(id -u)" = 0 ] || { echo "mail.sh: needs root, to make a network namespace" >&2; exit 2; }

ns="quorlix-mail-bench-16-$$"
work="$(mktemp -d)"
cleanup() {
  if [ -n "${sink:-}" ]; then kill "$sink" 2>/dev/null || true; wait "$sink" 2>/dev/null || true; fi
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ip netns add "$ns"
ip netns exec "$ns" ip link set lo up
head -c $((20 * 1024 * 1024)) /dev/urandom > "$work/attachment.bin"

ip netns exec "$ns" python3 "$top/tests/bench/smtp_sink.py" 127.0.0.1 25 > "$work/sink.log" &
sink=$!
for _ in $(seq 100); do grep -q ready "$work/sink.log" 2>/dev/null && break; sleep 0.05; done

median() { sort -n | sed -n 2p; }
# Wall time in seconds and peak resident memory in KiB of one run of a command.
measure() { /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }; cat "$work/time"; }

for i in 1 2 3; do
  ip netns exec "$ns" env QUORLIX_MAIL_SINK=127.0.0.1 QUORLIX_MAIL_FILE="$work/attachment.bin" \
    /usr/bin/time -f "%M" -o "$work/ours.mem.$i" "$dir/tests/mail_bench" --benchmark_min_time=0 \
    --benchmark_format=json --benchmark_out="$work/ours.$i.json" >/dev/null
  python3 -c 'import json,sys; b=json.load(open(sys.argv[1]))["benchmarks"][0]; assert "error_message" not in b, b; print(b["real_time"]/1000)' \
    "$work/ours.$i.json" >> "$work/ours.times"
  measure ip netns exec "$ns" swaks --server 127.0.0.1 --port 25 --from x@bench.test --to x@bench.test \
    --attach "$work/attachment.bin" --suppress-data --silent 2 >> "$work/swaks.runs"
done

ours=$(median < "$work/ours.times")
swaks=$(cut -d' ' -f1 "$work/swaks.runs" | median)
ours_mem=$(cat "$work"/ours.mem.* | sort -n | tail -1)
swaks_mem=$(cut -d' ' -f2 "$work/swaks.runs" | sort -n | tail -1)
echo "20 MiB attachment, median of 3 sends to the same sink:"
awk -v o="$ours" -v s="$swaks" -v om="$ours_mem" -v sm="$swaks_mem" 'BEGIN {
  printf "  quorlix engine  %6.3f s   peak memory %6.1f MiB\n", o, om / 1024
  printf "  swaks           %6.3f s   peak memory %6.1f MiB\n", s, sm / 1024
  printf "  swaks takes %.1fx as long\n", s / o }'
