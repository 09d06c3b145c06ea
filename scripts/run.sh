#!/usr/bin/env bash
# Installs what is missing, builds the program, grants the privilege helper its
# capabilities where it can, and starts the program.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
# Only what it starts: the program and its helper, not the test suite.
"$top/scripts/build.sh" "$top/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo -- quorlix quorlix-netcap

# Ping, Traceroute, Packet Capture and NetStat's kill go through the privilege
# helper, which the members of the group quorlix may run. The program of a build
# tree runs the copy that setup-helper.sh installs; install it again whenever
# it differs from the build's or has lost its owner, mode or capabilities.
helper="$top/build/release/src/quorlix-netcap"
installed=/usr/local/libexec/quorlix/quorlix-netcap
if [ ! -f "$installed" ] || { [ -r "$installed" ] && ! cmp -s "$helper" "$installed"; } ||
   ! getcap "$installed" 2>/dev/null | grep -q 'cap_net_admin,cap_net_raw=ep' ||
   [ "$(stat -c '%U:%G %a' "$installed")" != "root:quorlix 750" ]; then
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
