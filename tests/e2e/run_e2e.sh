#!/usr/bin/env bash
# Runs the window's end-to-end scenarios (tests/e2e/test_*.py, or those named) inside a
# virtual X server with its own D-Bus session: the accessibility bus, a window manager, a
# JACK server with the dummy driver for playback, and private settings folders.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
source scripts/jack-servers.sh
jack_free_dead_slots
work=$(mktemp -d)
pids=()
cleanup() {
  set +e  # the exit status is the stage's: a step of the clean-up that fails must not change it
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  # A server stopped after a client of a scenario died keeps its slot in JACK's registry of
  # servers; so may a scenario's own server.
  jack_free_dead_slots
  rm -rf "$work"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
export XDG_STATE_HOME=$work/state GSETTINGS_BACKEND=memory
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=0
# The built-in synthesizer plays into a file unless a stage gives it a sound server.
export TARROWIN_AUDIO_DRIVER=${TARROWIN_E2E_AUDIO_DRIVER:-file} TARROWIN_E2E_WORK=$work
export TARROWIN_E2E_SHOTS=${TARROWIN_E2E_SHOTS:-$root/build/e2e-shots}

dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)

export JACK_DEFAULT_SERVER="tarrowin-window-$$"
export JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
# Real-time where the system grants it, as on a musician's machine: without it a loaded
# machine makes the receiving clients miss cycles, and JACK drops what they missed.
realtime=-r
chrt -f 10 true 2>/dev/null && realtime=-R
jackd -n "$JACK_DEFAULT_SERVER" "$realtime" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
pids+=($!)
jack_wait -w -t 10 >/dev/null 2>&1 || { cat "$work/jackd.log"; echo "jackd did not start"; exit 1; }

scenarios=("$@")
if [ ${#scenarios[@]} -eq 0 ]; then scenarios=(tests/e2e/test_*.py); fi
# What failed is repeated at the end, where a log that keeps only its last lines shows it.
failures=()
failed=0
for s in "${scenarios[@]}"; do
  echo "-- ${s##*/}"
  status=0
  /usr/bin/python3 -u "$s" | tee "$work/scenario.txt" || status=$?
  while IFS= read -r line; do failures+=("${s##*/}:${line}"); done \
    < <(grep -E '^  (FAIL|SLOW|AGAIN) ' "$work/scenario.txt" | tr -s ' ' || true)
  if [ "$status" != 0 ]; then
    failed=1
    grep -q '^  FAIL ' "$work/scenario.txt" || failures+=("${s##*/}: exited with $status")
  fi
done
if [ "$failed" = 1 ]; then
  echo "window e2e failed; what did not pass (SLOW and AGAIN were tried once more):"
  printf '  %s\n' "${failures[@]}"
  exit 1
fi
