#!/usr/bin/env bash
# cpack -G DEB: lintian finds no error; the package holds the installed tree
# under /usr with stripped, non-sanitizer binaries, takes its dependencies from
# the shared libraries, runs its maintainer scripts and says what the group
# quorlix grants.
set -euo pipefail
source "$(dirname "$0")/../support/release-package.sh"
BuildPackage

lintian --fail-on error "$deb"

diff -u <(printf '/usr/%s\n' "${installed_files[@]}") \
  <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./|/|; /[^/]$/p' | LC_ALL=C sort)

work="$(mktemp -d "/tmp/quorlix-deb-17-$$.XXXXXX")"
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
for exe in usr/bin/quorlix usr/libexec/quorlix/quorlix-netcap; do
  file -b "$work/root/$exe" | grep -q ', stripped$' || { echo "$exe is not stripped"; exit 1; }
  if grep -q __asan_init "$work/root/$exe" || grep -q __tsan_init "$work/root/$exe"; then
    echo "$exe is a sanitizer build"; exit 1
  fi
done
[ -x "$work/control/postinst" ] && [ -x "$work/control/postrm" ]

depends="$(dpkg-deb -f "$deb" Depends)"
for wanted in libqt6widgets6 libc6 libcap2-bin passwd; do
  [[ "$depends" == *"$wanted"* ]] || { echo "Depends lacks $wanted: $depends"; exit 1; }
done
dpkg-deb -f "$deb" Description | tr -s ' \n' ' ' | grep -q 'Joining the group quorlix grants these powers: capturing'
echo "package $(basename "$deb"): lintian clean of errors, contents and fields as expected"
