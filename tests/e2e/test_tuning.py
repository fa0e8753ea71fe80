"""Options > Tuning... end to end: a Scala scale loaded through the dialog's file dialog, its
description read as a screen reader reads it, the document saved and opened again in a new
Tarrowin, which shows the same tuning; the saved file is version 3.0 and holds the scale."""

import json
import os

from tarrowin_e2e import ROOT, Tarrowin, check, cli, find_in, poll, run, screenshot

WORK = os.environ.get("TARROWIN_E2E_WORK", "/tmp")
SCALE = os.path.join(ROOT, "tests", "tunings", "19edo.scl")


def path(name):
    return os.path.join(WORK, name)


def open_tuning(t):
    t.menu("Options", "Tuning...")
    return t.window("Tuning", role="dialog")


def description(dialog):
    return find_in(dialog, role="label", description="Scale description").name


def load_save_reopen():
    song = path("tuned.trw")
    with Tarrowin("--device", "0") as t:
        t.main()
        dialog = open_tuning(t)
        check(description(dialog) == "12-tone equal temperament (default)", "a new document is untuned")
        t.press("Load Scale...", root=dialog, modal=True)
        t.file_dialog("Load Scale", SCALE)
        poll(lambda: description(dialog) == "19-tone equal temperament", 5, "the scale's description")
        count = find_in(dialog, role="label", description="Degree count").name
        check(count == "19, repeating every 1200.000 cents", "degree count: %r" % count)
        check(find_in(dialog, role="list item", name="1: 63.158") is not None, "the first degree in cents")
        screenshot("tuning-dialog")
        t.press("OK", root=dialog)
        t.gone("Tuning")
        t.menu("File", "Save As...")
        t.file_dialog("Save As", song)
        poll(lambda: os.path.exists(song), 5, "tuned.trw")
        with open(song, "rb") as f:
            check(f.read(4) == b"\x00\x00\x40\x40", "the tuned document is version 3.0")
        dumped = json.loads(cli("dump", song))
        check(dumped["tuning"]["scale"] == open(SCALE).read(), "the document holds the scale's text")

    with Tarrowin(song, "--device", "0") as t:
        poll(lambda: t.main().name == "Tarrowin 2.5 - tuned.trw", 10, "tuned.trw to open")
        dialog = open_tuning(t)
        check(description(dialog) == "19-tone equal temperament", "the reopened document keeps its tuning")
        t.press("Cancel", root=dialog)
        t.gone("Tuning")


if __name__ == "__main__":
    run([load_save_reopen])
