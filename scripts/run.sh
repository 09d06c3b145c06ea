#!/usr/bin/env bash
# Installs what is missing, builds the program, grants the privilege helper its
# capabilities where it can, and starts the program.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
# Only what it starts: the program and its helper, not the test suite.
"$top/scripts/build.sh" "$top/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo -- quorlix quorlix-netcap

# Ping, Traceroute, Packet Capture and NetStat's kill ask the helper for what
# needs privilege. Linking it anew drops its file capabilities, so check each time.
helper="$top/build/release/src/quorlix-netcap"
caps="cap_net_raw,cap_net_admin+ep"
if ! getcap "$helper" 2>/dev/null | grep -q 'cap_net_admin,cap_net_raw=ep'; then
  if [ "$(id -u)" -eq 0 ]; then
    setcap "$caps" "$helper"
  elif command -v sudo >/dev/null && sudo setcap "$caps" "$helper"; then
    :
  else
    echo "The privilege helper has no capabilities, so Ping, Traceroute, Packet Capture and" >&2
    echo "Kill Connection will fail. Grant them as root with:" >&2
    echo "  setcap $caps $helper" >&2
  fi
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Quorlix is a desktop program and needs a display (or run it under xvfb-run)." >&2
  exit 1
fi
exec "$top/build/release/src/quorlix"
