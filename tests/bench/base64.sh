#!/usr/bin/env bash
# The codec against coreutils' base64, side by side in one run on the same
# 256 MiB of random bytes (in /dev/shm: no disk is timed). Encode: ours with
# CR LF lines of 76, base64 -w 76. Decode: both take base64's LF text; ours
# also its own CR LF text. GB/s of raw bytes, best of RUNS (3) runs, by CPU
# time (user + sys, the fairer figure on a shared machine) and wall time.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="${BUILD_DIR:-$top/build/bench}"
runs="${RUNS:-3}"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORLIX_BENCH=ON >/dev/null
cmake --build "$build" --target base64_bench >/dev/null

work="$(mktemp -d /dev/shm/quorlix-base64.XXXXXX)"
trap 'rm -rf "$work"' EXIT
head -c $((256 << 20)) /dev/urandom >"$work/input"
base64 -w 76 "$work/input" >"$work/input.b64"

# "name cpu wall" lines, seconds per run, every run.
times() {
  local TIMEFORMAT="$1 %U %S %R"
  for _ in $(seq "$runs"); do { time sh -c "$2" >/dev/null; } 2>&1; done | awk '{ print $1, $2 + $3, $4 }'
}
{
  times coreutils-encode "base64 -w 76 <'$work/input'"
  times coreutils-decode "base64 -d <'$work/input.b64'"
  # name,iterations,real_time,cpu_time,... in ms per run
  QUORLIX_BENCH_INPUT="$work/input" QUORLIX_BENCH_TEXT="$work/input.b64" "$build/tests/base64_bench" \
    --benchmark_repetitions="$runs" --benchmark_format=csv 2>/dev/null |
    awk -F, '$1 ~ /^"BM_/ && $1 !~ /_(mean|median|stddev|cv)"$/ {
      split(substr($1, 2), name, "/"); print name[1], $4 / 1000, $3 / 1000 }'
} | awk -v size=$((256 << 20)) '
  { if (!($1 in cpu) || $2 < cpu[$1]) cpu[$1] = $2; if (!($1 in wall) || $3 < wall[$1]) wall[$1] = $3 }
  function row(label, ref, ours, wanted) {
    printf "%-28s%10.2f%10.2f%10.2f%10.2f%8.1fx%7.1fx%8.1fx\n", label, size / cpu[ref] / 1e9, size / wall[ref] / 1e9,
           size / cpu[ours] / 1e9, size / wall[ours] / 1e9, cpu[ref] / cpu[ours], wall[ref] / wall[ours], wanted
  }
  END {
    printf "Base64 on %d MiB of random bytes: GB/s of raw bytes, best of each\n", size / 1048576
    printf "%-28s%20s%20s%16s%9s\n", "", "coreutils", "Quorlix", "ratio", "wanted"
    printf "%-28s%20s%20s%16s\n", "", "cpu      wall", "cpu      wall", "cpu    wall"
    row("encode, 76-char lines", "coreutils-encode", "BM_Encode", 2.5)
    row("decode, coreutils LF text", "coreutils-decode", "BM_DecodeLfText", 2.0)
    row("decode, our CR LF text", "coreutils-decode", "BM_DecodeCrLfText", 2.0)
  }'
