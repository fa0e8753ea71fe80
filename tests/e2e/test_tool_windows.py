"""The composition tool windows end to end: a composition built by hand in the Composition
Maker, an event auditioned on a JACK port, Replace Event and Global Tempo, "Randomize !" and
"Create" against the command line's bytes for the same seed, the pickers' refusals and the
Multiple Voice Editor."""

import json
import os
import time

import pyatspi

from tarrowin_e2e import (Failure, Tarrowin, act, act_async, alert_text, all_in, check, cli, click, find_in, key, poll, run, start_midi_dump,
                          screenshot, showing, text_of, type_text)

WORK = os.environ.get("TARROWIN_E2E_WORK", "/tmp")
PYTHON = "/usr/bin/python3"


def path(name):
    return os.path.join(WORK, name)


def dump(trw):
    return json.loads(cli("dump", trw))


def load(doc, trw):
    with open(path("doc.json"), "w") as f:
        json.dump(doc, f)
    cli("load", path("doc.json"), trw)


def new_doc(voices_on=(0,), **current):
    """A new document as JSON, with the given voices on and current settings."""
    cli("new", path("new.trw"))
    doc = dump(path("new.trw"))
    doc["current"].update(current)
    for v in voices_on:
        doc["current"]["voices"][v]["enabled"] = 1
    return doc


def enabled(acc):
    return acc.getState().contains(pyatspi.STATE_ENABLED)


def lines(list_acc):
    return [i.name for i in list_acc if i is not None]


def save_as(t, name):
    if os.path.exists(path(name)):  # a scenario run twice: no question about replacing it
        os.remove(path(name))
    t.menu("File", "Save As...")
    t.file_dialog("Save As", path(name))
    poll(lambda: os.path.exists(path(name)), 5, name)
    return path(name)


def save_same_as(t, name, expected, what):
    """Saves the document as `name` and checks that its bytes are those of `expected`."""
    save_as(t, name)
    wait_until_saved(t, name)
    if open(path(name), "rb").read() != open(path(expected), "rb").read():
        raise Failure("%s: %s" % (what, first_difference(dump(path(name)), dump(path(expected)))))


def first_difference(a, b, where=""):
    """Where two dumped documents first differ, and how."""
    if isinstance(a, dict) and isinstance(b, dict):
        for k in a:
            if a[k] != b.get(k):
                return first_difference(a[k], b.get(k), "%s.%s" % (where, k))
    elif isinstance(a, list) and isinstance(b, list) and len(a) == len(b):
        for i, (x, y) in enumerate(zip(a, b)):
            if x != y:
                return first_difference(x, y, "%s[%d]" % (where, i))
    return "%s is %r, not %r" % (where, a, b)


def type_into(edit, value):
    """Real keys into an edit found once (walking the main window's tree takes seconds), then Tab."""
    click(edit)
    poll(lambda: edit.getState().contains(pyatspi.STATE_FOCUSED), 5, "the focus in %s" % edit.description)
    key("ctrl+a")
    type_text(str(value))
    key("Tab")


def wait_until_saved(t, name):
    poll(lambda: t.main().name == "Tarrowin 2.5 - " + name, 5, "the title to name " + name)


def maker_by_hand():
    """Add, Insert before line 2 of 5, Remove, double-click and Clear, as a musician does."""
    with Tarrowin("--device", "0") as t:
        t.main()
        t.menu("Options", "Composition Maker...")
        maker = t.window("Composition Maker")
        events = t.find(role="list", name="Events", root=maker)
        start, end = t.edit("Start"), t.edit("End")
        check(not t.menu_enabled("Options", "Composition Maker..."), "the menu item stays enabled while it is open")
        for first, last in [(0, 200), (200, 260), (260, 300), (300, 420), (420, 500)]:
            type_into(end, last)
            type_into(start, first)
            t.press("Add", maker)
        poll(lambda: len(lines(events)) == 5, 5, "five lines")
        check(lines(events)[0] == "[0 -> 200]", "line 0 reads %r" % lines(events)[0])

        # Start equal to End: refused.
        type_into(start, 500)
        t.press("Add", root=maker, modal=True)
        box = t.alert("Error")
        check(alert_text(box) == "Minimum difference between Start and End counters  is 1", alert_text(box))
        t.answer(box)

        type_into(end, 700)
        click(find_in(events, role="list item", name="[260 -> 300]"))
        t.press("Insert", maker)
        poll(lambda: len(lines(events)) == 6, 5, "six lines")
        check(lines(events)[2] == "[500 -> 700]" and lines(events)[3] == "[260 -> 300]", "after Insert: %s" % lines(events))
        combo = t.find(role="combo box", description="Play from Event")
        items = all_in(combo, role="list item", visible=False)
        check([i.name for i in items] == [str(k) for k in range(6)], "Play from Event lists %s" % [i.name for i in items])
        screenshot("composition-maker")

        click(find_in(events, role="list item", name="[0 -> 200]"))
        t.press("Remove", root=maker, modal=True)
        box = t.alert("Delete")
        check(alert_text(box) == "Are you sure?", alert_text(box))
        t.answer(box, "Yes")
        poll(lambda: lines(events)[0] == "[200 -> 260]", 5, "line 0 to be removed")

        # A double-click loads the event into the form and chooses it to play from.
        click(find_in(events, role="list item", name="[300 -> 420]"), double=True)
        poll(lambda: text_of(start) == "300" and text_of(end) == "420", 5, "event 3 in the form")
        poll(lambda: combo.name == "3", 5, "Play from Event to show 3")

        saved = save_as(t, "maker.trw")
        wait_until_saved(t, "maker.trw")
        doc = dump(saved)
        ranges = [(e["startCounter"], e["endCounter"]) for e in doc["events"]]
        check(ranges == [(200, 260), (500, 700), (260, 300), (300, 420), (420, 500)], "saved events %s" % ranges)

        t.press("Clear", root=maker, modal=True)
        t.answer(t.alert("Delete All"), "Yes")
        poll(lambda: not lines(events), 5, "an empty list")
        check(not enabled(t.find(role="combo box", description="Play from Event")), "Play from Event stays enabled")
        check(not t.menu_enabled("Options", "Replace Event with Current Settings "), "Replace stays enabled")

        # Escape and Return do nothing; Close is the way out.
        click(events)
        key("Escape", "Return")
        time.sleep(0.3)
        check(showing(maker), "Escape or Return closed the Composition Maker")
        t.press("Close", root=maker)
        t.gone("Composition Maker")
        check(t.menu_enabled("Options", "Composition Maker..."), "the menu item stays disabled after Close")


def received(name):
    """(frame, [status, data1, data2]) of every message the dump received."""
    messages = []
    for line in open(path(name + ".txt")):
        stamp, _, rest = line.partition(":")
        data = []
        for word in rest.split():  # the bytes in hex, then their meaning in words
            if len(word) != 2 or any(c not in "0123456789abcdef" for c in word.lower()):
                break
            data.append(int(word, 16))
        if stamp.strip().isdigit() and data:
            messages.append((int(stamp), data))
    return messages


def audition_on_jack():
    """The Maker's Play sounds End - Start ticks of the event at the event's own tempo, the
    notes the export writes for those settings, then a note off for every key of every channel."""
    tick_ms = 60000 // (240 * 8)  # 31 ms
    doc = new_doc(voices_on=(0, 1, 2), tempo=240, startCounter=32, endCounter=96)
    voices = doc["current"]["voices"]
    voices[1].update(algorithm=3, noteValueIndex=3, noteValue=4.0, instrument=40)
    voices[2].update(algorithm=1, noteValueIndex=1, noteValue=16.0, tied=0)
    load(doc, path("event.trw"))
    cli("export", path("event.trw"), path("event.mid"), "--mode", "current")
    cli("event", "add", path("event.trw"), path("audition.trw"), "--tempo", "240")
    song = dump(path("audition.trw"))
    song["current"]["tempo"] = 60  # the form's tempo is not the event's
    load(song, path("audition.trw"))

    import mido
    expected, tick = [], 0
    for msg in mido.MidiFile(path("event.mid")).tracks[0]:
        tick += msg.time
        if msg.type == "note_on" and msg.velocity > 0:
            expected.append((msg.channel, msg.note, msg.velocity, tick))
    check(expected, "the export holds no notes")

    dump_proc, dump_out = start_midi_dump("dumpA")
    try:
        with Tarrowin("--device", "JACK: dumpA:input", path("audition.trw")) as t:
            t.main()
            t.menu("Options", "Composition Maker...")
            maker = t.window("Composition Maker")
            click(find_in(find_in(maker, role="list", name="Events"), role="list item", name="[32 -> 96]"))
            play = t.button("Play", root=maker)
            global_tempo = t.find(role="push button", name="Global Tempo")
            act(play)
            alerts = lambda: [w for w in t.app if w is not None and showing(w) and w.getRoleName() == "alert"]
            poll(lambda: not enabled(play) or alerts(), 5, "Play to be disabled while the event plays")
            check(not alerts(), "Play refused: %s" % "".join(alert_text(a) for a in alerts()))
            check(enabled(t.button("Stop", root=maker)) and not enabled(t.button("Close", root=maker)),
                  "only Stop is usable during the audition")
            check(not enabled(global_tempo), "Global Tempo is usable")
            screenshot("composition-maker-audition")
            poll(lambda: enabled(play), 10, "the audition to end")
    finally:
        dump_proc.terminate()
        dump_proc.wait()
        dump_out.close()

    got = received("dumpA")
    wanted = [[0x80 + ch, key, 0] for ch in range(16) for key in range(128)]
    sweep = next((i for i in range(len(got)) if [m for _, m in got[i:i + 128]] == wanted[:128]), len(got))
    notes = [(m[0] & 15, m[1], m[2], f) for f, m in got[:sweep] if m[0] >> 4 == 9 and m[2] > 0]
    check([n[:3] for n in notes] == [e[:3] for e in expected],
          "the notes differ from the export:\n %s\n %s" % (expected[:8], notes[:8]))
    # Times are measured from the first note: the device's first messages may take a moment.
    first_tick, first_frame = expected[0][3], notes[0][3]
    for e, n in zip(expected, notes):
        have, want = (n[3] - first_frame) / 48.0, (e[3] - first_tick) * tick_ms
        check(abs(have - want) <= 60, "note %s came at %.0f ms, its tick is at %d ms" % (e[:3], have, want))
    check(sweep < len(got), "no note-off sweep arrived")
    length = (got[sweep][0] - first_frame) / 48.0
    want = (96 - 32 - first_tick) * tick_ms
    check(abs(length - want) <= 60, "the event ended %.0f ms after its first note, not %d ms (64 ticks of %d ms)"
          % (length, want, tick_ms))
    check([m for _, m in got[sweep:]] == wanted,
          "the audition ends with %d of the 2048 messages of the note-off sweep" % (len(got) - sweep))


def replace_and_global_tempo():
    cli("new", path("three0.trw"))
    for i, (first, last) in enumerate([(0, 100), (100, 250), (250, 300)]):
        cli("event", "add", path("three%d.trw" % i), path("three%d.trw" % (i + 1)), "--start", str(first),
            "--end", str(last))
    with Tarrowin("--device", "0", path("three3.trw")) as t:
        t.main()
        t.menu("Options", "Composition Maker...")
        maker = t.window("Composition Maker")
        events = t.find(role="list", name="Events", root=maker)
        t.choose("Play from Event", "1")
        start, end = t.edit("Start"), t.edit("End")
        type_into(end, 1100)
        type_into(start, 1000)
        t.menu("Options", "Replace Event with Current Settings ")
        box = t.alert("Edit Event")
        check(alert_text(box) == "Replace Event 1 with current settings?", alert_text(box))
        t.answer(box, "Yes")
        poll(lambda: lines(events) == ["[0 -> 100]", "[1000 -> 1100]", "[250 -> 300]"], 5, "line 1 replaced")

        t.find(role="scroll bar", name="Tempo").queryValue().currentValue = 150
        poll(lambda: t.find(role="label", description="Tempo value").name == "150", 5, "tempo 150")
        t.press("Global Tempo", modal=True)
        box = t.alert("Tarrowin")
        check(alert_text(box) == "Do you want to globally change your composition's tempo to 150?", alert_text(box))
        t.answer(box, "Yes")
        saved = save_as(t, "replaced.trw")
        wait_until_saved(t, "replaced.trw")
        doc = dump(saved)
        check([(e["startCounter"], e["endCounter"], e["tempo"]) for e in doc["events"]] ==
              [(0, 100, 150), (1000, 1100, 150), (250, 300, 150)], "saved events %s" % doc["events"][:0])

        t.menu("File", "New", wait=True)
        t.window("Tarrowin 2.5 - Untitled")
        t.press("Global Tempo", modal=True)
        box = t.alert("Error")
        check(alert_text(box) == "You have not created a composition yet", alert_text(box))
        t.answer(box)


def open_randomizer(t):
    t.menu("Options", "Composition Randomizer...")
    return t.window("Composition Randomizer")


def randomize_and_create_as_the_cli():
    """One seed gives the window and the command line the same bytes."""
    load(new_doc(voices_on=(0, 1, 2, 3)), path("base.trw"))
    cli("randomize", path("base.trw"), path("cli-randomized.trw"), "--seed", "777")
    cli("create", path("base.trw"), path("cli-created.trw"), "--seed", "777", "--events", "5", "--start-counter", "zero")
    with Tarrowin("--device", "0", "--seed", "777", path("base.trw")) as t:
        t.main()
        dialog = open_randomizer(t)
        t.find(role="label", name="Seed: 777", root=dialog)
        check(all(t.find(role="check box", name=str(v), root=dialog).getState().contains(pyatspi.STATE_CHECKED)
                  for v in (1, 2, 3, 4)), "the voices that are on are not chosen")
        screenshot("composition-randomizer")
        t.press("Randomize !", root=dialog)
        t.press("Close", root=dialog)
        t.gone("Composition Randomizer")
        save_same_as(t, "randomized.trw", "cli-randomized.trw",
                     "Randomize ! in the window differs from tarrowin-cli randomize --seed 777")

        # Open seeds the generator again.
        t.menu("File", "Open...")
        t.file_dialog("Open", path("base.trw"))
        wait_until_saved(t, "base.trw")
        dialog = open_randomizer(t)
        type_into(t.edit("Number of events", root=dialog), 5)
        click(t.find(role="radio button", name="Start from Zero", root=dialog))
        t.press("Create", root=dialog)
        maker = t.window("Composition Maker")
        events = t.find(role="list", name="Events", root=maker)
        poll(lambda: len(lines(events)) == 5, 5, "five events in the Composition Maker")
        screenshot("randomizer-create")
        t.press("Close", root=dialog)
        t.gone("Composition Randomizer")
        check(t.find(role="combo box", description="Play from Event").name == "0", "Play from Event is not on 0")
        save_same_as(t, "created.trw", "cli-created.trw", "Create in the window differs from tarrowin-cli create --seed 777")


PICKERS = [  # box, picker, refusal, whether it has "None"
    ("Algorithm", "Algorithms", "Please choose at least one algorithm", True),
    ("Note Val", "Note Values", "Please choose at least one value", True),
    ("Scale", "Scales", "Please select at least one scale", True),
    ("Instrument", "Select Instruments", "Please select at least one instrument", True),
    ("Note", "Select Notes", "Please select at least one note", True),
    ("Octaves", "Select Octaves", "Please make at least one selection", False),
    ("Dynamic", "Select Dynamics", "Please make at least one selection", False),
]


def refused(t, dialog, text):
    t.press("OK", root=dialog, modal=True)
    box = t.alert("Error")
    check(alert_text(box) == text, "refusal %r" % alert_text(box))
    t.answer(box)
    check(showing(dialog), "%s closed after its refusal" % dialog.name)


def check_to_open(t, root, name, title):
    """Checks a box (unchecking it first if need be), which opens the dialog `title`."""
    box = t.find(role="check box", name=name, root=root)
    if box.getState().contains(pyatspi.STATE_CHECKED):
        act(box, "Toggle")
    act_async(box, "Toggle")
    return t.window(title)


def enter_range(t, dialog, first, last):
    type_into(t.edit("From", root=dialog), first)
    type_into(t.edit("To", root=dialog), last)


def pickers_refuse_an_empty_choice():
    with Tarrowin("--device", "0") as t:
        t.main()
        randomizer = open_randomizer(t)
        for box_name, title, refusal, none in PICKERS:
            picker = check_to_open(t, randomizer, box_name, title)
            screenshot("picker-" + title.lower().replace(" ", "-"))
            key("Escape")  # ignored
            if none:
                t.press("None", root=picker)
            else:
                for toggle in all_in(picker, role="check box"):
                    act(toggle, "Toggle")
            refused(t, picker, refusal)
            if box_name == "Scale":  # no scale at all, but user-defined ones allowed: a choice
                act(t.find(role="check box", name="Allow User-defined Scales", root=picker), "Toggle")
            elif none:
                t.press("All", root=picker)
            else:
                act(all_in(picker, role="check box")[0], "Toggle")
            t.press("OK", root=picker)
            t.gone(title)

        # The range of Param1, and the range of an "Other" note value.
        dialog = check_to_open(t, randomizer, "Param1", "Param1 Range")
        screenshot("param1-range")
        enter_range(t, dialog, 1, 100)
        refused(t, dialog, "Parameters must be between 2 and 1000000\nFrom must be less than To")
        enter_range(t, dialog, 2, 3)
        t.press("OK", root=dialog)
        t.gone("Param1 Range")

        picker = check_to_open(t, randomizer, "Note Val", "Note Values")
        dialog = check_to_open(t, picker, "Other", "Note Value Range")
        enter_range(t, dialog, 48, 48)
        refused(t, dialog, "Parameters must be between 1 and 960\nFrom must be less than To")
        enter_range(t, dialog, 1, 960)
        t.press("OK", root=dialog)
        t.gone("Note Value Range")
        t.press("OK", root=picker)
        t.gone("Note Values")
        t.press("Close", root=randomizer)


def voice_editor_as_the_cli():
    """"Change Settings" and "Change Selected Events" give the bytes of tarrowin-cli edit-voices."""
    cli("new", path("mve0.trw"))
    for i, (first, last) in enumerate([(0, 100), (100, 250), (250, 300)]):
        cli("event", "add", path("mve%d.trw" % i), path("mve%d.trw" % (i + 1)), "--start", str(first),
            "--end", str(last))
    cli("edit-voices", path("mve3.trw"), path("cli-settings.trw"), "--voices", "1,3", "--dynamic", "mf")
    cli("edit-voices", path("cli-settings.trw"), path("cli-events.trw"), "--voices", "1,3", "--dynamic", "mf",
        "--events", "0,2")
    with Tarrowin("--device", "0", path("mve3.trw")) as t:
        t.main()
        t.menu("Options", "Multiple Voice Editor...")
        dialog = t.window("Multiple Voice Editor")
        for v in ("1", "3"):
            act(t.find(role="check box", name=v, root=dialog), "Toggle")
        act(t.find(role="check box", name="Dynamic", root=dialog), "Toggle")
        click(t.find(role="radio button", name="MF", root=dialog))
        act(t.find(role="check box", name="Octaves", root=dialog), "Toggle")
        t.press("Change Settings", root=dialog, modal=True)
        box = t.alert("Error")
        check(alert_text(box) == "No Octaves selected!", alert_text(box))
        t.answer(box)
        act(t.find(role="check box", name="Octaves", root=dialog), "Toggle")
        t.press("Change Settings", dialog)
        events = t.find(role="list", name="Events", root=dialog)
        for item in ("0", "2"):
            line = find_in(events, role="list item", name=item)
            click(line)
            poll(lambda: line.getState().contains(pyatspi.STATE_SELECTED), 5, "event %s to be selected" % item)
        screenshot("multiple-voice-editor")
        t.press("Change Selected Events", dialog)

        # "Yes" of "Modulate" asks for the modulation; Cancel unchecks it.
        act(t.find(role="check box", name="Modulate", root=dialog), "Toggle")
        act_async(t.find(role="check box", name="Yes", root=dialog), "Toggle")
        modulate = t.window("Modulate")
        screenshot("voice-editor-modulate")
        t.press("Cancel", root=modulate)
        t.gone("Modulate")
        check(not t.find(role="check box", name="Yes", root=dialog).getState().contains(pyatspi.STATE_CHECKED),
              "Cancel left Yes checked")
        t.press("Close", root=dialog)
        t.gone("Multiple Voice Editor")
        save_same_as(t, "edited.trw", "cli-events.trw", "the Multiple Voice Editor differs from tarrowin-cli edit-voices")


if __name__ == "__main__":
    # TARROWIN_E2E_ONLY="audition_on_jack ..." runs only those scenarios.
    chosen = [globals()[name] for name in os.environ.get("TARROWIN_E2E_ONLY", "").split()]
    run(chosen or [maker_by_hand, audition_on_jack, replace_and_global_tempo, randomize_and_create_as_the_cli,
                   pickers_refuse_an_empty_choice, voice_editor_as_the_cli])
