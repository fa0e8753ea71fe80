"""The main window end to end: start-up, the voice rows and counters, the refusal of a value
out of range, Save and Open, the MIDI file export, the small dialogs and the save question
as they look, and playing on a JACK port."""

import json
import os
import subprocess
import time

import pyatspi

from tarrowin_e2e import (Tarrowin, act, alert_text, check, cli, find_in, key, nested_display, start_midi_dump, poll, run, screenshot, showing,
                          type_text)

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
        poll(lambda: t.edit("Param1 voice 2").getState().contains(pyatspi.STATE_ENABLED), 5,
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
        poll(lambda: param1.getState().contains(pyatspi.STATE_FOCUSED), 5, "the focus back in Param1")
        key("ctrl+a")
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


def dialogs_look():
    """The About box, the help window, "Round counter", "Percussion Channel", "Midi File
    Player" and the save question, each photographed as it opens."""
    with Tarrowin("--device", "0") as t:
        t.main()
        t.menu("Help", "About Tarrowin...")
        about = t.window("About Tarrowin 2.5")
        screenshot("about")
        t.press("OK", root=about, modal=True)
        t.gone("About Tarrowin 2.5")

        t.menu("Help", "Help Topics")
        t.window("Tarrowin Help")
        screenshot("help")
        key("alt+F4")
        t.gone("Tarrowin Help")

        t.press("Round", modal=True)
        round_counter = t.window("Round counter")
        screenshot("round-counter")
        t.press("Cancel", root=round_counter, modal=True)
        t.gone("Round counter")

        t.menu("Options", "Set Percussion Channel...")
        percussion = t.window("Percussion Channel")
        screenshot("percussion-channel")
        t.press("OK", root=percussion, modal=True)
        t.gone("Percussion Channel")

        t.menu("Options", "Midi File Player...")
        player = t.window("Midi File Player")
        t.set_field("Command that plays a MIDI file", "timidity -ig", leave=None, root=player)
        screenshot("midi-file-player")
        t.press("OK", root=player, modal=True)
        t.gone("Midi File Player")
        t.menu("Options", "Midi File Player...")
        player = t.window("Midi File Player")
        check(t.field("Command that plays a MIDI file", root=player) == "timidity -ig", "the player was not kept")
        t.press("Cancel", root=player, modal=True)
        t.gone("Midi File Player")

        t.set_field("Param1 voice 1", 7)
        t.menu("File", "New")
        box = t.alert("Tarrowin")
        check("Save changes to Untitled?" in alert_text(box), "question: %r" % alert_text(box))
        screenshot("save-question")
        t.answer(box, "No")


def dumped(name):
    """The messages a dump received: (status, data1, data2) in hex text."""
    rows = []
    for line in open(path(name + ".txt")):
        data = line.partition(":")[2].split()
        if len(data) >= 3:
            rows.append(tuple(data[:3]))
    return rows


ALL_NOTES_OFF = [("b%x" % ch, "7b", "00") for ch in range(16)]


def play_on_jack():
    """Play with Lock runs to End and stops itself; without Lock, Stop ends the play, both
    with All Notes Off on the 16 channels, and End then shows where the play stopped."""
    song = path("jack.trw")
    cli("new", song)
    doc = dump(song)
    doc["current"].update(tempo=240, startCounter=0, endCounter=48)
    doc["current"]["voices"][1].update(enabled=1, algorithm=3, noteValueIndex=3, noteValue=4.0)
    open(path("jack.json"), "w").write(json.dumps(doc))
    cli("load", path("jack.json"), song)
    proc, out = start_midi_dump("winA")
    try:
        with Tarrowin(song, "--device", "JACK: winA:input") as t:
            t.press("Lock")
            t.play()
            poll(lambda: len(dumped("winA")) > 16 and dumped("winA")[-16:] == ALL_NOTES_OFF, 15,
                 "the locked play to end by itself")
            rows = dumped("winA")
            notes = [r for r in rows if r[0][0] == "9" and r[2] != "00"]
            check(len(notes) >= 12, "only %d notes arrived" % len(notes))
            check(rows[-16:] == ALL_NOTES_OFF, "the play did not end with All Notes Off: %s" % rows[-16:])
            poll(lambda: t.menu_enabled("Playback Controls", "Play"), 5, "Play to be enabled again")

            t.press("Unlock")
            count = len(rows)
            t.play()
            time.sleep(2.5)  # past the old End: 48 ticks at tempo 240 take 1.5 s
            screenshot("playing")
            check(not t.menu_enabled("File", "Save"), "Save is enabled while playing")
            t.menu("Playback Controls", "Stop", wait=True)
            poll(lambda: dumped("winA")[-16:] == ALL_NOTES_OFF and len(dumped("winA")) > count + 16, 10,
                 "All Notes Off after Stop")
            poll(lambda: int(t.field("End")) > 48, 5, "End to show where the play stopped")
    finally:
        proc.terminate()
        proc.wait()
        out.close()


def exit_ends_the_program_with_tool_windows_open():
    """File > Exit with the Composition Maker, the notes and the help open: Cancel to the save
    question keeps everything, No ends the program and every window with it."""
    with Tarrowin("--device", "0") as t:
        t.main()
        t.set_field("Param1 voice 1", 7)
        t.menu("Options", "Composition Maker...", wait=True)
        t.window("Composition Maker")
        t.menu("View", "Notes", wait=True)
        t.window("Notes")
        t.menu("Help", "Help Topics", wait=True)
        t.window("Tarrowin Help")
        t.menu("File", "Exit")
        box = t.alert("Tarrowin")
        check("Save changes to Untitled?" in alert_text(box), "question: %r" % alert_text(box))
        t.answer(box, "Cancel")
        time.sleep(0.5)
        check(t.proc.poll() is None, "Cancel ended the program")
        for title in ("Composition Maker", "Notes", "Tarrowin Help"):
            t.window(title)
        t.main()
        t.menu("File", "Exit")
        t.answer(t.alert("Tarrowin"), "No")
        poll(lambda: t.proc.poll() is not None, 10, "the program to end")
        check(t.proc.returncode == 0, "the program ended with %s" % t.proc.returncode)


def screen_size_check():
    """799x600 ends with the message and exit code 16; 800x600 passes; on 1024x768 the window
    is centred by (screen - window) / 2."""
    for size, refused in (("799x600", True), ("800x600", False), ("1024x768", False)):
        display, xvfb = nested_display(size)
        try:
            t = Tarrowin("--device", "0", env={"DISPLAY": display})
            try:
                if refused:
                    box = t.alert("Tarrowin")
                    check("You need at least 800X600 screen resolution to run Tarrowin" in alert_text(box),
                          alert_text(box))
                    t.answer(box)
                    check(t.proc.wait(10) == 16, "exit code %s" % t.proc.returncode)
                    continue
                frame = t.main()
                if size == "1024x768":
                    env = dict(os.environ, DISPLAY=display)
                    wid = subprocess.run(["xdotool", "search", "--name", "Tarrowin 2.5"], env=env,
                                         capture_output=True, text=True).stdout.split()[0]
                    geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", wid], env=env,
                                              capture_output=True, text=True).stdout
                    g = dict(l.split("=") for l in geometry.split())
                    w, h, x, y = (int(g[k]) for k in ("WIDTH", "HEIGHT", "X", "Y"))
                    check((x, y) == ((1024 - w) // 2, (768 - h) // 2), "window at %d,%d size %dx%d" % (x, y, w, h))
            finally:
                t.quit()
        finally:
            xvfb.terminate()
            xvfb.wait()


if __name__ == "__main__":
    run([start_choosing_device, edit_save_open_export, dialogs_look, play_on_jack, screen_size_check,
         exit_ends_the_program_with_tool_windows_open])
