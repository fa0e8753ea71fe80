# Sourced by the test stages that run JACK servers of their own (bash).
#
# JACK keeps a registry of running servers in /dev/shm/jack-shm-registry with eight slots.
# A server that dies without stopping cleanly (killed, or stopped while a client of it was
# dying) keeps its slot, and jackd hands a dead server's slot back only to a server of the
# same name: after eight such deaths no server starts at all ("Too many servers already
# active"), in this run and in every later one on the machine. Starting the same name once
# more and stopping it cleanly frees the slot.

# The names of the servers whose slot is held by a process that no longer runs.
jack_dead_servers() {
  [ -r /dev/shm/jack-shm-registry ] || return 0
  /usr/bin/python3 - <<'PY'
import os, struct
# The registry's header: magic, protocol, type, size, header and entry lengths (24 bytes),
# then eight slots of a pid and a 257-byte name ("/jack-UID:NAME:"), padded to 264 bytes.
data = open("/dev/shm/jack-shm-registry", "rb").read()
if data[:4] == b"KCAJ":
    for i in range(8):
        at = 24 + 264 * i
        if len(data) < at + 261:
            break
        pid = struct.unpack("<i", data[at:at + 4])[0]
        name = data[at + 4:at + 261].split(b"\0")[0].decode(errors="replace")
        if pid > 0 and not os.path.exists("/proc/%d" % pid) and name.count(":") >= 2:
            print(name.split(":", 1)[1].rsplit(":", 1)[0])
PY
}

# Frees the slot of server NAME if a dead process still holds it, and the files its
# clients may have left (their semaphores).
jack_free_slot() {  # NAME
  local name=$1
  if jack_dead_servers | grep -xF "$name" >/dev/null; then
    JACK_NO_AUDIO_RESERVATION=1 jackd -n "$name" -d dummy -r 48000 -p 256 >/dev/null 2>&1 &
    local reclaim=$!
    JACK_DEFAULT_SERVER=$name jack_wait -w -t 5 >/dev/null 2>&1 || true
    kill -TERM "$reclaim" 2>/dev/null || true
    wait "$reclaim" 2>/dev/null || true
  fi
  rm -f /dev/shm/jack_"$name"_* /dev/shm/jack_sem.*_"$name"_*
}

# Every JACK client opens JACK's metadata database (Berkeley DB, /dev/shm/jack_db-UID) and
# takes its lock. A process killed while it held that lock leaves it held, and from then on
# every client on the machine hangs in jack_client_open, even one asking for a server that
# does not exist, until the database's lock files go. They are removed when a client of no
# server hangs and no running process has the database mapped; the data file stays.
jack_clear_stale_metadata() {
  local db status=0
  db=/dev/shm/jack_db-$(id -u)
  [ -d "$db" ] || return 0
  JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER="tarrowin-probe-$$" timeout 5 jack_lsp >/dev/null 2>&1 || status=$?
  [ "$status" = 124 ] || return 0
  if grep -qsF "$db/" /proc/[0-9]*/maps; then
    echo "JACK's metadata database ($db) is locked by a running process: JACK clients will hang"
    return 0
  fi
  echo "JACK's metadata database ($db) was left locked by a process that died: its lock files removed"
  rm -f "$db"/__db.*
}

# Frees every slot that a dead server holds, whoever started it: a server that runs is
# left alone. Clears a metadata database left locked first: no client could start.
jack_free_dead_slots() {
  local name
  jack_clear_stale_metadata
  for name in $(jack_dead_servers); do jack_free_slot "$name"; done
}

# Stops server NAME (process PID) and makes sure it gave its slot back.
jack_stop_server() {  # NAME PID
  kill -TERM "$2" 2>/dev/null || true
  wait "$2" 2>/dev/null || true
  jack_free_slot "$1"
}
