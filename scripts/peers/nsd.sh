#!/usr/bin/env bash
# nsd.sh start ADDRESS DIR   starts NSD on ADDRESS port 53 (an address of
#                            127.0.0.0/8), serving the zones of tests/peers/dns,
#                            with its configuration, pid file and log in DIR;
#                            returns once it answers.
# nsd.sh stop DIR            stops the NSD started with DIR and waits for it.
# Needs the packages nsd and dnsutils (scripts/install-deps.sh) and root, or
# the right to bind port 53.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
zones="$top/tests/peers/dns"

start() {
  local address="$1" dir="$2"
  case "$address" in 127.*) ;; *) echo "nsd.sh: $address is not a loopback address" >&2; exit 2 ;; esac
  command -v nsd >/dev/null || { echo "nsd.sh: nsd is not installed" >&2; exit 3; }
  mkdir -p "$dir"
  cp "$zones"/*.zone "$dir"/
  {
    cat <<CONF
server:
    ip-address: $address@53
    do-ip6: no
    username: ""
    chroot: ""
    zonesdir: "$dir"
    database: ""
    zonelistfile: "$dir/zone.list"
    pidfile: "$dir/nsd.pid"
    xfrdfile: "$dir/xfrd.state"
    xfrdir: "$dir"
    logfile: "$dir/nsd.log"
    server-count: 1
    verbosity: 1
    # Response rate limiting would answer a benchmark's rapid queries with empty
    # truncated replies.
    rrl-ratelimit: 0
    rrl-whitelist-ratelimit: 0
remote-control:
    control-enable: no
CONF
    for zone in "$dir"/*.zone; do
      local name
      name="$(basename "$zone" .zone)"
      printf 'zone:\n    name: "%s"\n    zonefile: "%s"\n' "$name" "$(basename "$zone")"
    done
  } > "$dir/nsd.conf"
  nsd -c "$dir/nsd.conf"
  for _ in $(seq 1 100); do
    if dig +tries=1 +time=1 +noedns +short "@$address" example.test SOA >/dev/null 2>&1 &&
       [ -n "$(dig +tries=1 +time=1 +noedns +short "@$address" example.test SOA 2>/dev/null)" ]; then
      return 0
    fi
    sleep 0.05
  done
  echo "nsd.sh: NSD did not answer on $address; its log:" >&2
  cat "$dir/nsd.log" >&2 || true
  stop "$dir"
  exit 1
}

stop() {
  local dir="$1" pid
  [ -f "$dir/nsd.pid" ] || return 0
  pid="$(cat "$dir/nsd.pid")"
  if [ -n "$pid" ] && kill "$pid" 2>/dev/null; then
    for _ in $(seq 1 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
  fi
  rm -f "$dir/nsd.pid"
}

case "${1:-}" in
  start) [ $# -eq 3 ] || { echo "usage: nsd.sh start ADDRESS DIR" >&2; exit 2; }; start "$2" "$3" ;;
  stop)  [ $# -eq 2 ] || { echo "usage: nsd.sh stop DIR" >&2; exit 2; }; stop "$2" ;;
  *) echo "usage: nsd.sh start ADDRESS DIR | stop DIR" >&2; exit 2 ;;
esac
