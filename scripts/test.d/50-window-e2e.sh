#!/usr/bin/env bash
# The real tarrowin under a virtual X server, driven through the accessibility tree as a
# user and a screen reader drive it (tests/e2e). Screenshots go to build/e2e-shots.
set -euo pipefail
cd "$(dirname "$0")/../.."
rm -rf build/e2e-shots  # the screenshots of this run only
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset -nolisten tcp" dbus-run-session -- tests/e2e/run_e2e.sh "$@"
