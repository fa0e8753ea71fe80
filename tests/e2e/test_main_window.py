"""The main window end to end: start-up, the voice rows and counters, the refusal of a value
out of range, Save and Open, the MIDI file export, and playing on a JACK port."""

import json
import os
import subprocess
import time

from tarrowin_e2e import (Tarrowin, act, act_async, alert_text, check, cli, click, find_in, key, poll, run,
                          screenshot, showing, text_of)

WORK = os.environ.get("TARROWIN_E2E_WORK", "/tmp")


def path(name):
    return os.path.join(WORK, name)


def dump(trw):
    return json.loads(cli("dump", trw))


def start_choosing_device():
    """Without --device, "MidiOut Setup" asks once; Escape does nothing; OK takes the row."""
    with Tarrowin() as t:
        dialog = t.window("MidiOut Setup")
        screenshot("midiout-setup")
        key("Escape")
        time.sleep(0.3)
        check(showing(dialog), "Escape closed MidiOut Setup")
        items = [i.name for i in find_in(dialog, role="list") if i is not None]
        check(items[0] == "Midi Mapper", "the first row is %r" % items[:1])
        t.press("OK", root=dialog, modal=True)
        t.gone("MidiOut Setup")
        t.main()


def edit_save_open_export():
    with Tarrowin("--device", "0") as t:
        t.main()
        # A voice switched on enables its row.
        voice2 = t.find(role="check box", description="Voices voice 2")
        act(voice2, "Toggle")
        poll(lambda: t.edit("Param1 voice 2").getState().contains(__import__("pyatspi").STATE_ENABLED), 5,
             "voice 2's row to be enabled")
        t.set_field("Param1 voice 2", 7)
        t.set_field("Param2 voice 2", 3)
        t.choose("Scale voice 2", "Dorian")
        t.choose("Note value voice 2", "8th")
        t.set_field("End", 64)

        # Param1 = 1 is refused with the bounds, and the focus goes back to the field.
        t.set_field("Param1 voice 1", 1)
        box = t.alert("Tarrowin")
        check("Please enter an integer between 2 and 1000000." in alert_text(box), "refusal: %r" % alert_text(box))
        screenshot("param1-refused")
        t.answer(box)
        param1 = t.edit("Param1 voice 1")
        poll(lambda: param1.getState().contains(__import__("pyatspi").STATE_FOCUSED), 5, "the focus back in Param1")
        key("ctrl+a")
        from tarrowin_e2e import type_text
        type_text("2")
        key("Tab")

        t.menu("File", "Save As...")
        t.file_dialog("Save As", path("song.trw"))
        poll(lambda: os.path.exists(path("song.trw")), 5, "song.trw")
        poll(lambda: t.main().name == "Tarrowin 2.5 - song.trw", 5, "the title to name song.trw")
        doc = dump(path("song.trw"))
        v = doc["current"]["voices"][1]
        check(v["enabled"] == 1 and v["param1"] == 7 and v["param2"] == 3, "voice 2 saved as %s" % v)
        check(v["scaleIndex"] == 6 and v["noteValueIndex"] == 3, "voice 2's lists saved as %s" % v)
        check(doc["current"]["endCounter"] == 64 and doc["current"]["voices"][0]["param1"] == 2, "counters/param1")

        # Opening the saved file and saving it again gives the same bytes.
        t.menu("File", "New", wait=False)
        t.window("Tarrowin 2.5 - Untitled", timeout=5)
        t.menu("File", "Open...")
        t.file_dialog("Open", path("song.trw"))
        poll(lambda: t.main().name == "Tarrowin 2.5 - song.trw", 5, "song.trw to open")
        check(t.field("Param1 voice 2") == "7", "the form shows the opened document")
        t.menu("File", "Save As...")
        t.file_dialog("Save As", path("again.trw"))
        poll(lambda: os.path.exists(path("again.trw")), 5, "again.trw")
        check(open(path("song.trw"), "rb").read() == open(path("again.trw"), "rb").read(),
              "Open then Save As changed the bytes")

        # The MIDI file export of the current settings, read by mido.
        t.menu("File", "Save Midi file...")
        t.file_dialog("Save Midi File (Current Settings)", path("song.mid"))
        poll(lambda: os.path.exists(path("song.mid")), 5, "song.mid")
        out = subprocess.run(["/usr/bin/python3", "-c", """
import mido, sys
f = mido.MidiFile(sys.argv[1])
print(f.ticks_per_beat, sum(1 for m in f.tracks[0] if m.type == 'note_on' and m.velocity > 0))
""", path("song.mid")], capture_output=True, text=True, check=True).stdout.split()
        check(out[0] == "8" and int(out[1]) > 8, "mido reads %s" % out)
        expected = path("expected.mid")
        cli("export", path("song.trw"), expected, "--mode", "current")
        check(open(expected, "rb").read() == open(path("song.mid"), "rb").read(), "the window's export differs from the CLI's")
        screenshot("main-window")


if __name__ == "__main__":
    run([start_choosing_device, edit_save_open_export])
