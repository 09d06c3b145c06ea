#!/usr/bin/env bash
# The capture's decode, filter and hex dump into a memory sink against
# tcpdump -n -X -r reading the same pcap file to /dev/null, side by side in one
# run. The file (in /dev/shm: no disk is timed) holds PACKETS (200000) IPv4
# packets to or from port 80, TCP and UDP, payloads of 0-1460 bytes in a fixed
# mix (a quarter are acknowledgements without payload); tcpdump -n so that no
# name is looked up. Packets per second, best of RUNS (3) runs, by CPU time
# (user + sys) and wall time.
#
# Then, as root, live in a pair of namespaces joined by a veth pair (traffic
# from a to b, SECONDS (5) a run): the Packet Capture page (offscreen, port 80,
# Data view) beside tcpdump -n -X on the same interface with the same filter,
# each on traffic of its own. First UDP to port 9 at 150,000 packets a second,
# which the kernel filter rejects: what each lost. Then UDP with 100 bytes of
# data to port 80 at RATE (20,000) a second: what each printed and lost, and
# the page's longest stall of its event loop.
#
# Then the page saving to a file (in /dev/shm) beside tcpdump -w on the same
# interface at the same time, both on the same traffic: UDP with 100 bytes of
# data to port 80 at RATE a second in the Data view, and at FILE_RATE
# (150,000) a second in the None view: what each sent, printed and saved
# (the packets in its file, read back by tcpdump -r), what the kernel dropped,
# and the page's longest stall.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="${BUILD_DIR:-$top/build/bench}"
runs="${RUNS:-3}"
packets="${PACKETS:-200000}"

"$top/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DQUORLIX_BENCH=ON -- capture_bench capture_live >/dev/null

work="$(mktemp -d /dev/shm/quorlix-capture.XXXXXX)"
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work/burst.pcap" "$packets" <<'PY'
import random, struct, sys
path, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(15)
out = open(path, "wb")
out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 101))  # link type raw IPv4
for n in range(count):
    kind = rng.random()
    size = 0 if kind < 0.25 else rng.randint(1, 120) if kind < 0.6 else rng.randint(120, 600) if kind < 0.85 else rng.randint(1000, 1460)
    payload = bytes(rng.getrandbits(8) for _ in range(size)) if size < 64 else (b"GET /index.html HTTP/1.1\r\nHost: example.test\r\n" * 40)[:size]
    udp = rng.random() < 0.2
    ports = (rng.randint(1024, 65535), 80) if rng.random() < 0.5 else (80, rng.randint(1024, 65535))
    header = struct.pack("!HHHH", ports[0], ports[1], 8 + size, 0) if udp else struct.pack("!HHIIBBHHH", ports[0], ports[1], n, 1, 0x50, 0x18, 65535, 0, 0)
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(header) + size, n & 0xFFFF, 0x4000, 64, 17 if udp else 6, 0,
                     bytes([10, 15, 0, 1]), bytes([10, 15, 0, 2]))
    frame = ip + header + payload
    out.write(struct.pack("<IIII", n // 100000, n % 100000 * 10, len(frame), len(frame)) + frame)
PY

# One line a run: "name cpu wall", in seconds.
times() {
  local TIMEFORMAT="$1 %U %S %R"
  for _ in $(seq "$runs"); do { time sh -c "$2" >/dev/null; } 2>&1; done | awk '{ print $1, $2 + $3, $4 }'
}
{
  times tcpdump "tcpdump -n -X -r '$work/burst.pcap' 2>/dev/null"
  # CSV: name,iterations,real_time,cpu_time,... in ms a pass over the file
  QUORLIX_BENCH_PCAP="$work/burst.pcap" "$build/tests/capture_bench" \
    --benchmark_repetitions="$runs" --benchmark_format=csv 2>/dev/null |
    awk -F, '$1 ~ /^"BM_/ && $1 !~ /_(mean|median|stddev|cv)"$/ { print "quorlix", $4 / 1000, $3 / 1000 }'
} | awk -v packets="$packets" '
  { if (!($1 in cpu) || $2 < cpu[$1]) cpu[$1] = $2; if (!($1 in wall) || $3 < wall[$1]) wall[$1] = $3 }
  END {
    printf "Capture: decode, filter and hex dump of %d packets; packets per second, best of each (cpu, wall)\n", packets
    printf "%-22s%14s%14s%16s%14s%10s%8s%9s\n", "", "tcpdump cpu", "wall", "Quorlix cpu", "wall", "ratio", "", "wanted"
    printf "%-22s%14.0f%14.0f%16.0f%14.0f%9.1fx%7.1fx%8.1fx\n", "burst from pcap", packets / cpu["tcpdump"],
           packets / wall["tcpdump"], packets / cpu["quorlix"], packets / wall["quorlix"],
           cpu["tcpdump"] / cpu["quorlix"], wall["tcpdump"] / wall["quorlix"], 3.0
  }'

[ "$(id -u)" = 0 ] || { echo "live part skipped: needs root (namespaces)"; exit 0; }
seconds="${SECONDS_LIVE:-5}"
rate="${RATE:-20000}"
ns="qx15bench-$$-"
live="$build/tests/capture_live"
trap 'rm -rf "$work"; ip netns del ${ns}a 2>/dev/null; ip netns del ${ns}b 2>/dev/null; true' EXIT
ip netns add ${ns}a
ip netns add ${ns}b
ip -n ${ns}a link add a0 type veth peer name b0 netns ${ns}b
ip -n ${ns}a addr add 10.216.0.1/24 dev a0
ip -n ${ns}b addr add 10.216.0.2/24 dev b0
ip -n ${ns}a link set a0 up
ip -n ${ns}b link set b0 up
ip -n ${ns}b link set lo up

# live NAME PORT RATE SIZE: one run of each capture, "name sent printed drops stall timer".
live() {
  local out sent
  out="$work/ours" 
  ip netns exec ${ns}b "$live" capture 10.216.0.2 80 $((seconds + 2)) >"$out" 2>/dev/null &
  sleep 1
  sent=$(ip netns exec ${ns}a "$live" send 10.216.0.2 "$2" "$3" "$seconds" "$4" | awk '{ print $2 }')
  wait
  awk -v name="$1" -v sent="$sent" '{ print "quorlix", name, sent, $2, $4, $6, $8 }' "$out"
  ip netns exec ${ns}b timeout -s INT $((seconds + 2)) tcpdump -i b0 -n -X 'ip and udp port 80' >/dev/null 2>"$work/tcpdump" &
  sleep 1
  sent=$(ip netns exec ${ns}a "$live" send 10.216.0.2 "$2" "$3" "$seconds" "$4" | awk '{ print $2 }')
  wait || true
  awk -v name="$1" -v sent="$sent" '/packets captured/ { c = $1 } /dropped by kernel/ { d = $1 }
    END { print "tcpdump", name, sent, c, d, "-", "-" }' "$work/tcpdump"
}
echo
echo "Live capture on a veth pair, $seconds s a run: packets sent, printed, dropped by the kernel; longest stall (ms):"
echo "the longest wait of an event posted to the window (as input reaches it), and the longest gap of a 1 ms timer"
printf "%-10s%-28s%10s%10s%10s%10s%10s\n" "" "traffic" "sent" "printed" "dropped" "stall" "timer"
{ live "rejected-150000pps" 9 150000 18; live "accepted-${rate}pps" 80 "$rate" 100; } |
  awk '{ printf "%-10s%-28s%10s%10s%10s%10s%10s\n", $1, $2, $3, $4, $5, $6, $7 }'

# saved NAME RATE FORMAT: the page with a file and tcpdump -w, at once on the same traffic.
saved() {
  local sent
  rm -f "$work/ours.pcapng" "$work/tcpdump.pcap"
  ip netns exec ${ns}b timeout -s INT $((seconds + 2)) tcpdump -i b0 -n -w "$work/tcpdump.pcap" 'ip and udp port 80' \
    2>"$work/tcpdump" &
  ip netns exec ${ns}b "$live" capture 10.216.0.2 80 $((seconds + 2)) "$work/ours.pcapng" "$3" >"$work/ours" 2>/dev/null &
  sleep 1
  sent=$(ip netns exec ${ns}a "$live" send 10.216.0.2 80 "$2" "$seconds" 100 | awk '{ print $2 }')
  wait || true
  awk -v name="$1" -v sent="$sent" -v saved="$(tcpdump -r "$work/ours.pcapng" 2>/dev/null | wc -l)" \
    '{ print "quorlix", name, sent, $2, saved, $4, $6, $8 }' "$work/ours"
  awk -v name="$1" -v sent="$sent" -v saved="$(tcpdump -r "$work/tcpdump.pcap" 2>/dev/null | wc -l)" \
    '/dropped by kernel/ { d = $1 } END { print "tcpdump", name, sent, "-", saved, d, "-", "-" }' "$work/tcpdump"
}
echo
echo "Saving to a file beside tcpdump -w, at once, $seconds s a run: packets sent, printed, saved, dropped by the kernel; longest stall (ms)"
printf "%-10s%-28s%10s%10s%10s%10s%10s%10s\n" "" "traffic" "sent" "printed" "saved" "dropped" "stall" "timer"
{ saved "data-${rate}pps" "$rate" 0; saved "none-${FILE_RATE:-150000}pps" "${FILE_RATE:-150000}" 2; } |
  awk '{ printf "%-10s%-28s%10s%10s%10s%10s%10s%10s\n", $1, $2, $3, $4, $5, $6, $7, $8 }'
