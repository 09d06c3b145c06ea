#!/usr/bin/env bash
# The codec against coreutils' base64, side by side in one run on the same
# 256 MiB of random bytes (in /dev/shm: no disk is timed). Encode: ours with
# CR LF lines of 76, base64 -w 76. Decode: both take base64's LF text. GB/s of
# raw bytes, best of RUNS (3) runs, by CPU time (user + sys, the fairer figure
# on a shared machine) and wall time.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="${BUILD_DIR:-$top/build/bench}"
runs="${RUNS:-3}"

"$top/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DQUORLIX_BENCH=ON -- base64_bench >/dev/null

work="$(mktemp -d /dev/shm/quorlix-base64.XXXXXX)"
trap 'rm -rf "$work"' EXIT
head -c $((256 << 20)) /dev/urandom >"$work/input"
base64 -w 76 "$work/input" >"$work/input.b64"

# One line a run: "name cpu wall", in seconds.
times() {
  local TIMEFORMAT="$1 %U %S %R"
  for _ in $(seq "$runs"); do { time sh -c "$2" >/dev/null; } 2>&1; done | awk '{ print $1, $2 + $3, $4 }'
}
{
  times coreutils:BM_Encode "base64 -w 76 <'$work/input'"
  times coreutils:BM_Decode "base64 -d <'$work/input.b64'"
  # CSV: name,iterations,real_time,cpu_time,... in ms a run
  QUORLIX_BENCH_INPUT="$work/input" QUORLIX_BENCH_TEXT="$work/input.b64" "$build/tests/base64_bench" \
    --benchmark_repetitions="$runs" --benchmark_format=csv 2>/dev/null |
    awk -F, '$1 ~ /^"BM_/ && $1 !~ /_(mean|median|stddev|cv)"$/ {
      split(substr($1, 2), name, "/"); print name[1], $4 / 1000, $3 / 1000 }'
} | awk -v size=$((256 << 20)) '
  { if (!($1 in cpu) || $2 < cpu[$1]) cpu[$1] = $2; if (!($1 in wall) || $3 < wall[$1]) wall[$1] = $3 }
  function row(label, ours, wanted,   ref) {
    ref = "coreutils:" ours
    printf "%-8s%12.2f%8.2f%12.2f%8.2f%10.1fx%6.1fx%8.1fx\n", label, size / cpu[ref] / 1e9, size / wall[ref] / 1e9,
           size / cpu[ours] / 1e9, size / wall[ours] / 1e9, cpu[ref] / cpu[ours], wall[ref] / wall[ours], wanted
  }
  END {
    printf "Base64 on %d MiB of random bytes: GB/s of raw bytes, best of each (cpu, wall)\n", size / 1048576
    printf "%-8s%20s%20s%18s%9s\n", "", "coreutils", "Quorlix", "ratio", "wanted"
    row("encode", "BM_Encode", 2.5)
    row("decode", "BM_Decode", 2.0)
  }'
