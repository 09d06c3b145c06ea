#!/usr/bin/env bash
# nsd.sh start ADDRESS DIR: NSD on ADDRESS (127.0.0.0/8 or ::1; several joined by commas) port 53 serving
#                           the zones of tests/peers/dns, its files in DIR; returns once it answers on each.
# nsd.sh stop DIR:          stops the NSD started with DIR and waits for it. Needs nsd, dig and port 53.
set -euo pipefail
zones="$(cd "$(dirname "$0")/../.." && pwd)/tests/peers/dns"

start() {
  local addresses dir="$2" ip6=no address
  IFS=, read -r -a addresses <<< "$1"
  for address in "${addresses[@]}"; do
    case "$address" in 127.*) ;; ::1) ip6=yes ;; *) echo "nsd.sh: $address is not a loopback address" >&2; exit 2 ;; esac
  done
  mkdir -p "$dir" && cp "$zones"/*.zone "$dir"/
  {
    printf 'server:\n'
    printf '  ip-address: %s@53\n' "${addresses[@]}"
    # Rate limiting would answer a benchmark's rapid queries with empty truncated replies.
    printf '  do-ip6: %s\n  username: ""\n  chroot: ""\n  zonesdir: "%s"\n  database: ""\n' "$ip6" "$dir"
    printf '  %s: "'"$dir"'/%s"\n' zonelistfile zone.list pidfile nsd.pid xfrdfile xfrd.state logfile nsd.log
    printf '  xfrdir: "%s"\n  server-count: 1\n  rrl-ratelimit: 0\n  rrl-whitelist-ratelimit: 0\nremote-control:\n  control-enable: no\n' "$dir"
    for zone in "$dir"/*.zone; do printf 'zone:\n  name: "%s"\n  zonefile: "%s"\n' "$(basename "$zone" .zone)" "$(basename "$zone")"; done
  } > "$dir/nsd.conf"
  nsd -c "$dir/nsd.conf"
  local tries=0
  for address in "${addresses[@]}"; do
    until [ -n "$(dig +tries=1 +time=1 +noedns +short "@$address" example.test SOA 2>/dev/null)" ]; do
      tries=$((tries + 1))
      [ "$tries" -ge 100 ] && break 2
      sleep 0.05
    done
  done
  [ "$tries" -lt 100 ] && return 0
  echo "nsd.sh: NSD did not answer on $address; its log:" >&2
  cat "$dir/nsd.log" >&2 || true
  stop "$dir"
  exit 1
}

stop() {
  local pid
  pid="$(cat "$1/nsd.pid" 2>/dev/null)" || return 0
  kill "$pid" 2>/dev/null && for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  rm -f "$1/nsd.pid"
}

case "${1:-}" in
  start) [ $# -eq 3 ] && start "$2" "$3" ;;
  stop) [ $# -eq 2 ] && stop "$2" ;;
  *) echo "usage: nsd.sh start ADDRESS DIR | stop DIR" >&2; exit 2 ;;
esac
