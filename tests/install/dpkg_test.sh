#!/usr/bin/env bash
# As root: dpkg -i the package; the helper is root:quorlix 0750 with its two
# capabilities; Ping on 127.0.0.1 works through the installed helper for a
# member of the group quorlix and fails with the hint for anyone else (in a
# network namespace whose ping_group_range admits no one); dpkg --purge leaves
# neither files nor the group behind (a group quorlix that was there before
# the package stays).
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: installs a Debian package, adds users and a network namespace: needs root"
  exit 77
fi
source "$(dirname "$0")/../support/release-package.sh"
if dpkg-query -W -f='${Status}' quorlix 2>/dev/null | grep -q installed; then
  echo "quorlix is installed on this machine; this test installs and purges a package of its own"
  exit 1
fi
BuildPackage
had_group=no
getent group quorlix >/dev/null && had_group=yes

helper=/usr/libexec/quorlix/quorlix-netcap
member="qx17m$$"
stranger="qx17s$$"
ns="quorlix-17-$$"
scratch="$(mktemp -d "/tmp/quorlix-dpkg-17-$$.XXXXXX")"
cleanup()
{
  for user in "$member" "$stranger"; do id "$user" >/dev/null 2>&1 && userdel "$user"; done
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "$scratch" "/tmp/runtime-$member" "/tmp/runtime-$stranger"  # Qt's run-time folders
  if dpkg-query -W -f='${Status}' quorlix 2>/dev/null | grep -q installed; then dpkg --purge quorlix >/dev/null; fi
}
trap cleanup EXIT

dpkg -i "$deb" >/dev/null

[ "$(stat -c '%U:%G %a' "$helper")" = "root:quorlix 750" ] || { echo "helper: $(stat -c '%U:%G %a' "$helper")"; exit 1; }
getcap "$helper" | grep -q 'cap_net_admin,cap_net_raw=ep$' || { echo "helper: $(getcap "$helper")"; exit 1; }

# The driver sits in an installed-looking tree of its own, so that it finds
# the installed helper the way /usr/bin/quorlix does.
chmod 0755 "$scratch"
install -d -m 0755 "$scratch/bin" "$scratch/libexec/quorlix"
install -m 0755 "$build/tests/install_ping_driver" "$scratch/bin/"
ln -s "$helper" "$scratch/libexec/quorlix/quorlix-netcap"

useradd --system --no-create-home --shell /usr/sbin/nologin --groups quorlix "$member"
useradd --system --no-create-home --shell /usr/sbin/nologin "$stranger"
ip netns add "$ns"
ip -n "$ns" link set lo up
ip netns exec "$ns" sysctl -q -w net.ipv4.ping_group_range="1 0"

PingAs()
{
  ip netns exec "$ns" setpriv --reuid="$1" --regid="$1" --init-groups \
    env -i QT_QPA_PLATFORM=offscreen HOME=/nonexistent "$scratch/bin/install_ping_driver" 127.0.0.1 | tr -d '\r'
}
head=$'\tResolving Address For 127.0.0.1...\n\t[127.0.0.1]\n\n\tPinging Host: [127.0.0.1]...'

answer="$(PingAs "$member")"
[[ "$answer" =~ ^"$head"$'\n\t'[0-9]+' Milliseconds'$ ]] || { echo "as a member of quorlix:"; echo "$answer"; exit 1; }

refused="$(PingAs "$stranger")"
# The hint names the group and the command that joins it.
[[ "$refused" == "$head"$'\n\tPing Failed!\nMessage: '*"group quorlix"*"usermod -aG quorlix"* ]] ||
  { echo "outside the group quorlix:"; echo "$refused"; exit 1; }

dpkg --purge quorlix >/dev/null
for file in "${installed_files[@]}"; do
  [ ! -e "/usr/$file" ] || { echo "left after purge: /usr/$file"; exit 1; }
done
for dir in /usr/libexec/quorlix /usr/share/doc/quorlix /var/lib/quorlix; do
  [ ! -e "$dir" ] || { echo "left after purge: $dir"; exit 1; }
done
if [ "$had_group" = no ]; then
  ! getent group quorlix || { echo "the group quorlix is left after purge"; exit 1; }
  ! id -nG "$member" | grep -qw quorlix || { echo "$member is still in quorlix"; exit 1; }
else
  getent group quorlix >/dev/null || { echo "the group quorlix, there before the package, was removed"; exit 1; }
fi
! dpkg-statoverride --list "$helper" || { echo "the helper's override is left after purge"; exit 1; }
echo "package installed, helper root:quorlix 0750 with its capabilities, Ping for members only, purged clean"
