"""The pictures that software centres show (scripts/screenshots.sh): a random composition of
ten voices in the main window, its piano roll, the Composition Randomizer and its image,
each window photographed with its frame."""

import re
import subprocess

from tarrowin_e2e import SHOTS, Tarrowin, all_in, check, cli, key, poll, run, work_path
from test_tool_windows import load, new_doc, open_randomizer


def photograph(name, title):
    """The visible window whose title is `title`, with its frame, as SHOTS/name.png."""
    ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(title)],
                         capture_output=True, text=True).stdout.split()
    check(len(ids) == 1, "%d visible windows are called %r" % (len(ids), title))
    subprocess.run(["/usr/bin/import", "-frame", "-window", ids[0], "%s/%s.png" % (SHOTS, name)], check=True)


def windows_of_a_composition():
    song = work_path("showcase.trw")
    load(new_doc(voices_on=range(10)), song)
    cli("randomize", song, song, "--seed", "2026", "--voices", "1-10", "--boxes", "all")
    cli("create", song, song, "--seed", "25", "--events", "6", "--voices", "1-10")
    with Tarrowin("--device", "0", "--seed", "25", song) as t:
        main = t.main()
        photograph("main-window", main.name)

        t.menu("Playback Controls", "Composition", wait=True)
        t.menu("View", "Notes", wait=True)
        notes = t.window("Notes")
        poll(lambda: any(label.name.startswith("Composition, 6 events") for label in all_in(notes, role="label")), 5,
             "the composition's notes")
        photograph("notes-view", "Notes")
        key("alt+F4")
        t.gone("Notes")

        randomizer = open_randomizer(t)
        photograph("randomizer", randomizer.name)
        t.press("Close", root=randomizer)
        t.gone("Composition Randomizer")

        t.menu("Options", "Create image from composition...")
        image = t.window("Image from composition")
        photograph("image", image.name)


if __name__ == "__main__":
    run([windows_of_a_composition])
