"""The per-voice dialogs end to end: each opened from the real window (Set, Modulate, Scale
"User defined", Note value "Other" and every item of the Algorithms menu), driven through
the accessibility tree, and what it stored read back from the saved document and its export."""

import json
import os
import subprocess

import pyatspi

from tarrowin_e2e import (Tarrowin, act, act_async, alert_text, check, children, cli, click, controls, find_in, has, key,
                          poll, run, screenshot, showing, text_of, type_keys, type_text)

WORK = os.environ.get("TARROWIN_E2E_WORK", "/tmp")


def path(name):
    return os.path.join(WORK, name)


def choose_in(combo, item):
    """Opens a combo box and clicks one of its items, as a user does."""
    act(combo, "ShowMenu")
    click(find_in(combo, role="list item", name=item))
    poll(lambda: combo.name == item, 5, "the list to show %s" % item)


def choose_menu(t, *path):
    """Chooses a menu item that may open a dialog."""
    t.menu(*path)


def checked_item(t, submenu):
    """The item of an Algorithms submenu that shows a check."""
    bar = next(c for c in children(t.main()) if c.getRoleName() == "menu bar")
    entry = next(c for c in children(bar) if c.name == "Algorithms")
    voice = next(c for c in children(children(entry)[0]) if c.name == submenu)
    items = [c.name for c in children(children(voice)[0]) if has(c, pyatspi.STATE_CHECKED)]
    return items[0] if len(items) == 1 else items


def save_and_dump(t, name):
    choose_menu(t, "File", "Save As...")
    t.file_dialog("Save As", path(name))
    poll(lambda: os.path.exists(path(name)), 5, name)
    return json.loads(cli("dump", path(name)))


def dialog_window(t, title):
    """A dialog once it has the keyboard (a closing menu may hold it for a moment)."""
    dialog = t.window(title)
    poll(lambda: has(dialog, pyatspi.STATE_ACTIVE), 5, "%s to be active" % title)
    return dialog


def type_into(t, dialog, description, value):
    type_keys(t.edit(description, root=dialog), value)


def midi_dialogs():
    """Set of voice 1 and of voice 10 (on the percussion channel in a new document)."""
    with Tarrowin("--device", "0") as t:
        t.main()
        set1, voice10, set10 = controls(t.main(), "Extra voice 1", "Voices voice 10", "Extra voice 10")

        # Voice 1. Unticking Percussion goes back to the voice's own channel.
        act_async(set1)
        dialog = dialog_window(t, "Extra - voice 1")
        percussion = t.find(role="check box", name="Percussion", root=dialog)
        instrument = t.find(role="combo box", description="Instrument", root=dialog)
        channel = t.find(role="combo box", description="Channel", root=dialog)
        check(not has(percussion, pyatspi.STATE_CHECKED) and has(instrument, pyatspi.STATE_ENABLED),
              "voice 1 opens without percussion")
        match = t.find(role="check box", name="Match Scale", root=dialog)
        check(not has(match, pyatspi.STATE_ENABLED), "Match Scale is enabled without Inverted")
        act(t.find(role="check box", name="Inverted", root=dialog), "Toggle")
        poll(lambda: has(match, pyatspi.STATE_ENABLED), 5, "Match Scale to follow Inverted")
        act(percussion, "Toggle")
        poll(lambda: channel.name == "9" and not has(instrument, pyatspi.STATE_ENABLED), 5, "channel 9")
        act(percussion, "Toggle")
        poll(lambda: channel.name == "0" and has(instrument, pyatspi.STATE_ENABLED), 5, "channel 0 again")
        choose_in(instrument, "040 Violin")
        click(t.find(role="radio button", name="FF", root=dialog))
        pan = t.find(role="scroll bar", description="Pan", root=dialog)
        pan.queryValue().currentValue = 62
        label = t.find(role="label", description="Pan value", root=dialog)
        poll(lambda: label.name == "62", 5, "the pan label to show 62")
        screenshot("voice-midi-dialog")
        t.press("OK", root=dialog)
        t.gone("Extra - voice 1")

        # Voice 10 of a new document plays percussion; channel 2 unticks it.
        act(voice10, "Toggle")
        poll(lambda: has(set10, pyatspi.STATE_ENABLED), 5, "voice 10's row to be enabled")
        act_async(set10)
        dialog = dialog_window(t, "Extra - voice 10")
        percussion = t.find(role="check box", name="Percussion", root=dialog)
        instrument = t.find(role="combo box", description="Instrument", root=dialog)
        check(has(percussion, pyatspi.STATE_CHECKED) and not has(instrument, pyatspi.STATE_ENABLED),
              "voice 10 opens on the percussion channel")
        screenshot("voice-midi-dialog-percussion")
        choose_in(t.find(role="combo box", description="Channel", root=dialog), "2")
        poll(lambda: not has(percussion, pyatspi.STATE_CHECKED) and has(instrument, pyatspi.STATE_ENABLED), 5,
             "channel 2 to untick Percussion")
        t.press("OK", root=dialog)
        t.gone("Extra - voice 10")

        voices = save_and_dump(t, "midi.trw")["current"]["voices"]
        expected = {"instrument": 40, "channel": 0, "dynamicIndex": 5, "velocity": 127, "pan": 62, "inverted": 1,
                    "matchScale": 1, "scale": [0, 1, 3, 5, 7, 8, 10]}
        wrong = {k: voices[0][k] for k in expected if voices[0][k] != expected[k]}
        check(not wrong, "voice 1 saved with %s" % wrong)
        check(voices[9]["channel"] == 2 and voices[9]["instrument"] == 0, "voice 10 saved as %s" % voices[9])


def row_dialogs():
    """Modulate, "User defined" and "Other" of voice 1, checked in the saved file and its export."""
    with Tarrowin("--device", "0") as t:
        t.main()
        end, modulate, scale, note_value = controls(t.main(), "End", "Modulate voice 1", "Scale voice 1", "Note value voice 1")
        type_keys(end, 200)
        key("Tab")

        # Modulate: Cancel unticks the box again; OK keeps it with the period.
        act_async(modulate, "Toggle")
        dialog = dialog_window(t, "Modulation - voice 1")
        screenshot("modulate-dialog")
        t.press("Cancel", root=dialog)
        t.gone("Modulation - voice 1")
        poll(lambda: not has(modulate, pyatspi.STATE_CHECKED), 5, "the Modulate box to untick")
        act_async(modulate, "Toggle")
        dialog = dialog_window(t, "Modulation - voice 1")
        type_into(t, dialog, "Every", 0)
        t.press("OK", root=dialog, modal=True)
        box = t.alert("Tarrowin")
        check("Please enter an integer between 1 and 50." in alert_text(box), "refusal: %r" % alert_text(box))
        t.answer(box)
        type_into(t, dialog, "Every", 7)
        t.press("OK", root=dialog, modal=True)
        t.gone("Modulation - voice 1")
        poll(lambda: has(modulate, pyatspi.STATE_CHECKED), 5, "the Modulate box to stay ticked")

        # "User defined": two notes are refused; C, E, G is taken.
        choose_in(scale, "User defined")
        dialog = dialog_window(t, "User scale - voice 1")
        screenshot("user-scale-dialog")
        key("Escape")
        check(showing(dialog), "Escape closed the user scale dialog")
        for note in ("D", "F", "G", "A", "B"):
            act(t.find(role="check box", name=note, root=dialog), "Toggle")
        t.press("OK", root=dialog, modal=True)
        box = t.alert("too few notes")
        check(alert_text(box) == "Please choose at least three notes.", "too few: %r" % alert_text(box))
        screenshot("user-scale-too-few")
        t.answer(box)
        act(t.find(role="check box", name="G", root=dialog), "Toggle")
        t.press("OK", root=dialog, modal=True)
        t.gone("User scale - voice 1")

        # "Other": 20 ticks, shown on the row.
        choose_in(note_value, "Other (8)")
        dialog = dialog_window(t, "Note Value - voice 1")
        screenshot("note-value-dialog")
        type_into(t, dialog, "Enter note value  (1 = thirtysecond)", 20)
        t.press("OK", root=dialog, modal=True)
        t.gone("Note Value - voice 1")
        poll(lambda: note_value.name == "Other (20)", 5, "the row to read Other (20)")

        voice = save_and_dump(t, "rows.trw")["current"]["voices"][0]
        expected = {"modulate": 1, "modulateMode": 0, "modulateEvery": 7, "scaleIndex": 15, "userScale": [0, 4, 7],
                    "scale": [0, 4, 7], "noteValueIndex": 11, "noteValue": 20.0}
        wrong = {k: voice[k] for k in expected if voice[k] != expected[k]}
        check(not wrong, "voice 1 saved with %s" % wrong)

        # The export strikes voice 1's notes (channel 0) every 20 ticks.
        choose_menu(t, "File", "Save Midi file...")
        t.file_dialog("Save Midi File (Current Settings)", path("rows.mid"))
        poll(lambda: os.path.exists(path("rows.mid")), 5, "rows.mid")
        times = subprocess.run(["/usr/bin/python3", "-c", """
import mido, sys
now, out = 0, []
for m in mido.MidiFile(sys.argv[1]).tracks[0]:
    now += m.time
    if m.type == 'note_on' and m.velocity > 0 and m.channel == 0:
        out.append(now)
print(' '.join(map(str, out)))
""", path("rows.mid")], capture_output=True, text=True, check=True).stdout.split()
        gaps = {int(b) - int(a) for a, b in zip(times, times[1:])}
        check(len(times) >= 3 and all(int(x) % 20 == 0 for x in times) and 20 in gaps, "voice 1's notes at %s" % times)
        screenshot("voice-dialogs-main-window")




ITEMS = [
    # voice, menu item, title, [(field, text)], stored {field: value}; no fields: Cancel
    (3, "Logistic Map...", "LogMap Voice 3", [], {"algorithm": 1, "logisticMu": 3.9}),
    (4, "1/f noise ...", "1/f Voice 4", [("Enter \u00fe coefficient", "0.25")], {"algorithm": 2, "noiseCoefficient": 0.25}),
    (5, "Henon...", "Henon Voice 5", [("Parameter a", "1.25"), ("Parameter b", "0.5")],
     {"algorithm": 3, "henonA": 1.25, "henonB": 0.5}),
    (6, "Hopalong...", "Hopalong Voice 6", [("Enter angle in radians", "-6.28319")],
     {"algorithm": 4, "hopalongAngle": -6.28319}),
    (7, "Martin...", "Martin Voice 7", [("Enter angle in radians", "1.5")], {"algorithm": 5, "martinAngle": 1.5}),
    (8, "Gingerbreadman...", "Ginger Voice 8", [("Initial X", "-20"), ("Initial Y", "2.5")],
     {"algorithm": 6, "gingerX0": -20.0, "gingerY0": 2.5}),
    (9, "Lorenz...", "Lorenz Voice 9", [("Enter coefficient", "0.125")], {"algorithm": 7, "lorenzCoefficient": 0.125}),
]


def algorithm_dialogs():
    """Every item of the Algorithms menu: its dialog, its refusal, Cancel and OK."""
    with Tarrowin("--device", "0") as t:
        t.main()
        # LogMap: 4.5 is refused, then Cancel keeps mu with the algorithm changed.
        choose_menu(t, "Algorithms", "Voice 3", "Logistic Map...")
        dialog = dialog_window(t, "LogMap Voice 3")
        type_into(t, dialog, "Enter \u00b5 coefficient", "4.5")
        t.press("OK", root=dialog, modal=True)
        box = t.alert("Tarrowin")
        check("Please enter a number between 2 and 4." in alert_text(box), "refusal: %r" % alert_text(box))
        t.answer(box)
        type_into(t, dialog, "Enter \u00b5 coefficient", "4.0")
        screenshot("logmap-dialog")
        for voice, item, title, fields, _ in ITEMS:
            if voice != 3:
                choose_menu(t, "Algorithms", "Voice %d" % voice, item)
                dialog = dialog_window(t, title)
                for description, text in fields:
                    type_into(t, dialog, description, text)
                screenshot("algorithm-dialog-" + title.split()[0].replace("/", ""))
            t.press("Cancel" if not fields else "OK", root=dialog)
            t.gone(title)
        # Morse-Thue opens nothing; the item shows the voice's algorithm checked.
        act(t.menu_item("Algorithms", "Voice 5", "Morse-Thue"), "Press")
        key("Escape", "Escape", "Escape")
        check(checked_item(t, "Voice 9") == "Lorenz...", "Voice 9 shows %r checked" % checked_item(t, "Voice 9"))
        check(checked_item(t, "Voice 5") == "Morse-Thue", "Voice 5 shows %r checked" % checked_item(t, "Voice 5"))

        doc = save_and_dump(t, "algorithms.trw")
        voices = doc["current"]["voices"]
        for voice, _, title, _, stored in ITEMS:
            if voice == 5:
                stored = dict(stored, algorithm=0)
            wrong = {k: voices[voice - 1][k] for k in stored if abs(voices[voice - 1][k] - stored[k]) > 1e-6}
            check(not wrong, "%s stored %s" % (title, wrong))


if __name__ == "__main__":
    run([midi_dialogs, row_dialogs, algorithm_dialogs])
