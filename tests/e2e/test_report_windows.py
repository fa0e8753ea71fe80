"""The report windows end to end: Composition Information, the image and Current note, compared
with what tarrowin-cli prints and writes for the same document."""

import os
import re
import subprocess

import pyatspi

from tarrowin_e2e import (random_composition, Tarrowin, act, all_in, check, cli, click, find_in, key, poll, run, screenshot, showing,
                          type_text)

WORK = os.environ.get("TARROWIN_E2E_WORK", "/tmp")


def path(name):
    return os.path.join(WORK, name)


def song():
    return random_composition("song.trw", 3, 7)


def rows(lst):
    return [item.name for item in lst if item is not None]


def lines(text):
    return text.rstrip("\n").split("\n")


def enabled(acc):
    return acc.getState().contains(pyatspi.STATE_ENABLED)


def rgb(png):
    return subprocess.run(["/usr/bin/convert", png, "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout


def composition_information():
    trw = song()
    with Tarrowin("--device", "0", trw) as t:
        t.main()
        t.menu("Options", "Composition Info...")
        info = t.window("Composition Information")
        global_list = t.find(role="list", name="Global Informaton", root=info)
        event_list = t.find(role="list", name="Event Information", root=info)
        check(rows(global_list) == lines(cli("info", trw)), "global rows %r" % rows(global_list)[:12])
        check(rows(event_list) == lines(cli("info", trw, "--event", "0")), "event 0 rows")
        check(not t.menu_enabled("Options", "Composition Info..."), "the command is enabled while the window is open")

        events = t.find(role="list", name="Events", root=info)
        click(find_in(events, role="list item", name="3"))
        poll(lambda: rows(event_list)[0] == "Event Number 3", 5, "event 3's report")
        check(rows(event_list) == lines(cli("info", trw, "--event", "3")), "event 3 rows")
        screenshot("composition-info")
        # The end of the global report: the scale rows' numbers in one column.
        click(find_in(global_list, role="list item", name="GLOBAL INFORMATION:"))
        key("End")
        screenshot("composition-info-scales")

        key("Return")  # Enter leaves the report open
        check(showing(info), "Enter closed the report")
        key("Escape")
        t.gone("Composition Information")
        poll(lambda: t.menu_enabled("Options", "Composition Info..."), 5, "the command to be enabled again")


def image_from_composition():
    trw = song()
    expected_png = path("expected.png")
    printed = cli("image", trw, expected_png)
    sums = re.search(r"\(S = (-?\d+), K = (-?\d+)\)", printed).group(0)
    with Tarrowin("--device", "0", trw) as t:
        t.main()
        t.menu("Options", "Create image from composition...")
        image = t.window("Image from composition")
        check(image.name == "Image from composition " + sums, "title %r, the CLI printed %s" % (image.name, sums))
        picture = t.find(description="Picture", root=image)
        extents = picture.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        check((extents.width, extents.height) == (500, 500), "the picture shows %dx%d" % (extents.width, extents.height))
        check(not t.menu_enabled("Options", "Create image from composition..."), "the command is enabled while open")
        screenshot("image-window")

        poll(lambda: image.getState().contains(pyatspi.STATE_ACTIVE), 5, "the image window to be active")
        key("ctrl+s")
        t.file_dialog("Save Image", path("window.png"))
        poll(lambda: os.path.exists(path("window.png")), 5, "window.png")
        check(rgb(path("window.png")) == rgb(expected_png), "the saved picture differs from tarrowin-cli image")
        check(t.main().name == "Tarrowin 2.5 - song.trw", "Ctrl+S in the image window touched the document")

        # The toolbar's visible "Save Image..." asks the same; Escape closes the window.
        t.press("Save Image...", root=image, modal=True)
        t.file_dialog("Save Image", path("button.png"))
        poll(lambda: os.path.exists(path("button.png")), 5, "button.png")
        poll(lambda: image.getState().contains(pyatspi.STATE_ACTIVE), 5, "the image window to be active again")
        key("Escape")
        t.gone("Image from composition")
        poll(lambda: t.menu_enabled("Options", "Create image from composition..."), 5, "the command enabled again")


def current_note():
    trw = song()
    with Tarrowin("--device", "0", trw) as t:
        t.main()
        # A Start typed but not yet left is taken in by the command.
        t.set_field("Start", 10, leave=None)
        t.menu("Options", "Get Current Note...")
        dialog = t.window("Current note from Start Counter")
        group = t.find(role="panel", name="Voices", root=dialog)
        notes = [t.find(role="label", name="Voice %d note" % v, root=group) for v in range(1, 17)]
        shown = [(n.description, enabled(n)) for n in notes]
        screenshot("current-note")
        key("Return")
        t.gone("Current note from Start Counter")
        poll(lambda: t.main().name.endswith("*"), 5, "the document to be marked modified")

        t.menu("File", "Save As...")
        t.file_dialog("Save As", path("noted.trw"))
        poll(lambda: os.path.exists(path("noted.trw")), 5, "noted.trw")
        printed = lines(cli("notes", path("noted.trw")))
        check(printed[0] == "Current note from Start Counter: 10", "the CLI read %r" % printed[0])
        expected = []
        for line in printed[1:]:
            text = line[4:]
            off = text.endswith("  (voice off)")
            expected.append((text[:-len("  (voice off)")] if off else text, not off))
        check(shown == expected, "the window showed %r, the CLI %r" % (shown, expected))
        check(any(not on for _, on in shown) and any(on for _, on in shown), "voices both on and off")


if __name__ == "__main__":
    run([composition_information, image_from_composition, current_note])
