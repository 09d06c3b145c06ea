#!/usr/bin/env bash
# cmake --install into a scratch prefix writes exactly the expected files; the
# desktop entry and the AppStream metadata validate, every icon is as large as
# its folder says, the two programs are executables and the helper is hardened.
set -euo pipefail
source "$(dirname "$0")/../support/release-package.sh"
BuildRelease

prefix="$(mktemp -d "/tmp/quorlix-tree-17-$$.XXXXXX")"
granted="$build/setup-$$"  # the set-up wants a directory only root can write: not in /tmp
trap 'rm -rf "$prefix" "$granted"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

diff -u <(printf '%s\n' "${installed_files[@]}") <(cd "$prefix" && find . ! -type d -printf '%P\n' | LC_ALL=C sort)

desktop-file-validate "$prefix/share/applications/$app_id.desktop"
grep -qx 'Categories=Network;System;Monitor;' "$prefix/share/applications/$app_id.desktop"
# --no-net: the screenshot's address is not fetched.
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$app_id.metainfo.xml"

for png in "$prefix"/share/icons/hicolor/*x*/apps/*.png; do
  size="$(basename "$(dirname "$(dirname "$png")")")"
  file -b "$png" | grep -q "PNG image data, ${size/x/ x }," || { echo "$png is not $size: $(file -b "$png")"; exit 1; }
done
for exe in bin/quorlix libexec/quorlix/quorlix-netcap; do
  [ -x "$prefix/$exe" ] && file -b "$prefix/$exe" | grep -q '^ELF 64-bit LSB pie executable' ||
    { echo "$exe: $(file -b "$prefix/$exe")"; exit 1; }
done

# The helper's hardening: the mark of a fortified build, libstdc++'s assertions,
# the shadow-stack note; and the set-up grants such a build its capabilities.
# (grep reads all of readelf's output: grep -q would end readelf by SIGPIPE.)
helper="$prefix/libexec/quorlix/quorlix-netcap"
readelf -p .quorlix.hardening "$helper" | grep fortify-source-2 >/dev/null || { echo "helper: not fortified"; exit 1; }
readelf --dyn-syms -W "$helper" | grep __glibcxx_assert_fail >/dev/null || { echo "helper: no assertions"; exit 1; }
readelf -n "$helper" | grep 'x86 feature: .*SHSTK' >/dev/null || { echo "helper: no shadow-stack note"; exit 1; }
[ "$(id -u)" -ne 0 ] || { "$top/scripts/setup-helper.sh" "$helper" "$granted" && getcap "$granted/quorlix-netcap" | grep -q cap_net_raw; }
echo "installed tree: ${#installed_files[@]} files as expected, desktop entry and metainfo valid, helper hardened"
