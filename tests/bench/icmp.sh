#!/usr/bin/env bash
# Times one echo and one whole three-hop trace of ours against Debian's
# traceroute -I -n -q 1 over the same routed namespaces (scripts/netns-topology.sh),
# once through an ICMP datagram socket and once through a raw socket. Needs root
# and the packages traceroute and nftables.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="$top/build/bench"
prefix="qxbench$$-"
runs="${TRACE_RUNS:-200}"
topo="$top/scripts/netns-topology.sh"

"$top/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DQUORLIX_BENCH=ON -- icmp_bench >/dev/null

"$topo" "$prefix" up
trap '"$topo" "$prefix" down' EXIT

for way in on off; do
  "$topo" "$prefix" dgram "$way"
  [ "$way" = on ] && kind="ICMP datagram socket" || kind="raw socket"
  echo "== Quorlix, $kind (Google Benchmark)"
  ip netns exec "${prefix}h" "$build/tests/icmp_bench" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true
  echo
done

echo "== traceroute -I -n -q 1 10.200.3.2 (raw socket as root), $runs runs"
ip netns exec "${prefix}h" bash -c '
  runs=$1
  start=$(date +%s%N); for _ in $(seq "$runs"); do traceroute -I -n -q 1 10.200.3.2 >/dev/null; done; end=$(date +%s%N)
  start2=$(date +%s%N); for _ in $(seq "$runs"); do /bin/true; done; end2=$(date +%s%N)
  awk -v ns=$(( end - start )) -v base=$(( end2 - start2 )) -v n="$runs" "BEGIN {
    printf \"traceroute whole process: mean %.1f us per trace (%.1f us of bare process start taken off)\n\",
      (ns - base) / n / 1e3, base / n / 1e3 }"
' bench "$runs"
echo "(Quorlix is timed inside one process, traceroute as a whole process: its own start-up is"
echo " part of each trace, and it sends its probes in parallel where Quorlix sends one a hop.)"
