#!/bin/sh
# netns-topology.sh PREFIX up|down|silence R|unsilence R|mute-target|unmute-target|dgram on|off
#
# A routed topology in four network namespaces, for the ICMP tests, dual-stack:
#   h(10.200.1.2) -- (10.200.1.1)r1(10.200.2.1) -- (10.200.2.2)r2(10.200.3.1) -- (10.200.3.2)t
#   h(2001:db8:1::2) -- (2001:db8:1::1)r1(2001:db8:2::1) -- (2001:db8:2::2)r2(2001:db8:3::1) -- (2001:db8:3::2)t
# In h the names t.test (both addresses of t) and t6.test (its IPv6 one alone)
# resolve through /etc/netns/PREFIXh/hosts.
# PREFIX makes the names unique per test run (PREFIXh, PREFIXr1, PREFIXr2, PREFIXt).
# Every veth end is created inside its namespace: nothing appears in, or is
# routed through, the host's own namespace. Needs root.
# 10.200.9.0/24, and everything outside 10.200.0.0/16 (the host's name servers
# too), is unreachable: r1 answers it with net-unreachable at once, through nft,
# since the kernel's own no-route answer is rate limited per source
# (net.ipv4.route.error_burst) and a trace sends one probe a hop. The same for
# IPv6: 2001:db8:9::/64 and everything outside 2001:db8::/32 (link-local and
# multicast apart) gets no-route.
#   silence r1|r2   the router forwards but sends no ICMP errors (time-exceeded, unreachable)
#   mute-target     the target ignores echo requests
#   dgram on|off    whether h allows ICMP and ICMPv6 datagram sockets (ping_group_range); on after up
set -e
[ $# -ge 2 ] || { echo "usage: $0 PREFIX up|down|silence R|unsilence R|mute-target|unmute-target|dgram on|off" >&2; exit 2; }
P=$1; shift
H=${P}h R1=${P}r1 R2=${P}r2 T=${P}t
router() {
  case "$1" in r1) echo $R1;; r2) echo $R2;; *) echo "no router $1" >&2; exit 2;; esac
}
case "$1" in
up)
  for n in $H $R1 $R2 $T; do
    ip netns add $n; ip -n $n link set lo up
    # no duplicate address detection, for the link-local addresses too: a
    # tentative address leaves neighbour discovery and ICMPv6 errors unsent
    ip netns exec $n sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0
  done
  ip -n $H  link add h0  type veth peer name r1a netns $R1
  ip -n $R1 link add r1b type veth peer name r2a netns $R2
  ip -n $R2 link add r2b type veth peer name t0  netns $T
  ip -n $H  addr add 10.200.1.2/24 dev h0
  ip -n $R1 addr add 10.200.1.1/24 dev r1a
  ip -n $R1 addr add 10.200.2.1/24 dev r1b
  ip -n $R2 addr add 10.200.2.2/24 dev r2a
  ip -n $R2 addr add 10.200.3.1/24 dev r2b
  ip -n $T  addr add 10.200.3.2/24 dev t0
  ip -n $H  addr add 2001:db8:1::2/64 dev h0 nodad
  ip -n $R1 addr add 2001:db8:1::1/64 dev r1a nodad
  ip -n $R1 addr add 2001:db8:2::1/64 dev r1b nodad
  ip -n $R2 addr add 2001:db8:2::2/64 dev r2a nodad
  ip -n $R2 addr add 2001:db8:3::1/64 dev r2b nodad
  ip -n $T  addr add 2001:db8:3::2/64 dev t0 nodad
  ip -n $H link set h0 up; ip -n $R1 link set r1a up; ip -n $R1 link set r1b up
  ip -n $R2 link set r2a up; ip -n $R2 link set r2b up; ip -n $T link set t0 up
  ip -n $H  route add default via 10.200.1.1
  ip -n $R1 route add 10.200.3.0/24 via 10.200.2.2
  ip -n $R2 route add default via 10.200.2.1
  ip -n $T  route add default via 10.200.3.1
  ip -n $H  route add default via 2001:db8:1::1
  ip -n $R1 route add 2001:db8:3::/64 via 2001:db8:2::2
  ip -n $R2 route add default via 2001:db8:2::1
  ip -n $T  route add default via 2001:db8:3::1
  for n in $R1 $R2 $T; do
    # no ICMP rate limiting, or rapid probes go unanswered
    ip netns exec $n sysctl -qw net.ipv4.icmp_ratelimit=0 net.ipv4.icmp_ratemask=0 net.ipv6.icmp.ratelimit=0 \
      net.ipv6.icmp.ratemask=
  done
  for n in $R1 $R2; do ip netns exec $n sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1; done
  ip netns exec $R1 nft -f - <<NFT
table ip unreach {
  chain pre {
    type filter hook prerouting priority 0; policy accept;
    ip daddr 10.200.9.0/24 reject with icmp type net-unreachable
    ip daddr != 10.200.0.0/16 reject with icmp type net-unreachable
  }
}
table ip6 unreach {
  chain pre {
    type filter hook prerouting priority 0; policy accept;
    ip6 daddr 2001:db8:9::/64 reject with icmpv6 type no-route
    ip6 daddr != { 2001:db8::/32, fe80::/10, ff00::/8 } reject with icmpv6 type no-route
  }
}
NFT
  mkdir -p /etc/netns/$H
  printf '10.200.3.2 t.test\n2001:db8:3::2 t.test t6.test\n' >/etc/netns/$H/hosts
  ip netns exec $H sysctl -qw net.ipv4.ping_group_range="0 2147483647"
  ;;
down)
  set +e
  for n in $H $R1 $R2 $T; do ip netns del $n 2>/dev/null; done  # deleting a namespace destroys its veth ends
  rm -rf /etc/netns/$H
  exit 0
  ;;
silence)
  R=$(router "$2")
  ip netns exec $R nft add table inet quiet
  ip netns exec $R nft add chain inet quiet out '{ type filter hook output priority 0; policy accept; }'
  ip netns exec $R nft add rule inet quiet out icmp type '{ time-exceeded, destination-unreachable }' drop
  ip netns exec $R nft add rule inet quiet out icmpv6 type '{ time-exceeded, destination-unreachable }' drop
  ;;
unsilence)
  R=$(router "$2")
  ip netns exec $R nft delete table inet quiet
  ;;
mute-target)   ip netns exec $T sysctl -qw net.ipv4.icmp_echo_ignore_all=1 net.ipv6.icmp.echo_ignore_all=1 ;;
unmute-target) ip netns exec $T sysctl -qw net.ipv4.icmp_echo_ignore_all=0 net.ipv6.icmp.echo_ignore_all=0 ;;
dgram)
  case "$2" in
  on)  ip netns exec $H sysctl -qw net.ipv4.ping_group_range="0 2147483647" ;;
  off) ip netns exec $H sysctl -qw net.ipv4.ping_group_range="1 0" ;;
  *) echo "dgram on|off" >&2; exit 2;;
  esac
  ;;
*) echo "usage: $0 PREFIX up|down|silence R|unsilence R|mute-target|unmute-target|dgram on|off" >&2; exit 2;;
esac
