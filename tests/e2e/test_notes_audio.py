"""The notes view, the audio export and the SoundFont choice end to end: the "Notes" window
following the form and the play, the note under the pointer, the picture saved as SVG, the
audio file measured by sox (and a cancelled export that leaves an older file alone), and a
SoundFont that FluidSynth refuses, then one that is remembered for the next start."""

import json
import os
import re
import resource
import shutil
import subprocess
import time

import pyatspi

from tarrowin_e2e import (random_composition, Tarrowin, act, alert_text, check, cli, click, has, key, poll, run, screenshot, type_text,
                          xdotool)

# A folder of its own: the other scenario files of a run write into the same work folder.
WORK = os.path.join(os.environ.get("TARROWIN_E2E_WORK", "/tmp"), "notes-audio")
os.makedirs(WORK, exist_ok=True)
TIMGM = "/usr/share/sounds/sf2/TimGM6mb.sf2"


def path(name):
    return os.path.join(WORK, name)


def document(name, end=64, tempo=96):
    """A new document with only voice 1 on, playing Start 0 to `end`."""
    cli("new", path("new.trw"))
    doc = json.loads(cli("dump", path("new.trw")))
    doc["current"]["endCounter"] = end
    doc["current"]["tempo"] = tempo
    with open(path(name + ".json"), "w") as f:
        json.dump(doc, f)
    cli("load", path(name + ".json"), path(name + ".trw"))
    return path(name + ".trw")


def composition():
    return random_composition("song.trw", 5, 9)


def sox_stat(audio):
    out = subprocess.run(["sox", audio, "-n", "stat"], capture_output=True, text=True).stderr
    value = lambda name: float(re.search(name + r":\s+(-?[\d.]+)", out).group(1))
    return value(r"Length \(seconds\)"), value(r"RMS\s+amplitude")


def checked(item):
    return has(item, pyatspi.STATE_CHECKED)


def notes_window_follows_the_form():
    with Tarrowin("--device", "0", document("tune")) as t:
        t.main()
        key("F2")
        notes = t.window("Notes")
        check(checked(t.menu_item("View", "Notes")), "Notes is not checked while its window shows")
        key("Escape")
        summary = t.find(role="label", name="Current Settings, counters 0 to 64: 6 notes", root=notes)

        # The note under the pointer, named in the line below the roll.
        roll = t.find(description="Piano roll", root=notes)
        hover = t.find(role="label", description="Note under the pointer", root=notes)
        ext = roll.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        x = ext.x + 52 + (ext.width - 52) * 7 // 16  # tick 28 of 64: the E5 struck at 24, step 3
        for y in range(ext.y + 40, ext.y + ext.height, 3):
            xdotool("mousemove", "--sync", str(x), str(y))
            if hover.name.startswith("Voice 1:"):
                break
        check(re.fullmatch(r"Voice 1: E5 \(key 64\), counter 24, step 3", hover.name), "hover text %r" % hover.name)
        screenshot("notes-current")

        # Zoom and the legend.
        t.press("Zoom In", root=notes)
        t.press("Zoom In", root=notes)
        act(t.find(role="check box", description="Show voice 2", root=notes), "Toggle")
        time.sleep(0.5)
        screenshot("notes-zoomed")
        t.press("Fit", root=notes)

        # An edit of the form shows within a moment.
        t.raise_main()
        t.set_field("End", 128)
        poll(lambda: summary.name.startswith("Current Settings, counters 0 to 128: "), 5, "the notes of 128 ticks")

        # The picture as SVG.
        t.press("Save Image...", root=notes, modal=True)
        t.file_dialog("Save Notes Image", path("notes.svg"))
        poll(lambda: os.path.exists(path("notes.svg")), 5, "notes.svg")
        svg = open(path("notes.svg")).read()
        check("<svg" in svg and "C5" in svg, "notes.svg is no picture of the roll")

        # Closing the window unchecks the command.
        poll(lambda: has(notes, pyatspi.STATE_ACTIVE), 5, "the Notes window to be active")
        key("alt+F4")
        t.gone("Notes")
        check(not checked(t.menu_item("View", "Notes")), "Notes stays checked after its window closed")
        key("Escape")


def notes_of_a_composition_while_it_plays():
    with Tarrowin("--device", "0", composition()) as t:
        t.main()
        t.menu("Playback Controls", "Composition", wait=True)
        t.menu("View", "Notes", wait=True)
        notes = t.window("Notes")
        poll(lambda: any(l.name.startswith("Composition, 5 events") for l in notes_labels(notes)), 5,
             "the composition's notes")
        screenshot("notes-composition")
        t.menu("Playback Controls", "Play", wait=True)
        key("Escape")  # the menu the action was chosen from
        time.sleep(2.0)
        screenshot("notes-playing")
        t.menu("Playback Controls", "Stop", wait=True)


def notes_labels(window):
    return [l for l in pyatspi.findAllDescendants(window, lambda a: a.getRoleName() == "label") if l is not None]


def export_audio_and_cancel():
    trw = document("export")
    with Tarrowin("--device", "0", trw) as t:
        t.main()
        t.menu("File", "Export Audio...")
        t.file_dialog("Export Audio (Current Settings)", path("song.flac"))
        poll(lambda: os.path.exists(path("song.flac")), 10, "song.flac")
        cli("render", trw, path("expected.wav"), "--mode", "current")
        seconds, rms = sox_stat(path("song.flac"))
        expected, expected_rms = sox_stat(path("expected.wav"))
        check(abs(seconds - expected) < 0.01, "song.flac lasts %s s, the rendering %s s" % (seconds, expected))
        check(rms > 0.005 and abs(rms - expected_rms) < 0.1 * expected_rms, "RMS %s, rendered %s" % (rms, expected_rms))
        # FLAC is lossless: its samples are those that render wrote, one for one.
        samples = lambda audio: subprocess.run(["sox", audio, "-t", "s16", "-"], capture_output=True).stdout
        check(samples(path("song.flac")) == samples(path("expected.wav")), "song.flac holds other samples than render")

    # Five hours of music: Cancel leaves the older file as it was and nothing beside it.
    long = document("long", end=50000, tempo=20)
    with open(path("long.wav"), "w") as f:
        f.write("an older file")
    beside = lambda: sorted(f for f in os.listdir(WORK) if f.startswith("long.wav"))
    with Tarrowin("--device", "0", long) as t:
        t.main()
        t.menu("File", "Export Audio...")
        # As file_dialog does, but the dialog stays for its question.
        dialog = t.window("Export Audio (Current Settings)")
        poll(lambda: has(dialog, pyatspi.STATE_ACTIVE), 5, "the file dialog to be active")
        key("ctrl+a")
        type_text(path("long.wav"))
        key("Return")
        t.answer(t.alert(), "Yes")  # the file exists: replace it?
        progress = t.window("Export Audio", role="dialog")
        time.sleep(1.0)
        screenshot("export-audio-progress")
        t.press("Cancel", root=progress)
        t.gone("Export Audio")
        check(open(path("long.wav")).read() == "an older file", "the cancelled export touched long.wav")
        check(beside() == ["long.wav"], "files beside long.wav: %s" % beside())


def export_past_the_file_size_limit():
    """Past a file size limit (ulimit -f) Export Audio says "File too large" and leaves no
    file; the window lives on with its work."""
    trw = document("limit", end=256)
    with Tarrowin("--device", "0", trw, limits={resource.RLIMIT_FSIZE: 100000}) as t:
        t.main()
        t.menu("File", "Export Audio...")
        t.file_dialog("Export Audio (Current Settings)", path("limit.wav"))
        box = t.alert("Tarrowin")
        check("File too large" in alert_text(box), "the message: %r" % alert_text(box))
        screenshot("export-file-too-large")
        t.answer(box)
        check(t.proc.poll() is None, "the program ended")
        check(not os.path.exists(path("limit.wav")), "a part of limit.wav was left")
        t.main()


def soundfont_refused_then_remembered():
    broken = path("broken.sf2")
    with open(broken, "w") as f:
        f.write("RIFF but no SoundFont")
    mine = path("mine.sf2")
    shutil.copy(TIMGM, mine)
    with Tarrowin("--device", "0") as t:
        t.main()
        t.menu("Options", "SoundFont...")
        dialog = t.window("SoundFont")
        items = [i.name for i in t.find(role="list", name="SoundFonts", root=dialog) if i is not None]
        check(items[0].startswith("Default") and any(i.startswith("TimGM6mb.sf2") for i in items[1:]),
              "the list reads %r" % items)
        screenshot("soundfont-dialog")
        t.press("Browse...", root=dialog, modal=True)
        t.file_dialog("Choose a SoundFont", broken)
        t.press("OK", root=dialog, modal=True)
        alert = t.alert("Tarrowin")
        check(alert_text(alert).startswith("The SoundFont %s could not be loaded" % broken), alert_text(alert))
        screenshot("soundfont-refused")
        t.answer(alert)

        t.menu("Options", "SoundFont...")
        dialog = t.window("SoundFont")
        t.press("Browse...", root=dialog, modal=True)
        t.file_dialog("Choose a SoundFont", mine)
        t.press("OK", root=dialog, modal=True)
        t.gone("SoundFont")
    # The next start remembers it.
    with Tarrowin("--device", "0") as t:
        t.main()
        t.menu("Options", "SoundFont...")
        dialog = t.window("SoundFont")
        fonts = t.find(role="list", name="SoundFonts", root=dialog)
        chosen = [i.name for i in fonts if i is not None and has(i, pyatspi.STATE_SELECTED)]
        check(chosen == ["mine.sf2  (%s)" % WORK], "selected %r" % chosen)
        # Back to the default, for the scenarios after this one.
        click(next(i for i in fonts if i is not None and i.name.startswith("Default")))
        t.press("OK", root=dialog, modal=True)
        t.gone("SoundFont")


if __name__ == "__main__":
    run([notes_window_follows_the_form, notes_of_a_composition_while_it_plays, export_audio_and_cancel,
         export_past_the_file_size_limit, soundfont_refused_then_remembered])
