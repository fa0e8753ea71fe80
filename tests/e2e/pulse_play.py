"""Plays a document from the window on the built-in synthesizer: opens it, locks the
counters, presses Play and waits for the locked play to end. The PulseAudio stage records
what it sounds like (scripts/test.d/45-pulse-live.sh)."""

import os

from tarrowin_e2e import Tarrowin, poll, run


def play_locked_in_the_window():
    with Tarrowin(os.environ["TARROWIN_PULSE_DOCUMENT"], "--device", "0") as t:
        t.press("Lock")  # a pressed button clicks 100 ms later
        poll(lambda: t.button("Unlock"), 5, "the Lock button to read Unlock")
        t.menu("Playback Controls", "Play", wait=True)
        poll(lambda: not t.menu_enabled("Playback Controls", "Play"), 10, "the play to start")
        poll(lambda: t.menu_enabled("Playback Controls", "Play"), 30, "the locked play to end")


if __name__ == "__main__":
    run([play_locked_in_the_window])
