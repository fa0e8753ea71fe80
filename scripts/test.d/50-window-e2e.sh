#!/usr/bin/env bash
# The real tarrowin under a virtual X server, driven through the accessibility tree as a
# user and a screen reader drive it (tests/e2e). Screenshots go to build/e2e-shots, or to
# $TARROWIN_E2E_SHOTS.
set -euo pipefail
cd "$(dirname "$0")/../.."
export TARROWIN_E2E_SHOTS=${TARROWIN_E2E_SHOTS:-$PWD/build/e2e-shots}
rm -rf "$TARROWIN_E2E_SHOTS"  # the screenshots of this run only
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset -nolisten tcp" dbus-run-session -- tests/e2e/run_e2e.sh "$@"
