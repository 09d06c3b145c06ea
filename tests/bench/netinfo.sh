#!/usr/bin/env bash
# The Net Info page's port services report over this host's /etc/services
# (Debian's netbase): ours, one read of the file, against the C library's
# getservbyport for each of the ports 0 to 9999, which rereads the file on
# every call. Both build the same text (the benchmark checks it first).
# Milliseconds per report, best of RUNS (5) runs, by CPU and wall time.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="${BUILD_DIR:-$top/build/bench}"
runs="${RUNS:-5}"

"$top/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DQUORLIX_BENCH=ON -- netinfo_bench >/dev/null

# CSV: name,iterations,real_time,cpu_time,time_unit,... in ms
"$build/tests/netinfo_bench" --benchmark_repetitions="$runs" --benchmark_format=csv 2>/dev/null |
  awk -F, -v entries="$(grep -cE '^[^#[:space:]]+[[:space:]]+[0-9]+/' /etc/services)" '
    $1 ~ /^"BM_/ && $1 !~ /_(mean|median|stddev|cv)"$/ {
      name = substr($1, 2, length($1) - 2)
      if (!(name in cpu) || $4 < cpu[name]) cpu[name] = $4
      if (!(name in wall) || $3 < wall[name]) wall[name] = $3
    }
    END {
      if (!("BM_PortServicesReport" in cpu)) { print "the benchmark did not run (do both reports agree?)"; exit 1 }
      printf "Port services report, ports 0-9999, /etc/services with %d entries: ms per report, best of each\n", entries
      printf "%-16s%24s%20s%16s%10s\n", "", "getservbyport loop", "Quorlix", "ratio", "wanted"
      printf "%-16s%12s%12s%10s%10s%8s%8s\n", "", "cpu", "wall", "cpu", "wall", "cpu", "wall"
      r = "BM_GetservbyportLoop"; q = "BM_PortServicesReport"
      printf "%-16s%12.2f%12.2f%10.3f%10.3f%7.0fx%7.0fx%10s\n", "report", cpu[r], wall[r], cpu[q], wall[q],
             cpu[r] / cpu[q], wall[r] / wall[q], "< 5 ms"
    }'
