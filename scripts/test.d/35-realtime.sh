#!/usr/bin/env bash
# Real-time scheduling for a user without the privilege: as the user "nobody", with no
# real-time priority of its own, a thread asking for it gets SCHED_RR from a stand-in of
# the desktop's RealtimeKit service on a private system bus (tests/playback/rtkit_stand_in.py,
# which keeps the service's contract), and with no service on the bus it keeps its normal
# scheduling without waiting.
set -euo pipefail
cd "$(dirname "$0")/../.."
python=/usr/bin/python3  # Debian's, with python3-dbus
tests=$PWD/build/bin/realtime_tests
for tool in dbus-daemon setpriv prlimit; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done
if [ "$(id -u)" != 0 ]; then
  echo "real-time service: NOT CHECKED (the stage switches to another user, which needs root)"
  exit 0
fi

work=$(mktemp -d)
pids=()
cleanup() {
  set +e  # the exit status is the stage's: a step of the clean-up that fails must not change it
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
# The other user reaches the bus's socket and runs a copy of the tests.
chmod 755 "$work"
cp "$tests" "$work/"
chmod 755 "$work/realtime_tests"

cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile 2>"$work/bus.log" &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus
for _ in $(seq 1 50); do [ -S "$work/bus" ] && break; sleep 0.1; done
[ -S "$work/bus" ] || fail "the private bus did not start"
chmod 666 "$work/bus"

as_nobody() {  # EXPECT: the tests as "nobody", without real-time priority of its own
  timeout 30 prlimit --rtprio=0:0 setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS" TARROWIN_RTKIT_EXPECT="$1" \
    "$work/realtime_tests" --gtest_brief=1 >"$work/tests-$1.log" 2>&1 ||
    { cat "$work/tests-$1.log"; cat "$work/service.log" 2>/dev/null; fail "real-time scheduling, $1"; }
  grep -q '^\[  PASSED  \] 1 test' "$work/tests-$1.log" || { cat "$work/tests-$1.log"; fail "the test did not run ($1)"; }
}

# No service on the bus: refused, at once.
start=$(date +%s%N)
as_nobody refused
echo "  no service on the bus: refused in $((($(date +%s%N) - start) / 1000000)) ms"

"$python" tests/playback/rtkit_stand_in.py >"$work/service.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do grep -q '^ready' "$work/service.log" && break; sleep 0.1; done
grep -q '^ready' "$work/service.log" || { cat "$work/service.log"; fail "the stand-in service did not start"; }
as_nobody granted
sed 's/^/  service: /' "$work/service.log" | grep -v ': ready$'
[ "$(grep -c 'SCHED_RR at 10' "$work/service.log")" = 2 ] || fail "the service did not raise both threads"
echo "real-time service: passed"
