#!/usr/bin/env bash
# base64.sh: the codec against coreutils' base64, side by side, in one run on
# the same 256 MiB of random bytes (kept in /dev/shm, so no disk is timed).
#   encode: ours with CR LF lines of 76, coreutils' base64 -w 76 (LF lines);
#   decode: both decode coreutils' LF-wrapped text of the same bytes; ours also
#           its own CR LF text. Ours is timed as the Base64 page calls it:
#           Base64DecodedSize, then Base64Decode into a buffer of that size.
# Rates are 10^9 raw (unencoded) bytes per second, best of RUNS runs (3), by
# CPU time (user + sys, the fairer figure on a shared machine) and wall time.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="${BUILD_DIR:-$top/build/bench}"
runs="${RUNS:-3}"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORLIX_BENCH=ON >/dev/null
cmake --build "$build" --target base64_bench >/dev/null

work="$(mktemp -d /dev/shm/quorlix-base64.XXXXXX)"
trap 'rm -rf "$work"' EXIT
bytes=$((256 * 1024 * 1024))
head -c "$bytes" /dev/urandom >"$work/input"
base64 -w 76 "$work/input" >"$work/input.b64"

# Prints "cpu wall" in seconds, the best of $runs runs of a shell command.
best_of() {
  local TIMEFORMAT='%U %S %R'
  for _ in $(seq "$runs"); do
    { time sh -c "$1" >/dev/null; } 2>&1
  done | awk 'NR == 1 || $1 + $2 < cpu { cpu = $1 + $2 } NR == 1 || $3 < wall { wall = $3 }
              END { print cpu, wall }'
}

read -r enc_cpu enc_wall < <(best_of "base64 -w 76 <'$work/input'")
read -r dec_cpu dec_wall < <(best_of "base64 -d <'$work/input.b64'")

QUORLIX_BENCH_INPUT="$work/input" QUORLIX_BENCH_TEXT="$work/input.b64" \
  "$build/tests/base64_bench" --benchmark_repetitions="$runs" --benchmark_format=csv 2>/dev/null |
  awk -F, -v size="$bytes" -v ec="$enc_cpu" -v ew="$enc_wall" -v dc="$dec_cpu" -v dw="$dec_wall" '
    # name,iterations,real_time,cpu_time,time_unit,... with times per iteration in ms
    $1 ~ /^"BM_/ && $1 !~ /_(mean|median|stddev|cv)"$/ {
      split($1, parts, "/"); name = substr(parts[1], 2)
      if (!(name in cpu) || $4 < cpu[name]) cpu[name] = $4
      if (!(name in wall) || $3 < wall[name]) wall[name] = $3
    }
    function row(label, rc, rw, name, wanted,   oc, ow) {
      oc = cpu[name] / 1000; ow = wall[name] / 1000
      printf "%-28s%10.2f%10.2f%10.2f%10.2f%8.1fx%7.1fx%8.1fx\n", label,
             size / rc / 1e9, size / rw / 1e9, size / oc / 1e9, size / ow / 1e9, rc / oc, rw / ow, wanted
    }
    END {
      printf "Base64 on %d MiB of random bytes: GB/s of raw bytes, best of each\n", size / 1048576
      printf "%-28s%20s%20s%16s%9s\n", "", "coreutils", "Quorlix", "ratio", "wanted"
      printf "%-28s%20s%20s%16s\n", "", "cpu      wall", "cpu      wall", "cpu    wall"
      row("encode, 76-char lines", ec, ew, "BM_Encode", 2.5)
      row("decode, coreutils LF text", dc, dw, "BM_DecodeLfText", 2.0)
      row("decode, our CR LF text", dc, dw, "BM_DecodeCrLfText", 2.0)
    }'
