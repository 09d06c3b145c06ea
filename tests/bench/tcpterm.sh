#!/usr/bin/env bash
# The TCP Socket page side by side with the reference tools, in one run:
#   1. masking unprintable bytes: MaskUnprintable against tr(1) on 200 MB;
#   2. taking a 200 MB flood from a loopback peer: the page (event loop kept
#      answering, pane bounded) against nc(1) writing the same bytes to /dev/null.
# Everything stays on 127.0.0.1.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="$top/build/release"
"$top/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORLIX_BENCH=ON -- tcpterm_bench tcpterm_live >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
seconds() { local t0 t1; t0=$(date +%s.%N); "$@"; t1=$(date +%s.%N); awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'; }
rate() { awk -v t="$1" 'BEGIN { printf "%.2f s  (%.0f MB/s)\n", t, 200 / t }'; }

echo "== masking unprintable bytes"
"$build/tests/tcpterm_bench" --benchmark_filter=Mask
# The flood of the peer test: 150 MB of FloodText chunks, 50 MB of NULs, "END".
python3 - "$work/flood" <<'PY'
import sys
unit = b"The TCP Socket page shows what the peer sends, 0123456789.\r\n" + bytes(range(256))
chunk = (unit * (256 * 1024 // len(unit) + 1))[:256 * 1024]
with open(sys.argv[1], "wb") as f:
    f.write(chunk * 600)
    f.write(bytes(len(chunk)) * 200)
    f.write(b"END")
PY
t=$(seconds sh -c "LC_ALL=C tr -c '\\11\\12\\15\\40-\\176' '.' < '$work/flood' > /dev/null")
echo "tr(1), 200 MB:              $(rate "$t")"

echo "== a 200 MB flood from a loopback peer"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
nc -N -l 127.0.0.1 "$port" < "$work/flood" &
sender=$!
sleep 0.3
read -r _ t _ stall _ pane rest < <("$build/tests/tcpterm_live" "$port")
wait "$sender" || true
echo "Quorlix page, 200 MB:       $(rate "$t")  longest wait of the window ${stall} ms, pane at most $pane bytes $rest"
nc -l 127.0.0.1 "$port" > /dev/null &
listener=$!
sleep 0.3
t=$(seconds sh -c "nc -N 127.0.0.1 '$port' < '$work/flood'")
wait "$listener" || true
echo "nc(1) to /dev/null, 200 MB: $(rate "$t")"
