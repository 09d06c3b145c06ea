#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" "$top/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Quorlix is a desktop program and needs a display (or run it under xvfb-run)." >&2
  exit 1
fi
exec "$top/build/release/quorlix"
