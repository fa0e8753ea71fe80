#!/usr/bin/env bash
# What cmake --install lays out, checked as installed (check_installed.sh), and the MIME
# database built from it knowing *.trw.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
"$(dirname "$0")/check_installed.sh" "$prefix"
update-mime-database "$prefix/share/mime"
grep -q 'pattern="\*.trw"' "$prefix/share/mime/application/x-tarrowin.xml"
echo "installed files valid"
