#!/usr/bin/env bash
# Times one DNS exchange of ours with a local NSD against dig's query time for
# the same query (example.test MX, no EDNS, one try), and the parse of a full
# 1000-byte reply. Needs root (NSD listens on port 53) and the packages nsd and
# dnsutils.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="$top/build/bench"
address="127.53.251.$(( $$ % 250 + 1 ))"
state="/tmp/quorlix-bench-nsd-$$"
runs="${DIG_RUNS:-300}"

"$top/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DQUORLIX_BENCH=ON -- dns_bench >/dev/null

"$top/scripts/peers/nsd.sh" start "$address" "$state"
trap '"$top/scripts/peers/nsd.sh" stop "$state"; rm -rf "$state"' EXIT

echo "== Quorlix (Google Benchmark)"
QUORLIX_BENCH_DNS_SERVER="$address" "$build/tests/dns_bench" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true

echo
echo "== dig +tries=1 +noedns @$address example.test MX, $runs runs"
times="$(for _ in $(seq "$runs"); do
  dig +tries=1 +noedns "@$address" example.test MX | sed -n 's/^;; Query time: \([0-9]*\) msec$/\1/p'
done)"
echo "$times" | awk '{ s += $1; if (NR == 1 || $1 < min) min = $1; if ($1 > max) max = $1 }
  END { printf "dig query time: mean %.3f ms, min %d ms, max %d ms (dig reports whole milliseconds)\n", s / NR, min, max }'
# dig's millisecond figure says little at loopback speed: many queries in one
# dig process (-f) give the time per exchange without the process start.
batch="$state/batch"
for _ in $(seq 2000); do echo "+tries=1 +noedns @$address example.test MX"; done > "$batch"
start=$(date +%s%N)
dig -f "$batch" >/dev/null
end=$(date +%s%N)
awk -v ns=$(( end - start )) 'BEGIN { printf "dig -f, 2000 queries in one process: %.1f us per query (exchange and print)\n", ns / 2000 / 1e3 }'
