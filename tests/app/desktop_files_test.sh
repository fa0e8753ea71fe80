#!/usr/bin/env bash
# The desktop integration as installed: the launcher, the MIME type of .trw files, the
# icons and the AppStream description, checked by the freedesktop validators.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
share=$prefix/share
for f in bin/tarrowin bin/tarrowin-cli share/applications/org.tarrowin.Tarrowin.desktop \
         share/metainfo/org.tarrowin.Tarrowin.metainfo.xml share/mime/packages/org.tarrowin.Tarrowin.xml \
         share/icons/hicolor/scalable/apps/org.tarrowin.Tarrowin.svg share/icons/hicolor/48x48/apps/org.tarrowin.Tarrowin.png \
         share/icons/hicolor/scalable/mimetypes/application-x-tarrowin.svg; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
desktop-file-validate "$share/applications/org.tarrowin.Tarrowin.desktop"
appstreamcli validate --no-net --explain "$share/metainfo/org.tarrowin.Tarrowin.metainfo.xml"
# The MIME database built from our package knows *.trw.
update-mime-database "$share/mime"
grep -q 'pattern="\*.trw"' "$share/mime/application/x-tarrowin.xml"
echo "desktop files valid"
