#!/usr/bin/env bash
# Makes the pictures that the AppStream data shows (docs/screenshots/*.png): the end-to-end
# harness drives the built tarrowin under Xvfb through tests/e2e/showcase.py, which
# photographs each window; the pictures are then stripped of metadata for the repository.
# Run it after a change that shows in these windows, look at the pictures, and commit them.
set -euo pipefail
cd "$(dirname "$0")/.."
shots=$PWD/build/showcase-shots
TARROWIN_E2E_SHOTS=$shots scripts/test.d/50-window-e2e.sh tests/e2e/showcase.py
mkdir -p docs/screenshots
for name in main-window notes-view randomizer image; do
  /usr/bin/convert "$shots/$name.png" -strip -define png:compression-level=9 "docs/screenshots/$name.png"
  identify -format '%f %wx%h %b\n' "docs/screenshots/$name.png"
done
