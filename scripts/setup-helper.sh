#!/usr/bin/env bash
# setup-helper.sh [--sanitized-copy] HELPER
#
# Makes HELPER (a built quorlix-netcap) usable by the members of the group
# quorlix and by nobody else: creates the system group when it is missing,
# owner root:quorlix, mode 0750, file capabilities cap_net_raw,cap_net_admin.
# Runs as root, or through sudo when it can. Refuses a sanitizer build: its
# runtime reads options from the environment, which a file with capabilities
# must not do. --sanitized-copy lets the tests prepare such a copy anyway, in
# a namespace of their own. Tells a user outside the group how to join it.
set -euo pipefail
group=quorlix
caps="cap_net_raw,cap_net_admin+ep"
allow_sanitized=no
if [ "${1:-}" = "--sanitized-copy" ]; then allow_sanitized=yes; shift; fi
[ $# -eq 1 ] || { echo "usage: $0 [--sanitized-copy] HELPER" >&2; exit 2; }
helper="$(realpath "$1")"
[ -f "$helper" ] || { echo "$0: no helper at $helper" >&2; exit 1; }

if [ "$allow_sanitized" = no ] && grep -qa -e __asan_init -e __tsan_init -e __ubsan_handle -e __msan_init "$helper"; then
  echo "$0: $helper is a sanitizer build; it gets no capabilities." >&2
  exit 1
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null && { sudo -n true 2>/dev/null || [ -t 0 ]; }; then
    as_root=(sudo)
  else
    echo "The privilege helper is not set up, so Ping, Traceroute, Packet Capture and Kill" >&2
    echo "Connection will fail. As root, run:" >&2
    echo "  $0 $helper" >&2
    exit 1
  fi
fi

# Another run may create the group at the same moment: accept it being there.
getent group "$group" >/dev/null || "${as_root[@]}" groupadd --system "$group" 2>/dev/null ||
  getent group "$group" >/dev/null
"${as_root[@]}" chown "root:$group" "$helper"
"${as_root[@]}" chmod 0750 "$helper"
"${as_root[@]}" setcap "$caps" "$helper"

user="${SUDO_USER:-$(id -un)}"
if [ "$user" != root ] && ! id -nG "$user" | tr ' ' '\n' | grep -qx "$group"; then
  echo "You ($user) are not in the group $group, so the helper will refuse you. Join it with:" >&2
  echo "  sudo usermod -aG $group \$USER" >&2
  echo "then log out and in again." >&2
fi
