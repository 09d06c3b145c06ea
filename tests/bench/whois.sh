#!/usr/bin/env bash
# whois.sh [BUILD_DIR]: builds the whois benchmark and receives a 9,999-byte
# answer from a loopback server, the engine's large reads beside one byte per
# receive call, and prints the ratio.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
dir="${1:-$top/build/bench}"
"$top/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DQUORLIX_BENCH=ON -- whois_bench >/dev/null
json="$(mktemp)"
trap 'rm -f "$json"' EXIT
"$dir/tests/whois_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$json" --benchmark_out_format=json
python3 - "$json" <<'PY'
import json, sys
runs = {b["run_name"].split("/")[0]: b["real_time"] / 1000 for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name") == "median"}
ours, one = runs["BM_EngineReceive"], runs["BM_OneBytePerCall"]
print(f"\nmedian per 9,999-byte exchange: engine {ours:.1f} us, one byte per call {one:.1f} us"
      f" -> one byte per call takes {one / ours:.1f}x as long")
PY
