#!/usr/bin/python3
"""A stand-in for the RealtimeKit service on a private system bus, for tests run as a user
without the privilege of real-time scheduling. It keeps the service's contract: its
properties, a thread of the calling process only, a priority within MaxRealtimePriority,
and a process whose RLIMIT_RTTIME is bounded by RTTimeUSecMax; then, running as root, it
gives the thread SCHED_RR as the service does. Each request is printed."""
import os
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.RealtimeKit1"
PATH = "/org/freedesktop/RealtimeKit1"
MAX_PRIORITY = 20
RTTIME_USEC_MAX = 200000


def rttime_limit(pid):
    """The process's hard RLIMIT_RTTIME in microseconds, None when unlimited."""
    with open(f"/proc/{pid}/limits") as limits:
        for line in limits:
            if line.startswith("Max realtime timeout"):
                hard = line.split()[4]
                return None if hard == "unlimited" else int(hard)
    return None


class Refused(dbus.DBusException):
    _dbus_error_name = "org.freedesktop.DBus.Error.AccessDenied"


class RealtimeKit(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PATH)
        self.bus = bus

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        values = {"MaxRealtimePriority": dbus.Int32(MAX_PRIORITY), "MinNiceLevel": dbus.Int32(-15),
                  "RTTimeUSecMax": dbus.Int64(RTTIME_USEC_MAX)}
        if interface != NAME or prop not in values:
            raise dbus.DBusException("no such property", name="org.freedesktop.DBus.Error.InvalidArgs")
        return values[prop]

    @dbus.service.method(NAME, in_signature="tu", out_signature="", sender_keyword="sender")
    def MakeThreadRealtime(self, thread, priority, sender=None):
        daemon = dbus.Interface(self.bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus"), "org.freedesktop.DBus")
        pid = int(daemon.GetConnectionUnixProcessID(sender))
        try:
            if priority < 1 or priority > MAX_PRIORITY:
                raise Refused(f"priority {priority} is outside 1..{MAX_PRIORITY}")
            if not os.path.exists(f"/proc/{pid}/task/{thread}"):
                raise Refused(f"thread {thread} is not one of process {pid}")
            hard = rttime_limit(pid)
            if hard is None or hard > RTTIME_USEC_MAX:
                raise Refused(f"process {pid} has no RLIMIT_RTTIME within {RTTIME_USEC_MAX}")
            os.sched_setscheduler(thread, os.SCHED_RR | os.SCHED_RESET_ON_FORK, os.sched_param(priority))
        except Refused as refused:
            print(f"refused thread {thread} of {pid}: {refused}", flush=True)
            raise
        print(f"thread {thread} of {pid}: SCHED_RR at {priority}", flush=True)


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    name = dbus.service.BusName(NAME, bus)
    RealtimeKit(bus)
    print("ready", flush=True)
    GLib.MainLoop().run()
    del name


if __name__ == "__main__":
    sys.exit(main())
