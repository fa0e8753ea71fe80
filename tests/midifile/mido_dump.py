#!/usr/bin/python3
"""Prints a MIDI file as mido reads it, one message a line with its absolute tick:
"header FORMAT DIVISION TRACKS", then e.g. "0 note_on 0 60 88", "0 tempo 625000",
"0 sysex 127 127 8 ..." (the bytes between F0 and F7) or "5 pitchwheel 0 -1024"."""
import sys

import mido

f = mido.MidiFile(sys.argv[1])
print("header", f.type, f.ticks_per_beat, len(f.tracks))
for track in f.tracks:
    tick = 0
    for m in track:
        tick += m.time
        if m.type == "set_tempo":
            print(tick, "tempo", m.tempo)
        elif m.type == "time_signature":
            print(tick, "time_signature", m.numerator, m.denominator, m.clocks_per_click,
                  m.notated_32nd_notes_per_beat)
        elif m.type == "end_of_track":
            print(tick, "end_of_track")
        elif m.is_meta:
            print(tick, "meta", m.type)
        elif m.type in ("note_on", "note_off"):
            print(tick, m.type, m.channel, m.note, m.velocity)
        elif m.type == "control_change":
            print(tick, m.type, m.channel, m.control, m.value)
        elif m.type == "program_change":
            print(tick, m.type, m.channel, m.program)
        elif m.type == "sysex":
            print(tick, m.type, *m.data)
        elif m.type == "pitchwheel":
            print(tick, m.type, m.channel, m.pitch)
        else:
            print(tick, m.type)
