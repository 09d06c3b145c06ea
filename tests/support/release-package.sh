# Sourced by the install tests: a release build of what the package holds
# (never a sanitizer build), in a tree of its own that the tests share, and
# the names they check against.
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${QUORLIX_PACKAGE_BUILD:-$top/build/package}"
app_id=org.quorlix.Quorlix

# The files cmake --install writes under its prefix, in sorted order.
installed_files=(
  bin/quorlix
  libexec/quorlix/quorlix-netcap
  share/applications/$app_id.desktop
  share/doc/quorlix/changelog.Debian.gz
  share/doc/quorlix/copyright
  share/icons/hicolor/128x128/apps/$app_id.png
  share/icons/hicolor/256x256/apps/$app_id.png
  share/icons/hicolor/32x32/apps/$app_id.png
  share/icons/hicolor/48x48/apps/$app_id.png
  share/icons/hicolor/64x64/apps/$app_id.png
  share/icons/hicolor/scalable/apps/$app_id.svg
  share/man/man1/quorlix.1.gz
  share/metainfo/$app_id.metainfo.xml
)

BuildRelease()
{
  "$top/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DQUORLIX_SANITIZE= \
    -- quorlix quorlix-netcap install_ping_driver >/dev/null
}

# Builds the package; sets deb to its path.
BuildPackage()
{
  BuildRelease
  rm -f "$build"/quorlix_*.deb
  (cd "$build" && cpack -G DEB >/dev/null)
  deb="$(ls "$build"/quorlix_*.deb)"
}
