#!/usr/bin/env bash
# Installs what is missing, builds the program, grants the privilege helper its
# capabilities where it can, and starts the program.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" "$top/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo

# Ping, Traceroute, Packet Capture and NetStat's kill go through the privilege
# helper, which the members of the group quorlix may run. Linking it anew drops
# its owner, mode and file capabilities, so check each time.
helper="$top/build/release/src/quorlix-netcap"
if ! getcap "$helper" 2>/dev/null | grep -q 'cap_net_admin,cap_net_raw=ep' ||
   [ "$(stat -c '%U:%G %a' "$helper")" != "root:quorlix 750" ]; then
  "$top/scripts/setup-helper.sh" "$helper" || true
elif ! id -nG | tr ' ' '\n' | grep -qx quorlix && [ "$(id -u)" -ne 0 ]; then
  echo "You are not in the group quorlix, so Ping, Traceroute, Packet Capture and Kill" >&2
  echo "Connection will fail. Join it with:  sudo usermod -aG quorlix \$USER  (then log in again)" >&2
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Quorlix is a desktop program and needs a display (or run it under xvfb-run)." >&2
  exit 1
fi
exec "$top/build/release/src/quorlix"
