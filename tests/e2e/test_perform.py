"""A play performed and kept, through the accessibility tree as a user does: Options > Edit
While Playing and Playback Controls > Record Performance, Play on a JACK port that
jack_midi_dump reads, Param1, the tempo and a voice switch changed while it plays (the notes
move at once), Stop, the recording saved where the save dialog says. mido reads it, and played
back to another jack_midi_dump by a player we did not write (mido's timing, python-rtmidi's
JACK output) it gives the same messages in the same order as the live play, each within a
tick of its time there."""
import json
import os
import subprocess
import time

import mido
import pyatspi
from tarrowin_e2e import Tarrowin, act, check, cli, has, key, poll, run, screenshot, start_midi_dump, work_path

RATE = 48000


def path(name):
    return work_path(name)


def dumped(name):
    """The messages a dump received: (frame, (status, data1, data2))."""
    rows = []
    for line in open(path(name + ".txt")):
        stamp, _, rest = line.partition(":")
        data = rest.split()
        if stamp.strip().isdigit() and data:
            rows.append((int(stamp), tuple(data[:3])))
    return rows


def late_cycles():
    """The late cycles the scenarios' JACK server has logged so far."""
    try:
        return open(path("jackd.log")).read().count("XRun")
    except OSError:
        return -1


def strikes(rows, channel):
    return [frame for frame, m in rows if m[0] == "9%x" % channel and m[2] != "00"]


def perform_and_record():
    song = path("perform.trw")
    cli("new", song)
    doc = json.loads(cli("dump", song))
    doc["current"].update(tempo=120, startCounter=0, endCounter=0)  # 62 ms ticks, no Lock
    doc["current"]["voices"][0].update(tied=0, noteValueIndex=5, noteValue=1.0)  # every tick
    doc["current"]["voices"][1].update(tied=0, noteValueIndex=5, noteValue=1.0, enabled=0)
    open(path("perform.json"), "w").write(json.dumps(doc))
    cli("load", path("perform.json"), song)
    take = path("take.mid")

    live, live_out = start_midi_dump("liveP")
    replay, replay_out = start_midi_dump("replayP")
    try:
        with Tarrowin(song, "--device", "JACK: liveP:input") as t:
            # Both options are remembered: a second try finds them on already.
            for menu, item in (("Options", "Edit While Playing"), ("Playback Controls", "Record Performance")):
                if not has(t.menu_item(menu, item), pyatspi.STATE_CHECKED):
                    t.menu(menu, item, wait=True)
                key("Escape")  # the menus stay open after an item is pressed through the tree
                key("Escape")
            play = t.play()
            # The form stays open while the current settings play.
            param1 = t.edit("Param1 voice 1")
            poll(lambda: has(param1, pyatspi.STATE_ENABLED), 5, "Param1 to stay open while playing")
            poll(lambda: len(strikes(dumped("liveP"), 0)) >= 16, 10, "the first notes")
            t.set_field("Param1 voice 1", 7)
            t.find(role="scroll bar", name="Tempo").queryValue().currentValue = 200  # 37 ms ticks
            edited = len(dumped("liveP"))
            act(t.find(role="check box", description="Voices voice 2"), "Toggle")
            poll(lambda: len(strikes(dumped("liveP"), 1)) >= 16, 10, "voice 2, switched on, to sound")
            screenshot("perform-editing")
            t.press("Stop")
            t.file_dialog("Save Recording", take)
            poll(lambda: has(play, pyatspi.STATE_ENABLED), 10, "the play to end")
            # Each change is a step of its own in the undo history.
            check(t.menu_enabled("Edit", "Undo Play"), "the play is not the last undo step")

        rows = dumped("liveP")
        notes = strikes(rows, 0)
        # The tempo reached the port: voice 1's notes come 62 ms apart, then 37 ms. On
        # average, and by their ratio: a busy machine moves single notes, the first tick's
        # burst delays the first ones, and a dummy JACK server's frames run behind the clock
        # when its cycles come late (the JACK stage times frames on a real-time server).
        gaps = [(b - a) / RATE for a, b in zip(notes, notes[1:])]
        faster = next(i for i in range(8, len(gaps)) if gaps[i] < 0.05)  # past the first tick's burst
        before = sum(gaps[faster - 8:faster]) / 8
        after = sum(gaps[-20:]) / 20
        check(abs(after / before - 37 / 62) < 0.02 and abs(before / 0.062 - 1) < 0.06,
              "notes %.4f s apart before the edit and %.4f s after, not 0.062 and 0.037 %s" % (before, after, [round(g * 1000, 1) for g in gaps]))
        check(len(rows) > edited, "nothing after the edits")

        recorded = mido.MidiFile(take)
        check(recorded.type == 0 and recorded.ticks_per_beat == 8, "not a format 0 file of 8 ticks a quarter note")
        tempos = [m.tempo for m in recorded.tracks[0] if m.type == "set_tempo"]
        # Its tempo is the ticks as they played: 62 ms, then 37 ms, eight to a quarter note.
        check(tempos == [496000, 296000], "tempo events %s" % tempos)

        # The player keeps its time at real-time priority, as Tarrowin's worker does (where
        # the system allows it).
        realtime = ["chrt", "-f", "10"] if subprocess.run(["chrt", "-f", "10", "true"]).returncode == 0 else []
        subprocess.run([*realtime, "/usr/bin/python3", os.path.join(os.path.dirname(__file__), "replay_midi.py"), take,
                        "replayP:input"], check=True, timeout=120)
        time.sleep(0.5)
        again = dumped("replayP")
        # Where they differ, which stream left the recording: a monitor that missed a cycle
        # of the dummy server lost what came in it (the server logs each late cycle).
        held = [tuple("%02x" % b for b in m.bytes()) for m in recorded.tracks[0] if not m.is_meta and m.type != "sysex"]
        first_change = lambda got: next((i for i, (g, h) in enumerate(zip(got, held)) if g[:len(h)] != h),
                                        min(len(got), len(held)))
        check([m for _, m in again] == [m for _, m in rows],
              "the recording played back differs from the play: %d messages against %d; the recording holds %d, "
              "the play's monitor first differs from it at message %d, the replay's at %d (the server logged %d late "
              "cycles)" % (len(again), len(rows), len(held), first_change([m for _, m in rows]),
                           first_change([m for _, m in again]), late_cycles()))
        # Each message's time since a message about a second before it (the first ones: since
        # the first) is its time in the play within a tick. Not since the first message
        # throughout: a dummy JACK server whose cycles come late loses time that its frame
        # count never makes up, so the two monitors' stamps drift apart by a few ms a
        # second on a loaded machine, while a message out of its place moves by a tick. The
        # first tick sends many messages at once, which leave a port in one cycle.
        def since_anchor(i):
            j = next(k for k in range(i + 1) if rows[i][0] - rows[k][0] <= RATE)
            return (again[i][0] - again[j][0]) - (rows[i][0] - rows[j][0]), j
        offs = [abs(since_anchor(i)[0]) for i in range(len(rows))]
        worst = max(range(len(offs)), key=offs.__getitem__)
        anchor = since_anchor(worst)[1]
        check(offs[worst] <= 0.062 * RATE, "message %d of %d is %.1f ms off its time in the play, counted from "
              "message %d (the server logged %d late cycles): %s"
              % (worst, len(offs), offs[worst] * 1000 / RATE, anchor, late_cycles(),
                 [(round((again[i][0] - again[anchor][0]) / 48), round((rows[i][0] - rows[anchor][0]) / 48), rows[i][1])
                  for i in range(max(anchor, worst - 20), min(len(rows), worst + 5))]))
    finally:
        for process, out in ((live, live_out), (replay, replay_out)):
            process.terminate()
            process.wait()
            out.close()


if __name__ == "__main__":
    run([perform_and_record])
