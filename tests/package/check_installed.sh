#!/usr/bin/env bash
# Checks Tarrowin as installed under PREFIX (by cmake --install or by the Debian package):
# every file in its place, the launcher and the AppStream data valid, the manual pages
# rendered without a warning, and both programs answering --version with the release that
# the AppStream data names.
set -euo pipefail
prefix=${1:?usage: check_installed.sh PREFIX}
id=org.tarrowin.Tarrowin
share=$prefix/share
failed=0
fail() { echo "$*"; failed=1; }

for f in bin/tarrowin bin/tarrowin-cli share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/mime/packages/$id.xml share/icons/hicolor/scalable/apps/$id.svg \
         share/icons/hicolor/scalable/mimetypes/application-x-tarrowin.svg \
         share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/$id.png; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done

out=$(desktop-file-validate "$share/applications/$id.desktop" 2>&1) || true
[ -z "$out" ] || fail "desktop-file-validate: $out"

# AppStream, pedantic: the only note allowed is the one on the capital letter of the ID,
# which the desktop file, the icons and the window share.
out=$(appstreamcli validate --pedantic --no-net "$share/metainfo/$id.metainfo.xml" 2>&1) || fail "$out"
if grep -E '^ *[EWIP]: ' <<<"$out" | grep -v ' cid-contains-uppercase-letter '; then fail "appstreamcli: $out"; fi

release=$(grep -o -m1 '<release version="[^"]*"' "$share/metainfo/$id.metainfo.xml" | cut -d'"' -f2)
for program in tarrowin tarrowin-cli; do
  # Without a display, as on a console or in a package build.
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$program" --version 2>&1) || fail "$program --version failed: $out"
  [ "${out##* }" = "$release" ] || fail "$program --version says '$out'; the AppStream release is $release"

  page=$(ls "$share/man/man1/$program.1"* 2>/dev/null | head -1)  # plain or compressed
  if [ -z "$page" ]; then fail "no manual page for $program"; continue; fi
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $program: $warnings"
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null)
  grep -q "Tarrowin $release" <<<"$text" || fail "the manual page of $program does not name release $release"
done
exit $failed
