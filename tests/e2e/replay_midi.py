#!/usr/bin/python3
"""Plays a MIDI file to a JACK MIDI port in real time, as a MIDI file player does: mido reads
the file and keeps its time, python-rtmidi's JACK backend sends each message.
Usage: replay_midi.py FILE PORT (a JACK input port, such as "monitor:input")."""
import sys
import time

import mido
import rtmidi

path, port = sys.argv[1], sys.argv[2]
out = rtmidi.MidiOut(rtmidi.API_UNIX_JACK, name="replay")
ports = out.get_ports()
matching = [i for i, name in enumerate(ports) if port in name]
if not matching:
    sys.exit("no JACK port %s among %s" % (port, ports))
out.open_port(matching[0])
# The client has just started and connected its port: on a loaded machine its first cycles
# come late, and the first messages would wait for them and leave with the next tick's.
# The file's time starts once the connection has settled.
time.sleep(0.3)
for message in mido.MidiFile(path).play():
    out.send_message(message.bytes())
# The JACK output sends from its own queue at the next cycles: closing at once loses the last
# messages (and may pull the port from under its callback).
time.sleep(0.5)
out.close_port()
