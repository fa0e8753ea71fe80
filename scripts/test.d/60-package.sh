#!/usr/bin/env bash
# The Debian package as a musician gets it: built from the tree that ./test built, checked
# by lintian, installed with apt-get, its programs, manual pages, launcher, AppStream data
# and file type checked, its window started by opening a document as a file manager does,
# then removed, leaving nothing of it behind. A machine on which tarrowin is installed
# already is left alone (the stage is skipped).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! sudo -n true 2>/dev/null; then
    echo "skipped: installing a package needs root or sudo without a password"
    exit 0
  fi
  as_root=(sudo -n)
fi
export DEBIAN_FRONTEND=noninteractive
apt=("${as_root[@]}" apt-get -y -q -o DPkg::Lock::Timeout=120)
# Marks an install of this stage, so that a run stopped half-way is cleaned up by the next.
marker=/var/tmp/tarrowin-package-stage
work=$(mktemp -d)

status() { dpkg-query -W -f='${db:Status-Status}' tarrowin 2>/dev/null || true; }
present() { [ -n "$(status)" ] && [ "$(status)" != not-installed ]; }
# Purges the package and what apt brought in with it (listed in the marker).
remove_package() {
  local what
  read -r -d '' -a what < <(cat "$marker" 2>/dev/null) || true
  if present; then what+=(tarrowin); fi
  if [ ${#what[@]} -gt 0 ]; then
    "${apt[@]}" purge "${what[@]}" >"$work/purge.log" 2>&1 || cat "$work/purge.log"
  fi
  "${as_root[@]}" rm -f "$marker"
}
cleanup() {
  set +e  # the exit status is the stage's: a step of the clean-up that fails must not change it
  [ -e "$marker" ] && remove_package
  rm -rf "$work"
}
trap cleanup EXIT

if [ -e "$marker" ]; then
  echo "removing the package that a stopped run of this stage left installed"
  remove_package
elif present; then
  echo "skipped: tarrowin is installed on this machine ($(status)); this stage would replace and remove it"
  exit 0
fi

DEB_BUILD_OPTIONS=noautodbgsym scripts/build-deb.sh build >/dev/null
deb=$(ls build/deb/tarrowin_*.deb)
# Files the package would own that exist already (a `cmake --install --prefix /usr`): removing
# the package would take them away.
dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./|/|' >"$work/files"
while read -r f; do
  if [ -e "$f" ] || [ -L "$f" ]; then
    echo "skipped: $f exists already; this stage would replace and then remove it"
    exit 0
  fi
done <"$work/files"

echo "-- lintian"
rc=0
out=$(lintian --fail-on error --display-info "$deb" 2>&1) || rc=$?
grep -v 'running with root privileges' <<<"$out" || true
[ $rc -eq 0 ] || { echo "lintian found errors"; exit 1; }

echo "-- apt-get install"
dpkg-query -W -f='${Package}\n' | sort >"$work/before"
chmod a+rx "$work"
cp "$deb" "$work/"  # where apt's own user can read it
: | "${as_root[@]}" tee "$marker" >/dev/null
"${apt[@]}" install "$work/${deb##*/}" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
# What apt brought in with the package goes out with it.
dpkg-query -W -f='${Package}\n' | sort | comm -13 "$work/before" - | grep -vx tarrowin | "${as_root[@]}" tee "$marker" >/dev/null || true
[ "$(status)" = installed ] || { cat "$work/install.log"; echo "tarrowin is not installed"; exit 1; }

echo "-- the installed files"
tests/package/check_installed.sh /usr
/usr/bin/tarrowin-cli --version
/usr/bin/tarrowin-cli new "$work/song.trw"
/usr/bin/tarrowin-cli create "$work/song.trw" "$work/song.trw" --seed 1 --events 3 >/dev/null
/usr/bin/tarrowin-cli export "$work/song.trw" "$work/song.mid" >/dev/null
/usr/bin/python3 -c 'import mido, sys; m = mido.MidiFile(sys.argv[1]); assert any(x.type == "note_on" for x in m), "no notes"' "$work/song.mid"

# The desktop's view, with settings of its own (a user's mimeapps.list would answer first).
desktop_env=(env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION -u GNOME_DESKTOP_SESSION_ID
             HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data")
mkdir -p "$work/home" "$work/config" "$work/data"
type=$("${desktop_env[@]}" xdg-mime query filetype "$work/song.trw")
[ "$type" = application/x-tarrowin ] || { echo "xdg-mime says $work/song.trw is '$type'"; exit 1; }
app=$("${desktop_env[@]}" xdg-mime query default application/x-tarrowin)
[ "$app" = org.tarrowin.Tarrowin.desktop ] || { echo "xdg-mime opens application/x-tarrowin with '$app'"; exit 1; }

echo "-- the installed window"
TARROWIN_E2E_BIN=/usr/bin TARROWIN_E2E_SHOTS=$root/build/package-shots scripts/test.d/50-window-e2e.sh tests/e2e/installed_package.py

echo "-- apt-get remove"
"${apt[@]}" remove tarrowin >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; exit 1; }
left=0
case "$(status)" in ""|not-installed|config-files) ;; *) echo "tarrowin is still $(status)"; left=1 ;; esac
while read -r f; do
  if [ -e "$f" ] || [ -L "$f" ]; then echo "left behind: $f"; left=1; fi
done <"$work/files"
# The databases that the package's triggers rebuilt no longer know it.
[ ! -e /usr/share/mime/application/x-tarrowin.xml ] || { echo "left behind: the MIME type"; left=1; }
if grep -qs org.tarrowin /usr/share/applications/mimeinfo.cache; then echo "left behind: the launcher's file type"; left=1; fi
remove_package  # the purge of what apt brought in with it
[ $left -eq 0 ]
echo "package installed, checked and removed"
