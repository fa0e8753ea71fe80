#!/usr/bin/env bash
# Builds the Debian package from an already built tree (default: build/, as ./test and
# ./run leave it): the programs it holds go into the package as they are.
# The package lands in BUILD/deb/ (tarrowin_VERSION_ARCH.deb); nothing is written beside the
# checkout, since dpkg-buildpackage works on a copy of debian/ inside BUILD/deb.
# Needs dpkg-dev and debhelper (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "$build is not a configured build: run ./run or ./test first, or cmake -S . -B $build" >&2
  exit 1
fi
out=$build/deb
rm -rf "$out"
mkdir -p "$out/tarrowin"
cp -r debian "$out/tarrowin/"
cd "$out/tarrowin"
export TARROWIN_BUILD_DIR=$build
export DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}"
dpkg-buildpackage -b -us -uc >"$out/build.log" 2>&1 || { tail -40 "$out/build.log" >&2; exit 1; }
ls "$out"/tarrowin_*.deb
