#!/usr/bin/env bash
# The NetStat table of 50,000 loopback connections, half over IPv6, in a
# network namespace of the benchmark's own, side by side with ss(8) in the same
# run: the engine's dump and format against `ss -tan`, the page's refresh with
# its pane, and the peak memory. The connections are split over several
# processes, as one process may hold about 20,000 descriptors here. Needs root.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="$top/build/bench"
ns="qx13-bench-$$"
pairs="${NETSTAT_PAIRS:-50000}"
processes=10
runs=5

"$top/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DQUORLIX_BENCH=ON -- netstat_page_bench >/dev/null

work="$(mktemp -d)"
holders=()
cleanup() {
  for pid in "${holders[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ip netns add "$ns"
ip -n "$ns" link set lo up
ip netns exec "$ns" sysctl -qw net.ipv4.ip_local_port_range="1024 65000"

# Each holder listens on a port of its own, connects its share of clients to
# it, accepts them all, says so and holds them until it is killed.
cat > "$work/hold.py" <<'PY'
import os, signal, socket, sys
port, count, ready, host = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
listener = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET)
listener.bind((host, port))
listener.listen(4096)
held = []
for start in range(0, count, 1000):
    batch = [socket.create_connection((host, port)) for _ in range(min(1000, count - start))]
    held += batch + [listener.accept()[0] for _ in batch]
open(ready, "w").close()
signal.pause()
PY
for i in $(seq 1 "$processes"); do
  ip netns exec "$ns" python3 "$work/hold.py" $((1000 + i)) $((pairs / processes)) "$work/ready.$i" "$([ "$i" -gt $((processes / 2)) ] && echo ::1 || echo 127.0.0.1)" &
  holders+=($!)
done
until [ "$(ls "$work" | grep -c '^ready')" -eq "$processes" ]; do
  for pid in "${holders[@]}"; do kill -0 "$pid" 2>/dev/null || { echo "a holder failed" >&2; exit 1; }; done
  sleep 0.5
done
echo "== $(ip netns exec "$ns" ss -tan | tail -n +2 | wc -l) TCP sockets in namespace $ns"

echo
echo "== Quorlix: engine dump+format, page refresh with the pane"
ip netns exec "$ns" "$build/tests/netstat_page_bench" --benchmark_repetitions=$runs \
  --benchmark_report_aggregates_only=true

echo
for options in -tan -tanp; do
echo "== ss $options, $runs runs (output to a pipe, as the engine's text goes to memory)"
ip netns exec "$ns" python3 - "$runs" "$options" <<'PY'
import os, resource, subprocess, sys, time
wall, cpu = [], []
for _ in range(int(sys.argv[1])):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    subprocess.run(["ss", sys.argv[2]], stdout=subprocess.PIPE, check=True)
    wall.append((time.perf_counter() - t0) * 1000)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu.append((after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime) * 1000)
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
median = lambda v: sorted(v)[len(v) // 2]
print(f"ss {sys.argv[2]}: median {median(wall):.0f} ms real, {median(cpu):.0f} ms CPU; min {min(wall):.0f} ms real; peak {peak:.1f} MB")
PY
done
echo "(Quorlix's Time column above is real time; its CPU column, process CPU, compares with ss's CPU figure.)"
