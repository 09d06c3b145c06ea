#!/usr/bin/env bash
# setup-helper.sh [--sanitized-copy] HELPER [DIR]
#
# Installs a copy of HELPER (a built quorlix-netcap) as DIR/quorlix-netcap and
# makes that copy usable by the members of the group quorlix and by nobody
# else: creates the system group when it is missing, owner root:quorlix, mode
# 0750, file capabilities cap_net_raw,cap_net_admin. DIR is where the program
# of a build tree looks, /usr/local/libexec/quorlix, unless given.
#
# Capabilities go only to that copy, never to HELPER itself: HELPER must be a
# regular file (no symbolic link), and DIR and every directory above it must
# belong to root and be writable by nobody else, so that nobody can swap the
# file that holds them. Refuses a sanitizer build, whose runtime reads options
# from the environment, and a helper built without _FORTIFY_SOURCE (a Debug
# build). --sanitized-copy lets the tests prepare a copy of their sanitizer
# build anyway, in a namespace of their own. Runs as root, or through sudo
# when it can. Tells a user outside the group how to join it.
set -euo pipefail
umask 022
group=quorlix
caps="cap_net_raw,cap_net_admin+ep"
allow_sanitized=no
args=("$@")
if [ "${1:-}" = "--sanitized-copy" ]; then allow_sanitized=yes; shift; fi
[ $# -eq 1 ] || [ $# -eq 2 ] || { echo "usage: $0 [--sanitized-copy] HELPER [DIR]" >&2; exit 2; }
source="$1"
dir="${2:-/usr/local/libexec/quorlix}"

if [ -L "$source" ] || [ ! -f "$source" ]; then
  echo "$0: $source is not a regular file; it gets no capabilities." >&2
  exit 1
fi

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null && { sudo -n true 2>/dev/null || [ -t 0 ]; }; then
    exec sudo -- "$0" "${args[@]}"
  fi
  echo "The privilege helper is not set up, so Ping, Traceroute, Packet Capture and Kill" >&2
  echo "Connection will fail. As root, run:" >&2
  echo "  $0 $(realpath "$source")${2:+ $dir}" >&2
  exit 1
fi

# Every directory from $1 up to / belongs to root, and only root may write it;
# above $1, a sticky one such as /tmp will do, where nobody but root can rename
# or remove what root put there.
RootOnly()
{
  local d="$1" owner mode
  while :; do
    read -r owner mode < <(stat -c '%u %a' "$d")
    if [ "$owner" -ne 0 ] || { (( 8#$mode & 8#022 )) && { [ "$d" = "$1" ] || ! (( 8#$mode & 8#1000 )); }; }; then
      echo "$0: $d can be written by others than root; nothing there gets capabilities." >&2
      return 1
    fi
    [ "$d" = / ] && return 0
    d="$(dirname "$d")"
  done
}

# Nothing is created where others could write, and the directory used is the
# one checked: nobody else can rename anything on its path.
existing="$dir"
while [ ! -e "$existing" ]; do existing="$(dirname "$existing")"; done
RootOnly "$(realpath -e "$existing")"
[ -d "$dir" ] || install -d -o root -g root -m 0755 "$dir"
dir="$(realpath -e "$dir")"
RootOnly "$dir"

# Another run may create the group at the same moment: accept it being there.
getent group "$group" >/dev/null || groupadd --system "$group" 2>/dev/null || getent group "$group" >/dev/null

# The checks read the copy, which nobody else can change any more.
copy="$dir/.quorlix-netcap.new"
trap 'rm -f "$copy"' EXIT
install -o root -g "$group" -m 0750 "$source" "$copy"
if [ "$allow_sanitized" = no ]; then
  if grep -qa -e __asan_init -e __tsan_init -e __ubsan_handle -e __msan_init "$copy"; then
    echo "$0: $source is a sanitizer build; it gets no capabilities." >&2
    exit 1
  fi
  if ! grep -qa fortify-source-2 "$copy"; then
    echo "$0: $source was built without _FORTIFY_SOURCE (a Debug build?); it gets no capabilities." >&2
    echo "Build it with -DCMAKE_BUILD_TYPE=RelWithDebInfo, as scripts/run.sh does." >&2
    exit 1
  fi
fi
setcap "$caps" "$copy"
mv -f "$copy" "$dir/quorlix-netcap"
trap - EXIT

user="${SUDO_USER:-$(id -un)}"
if [ "$user" != root ] && ! id -nG "$user" | tr ' ' '\n' | grep -qx "$group"; then
  echo "You ($user) are not in the group $group, so the helper will refuse you. Join it with:" >&2
  echo "  sudo usermod -aG $group \$USER" >&2
  echo "then log out and in again." >&2
fi
