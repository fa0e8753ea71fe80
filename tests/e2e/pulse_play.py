"""Plays a document from the window on the built-in synthesizer: opens it, locks the
counters, presses Play and waits for the locked play to end. The PulseAudio stage records
what it sounds like (scripts/test.d/45-pulse-live.sh)."""

import os

from tarrowin_e2e import Failure, Tarrowin, key, poll, run


def play_locked_in_the_window():
    with Tarrowin(os.environ["TARROWIN_PULSE_DOCUMENT"], "--device", "0") as t:
        t.press("Lock")
        # A menu just opened now and then drops the item's Press: choose it again then.
        for attempt in range(3):
            t.menu("Playback Controls", "Play", wait=True)
            try:
                poll(lambda: not t.menu_enabled("Playback Controls", "Play"), 3, "the play to start")
                break
            except Failure:
                if attempt == 2:
                    raise
                key("Escape")
        poll(lambda: t.menu_enabled("Playback Controls", "Play"), 30, "the locked play to end")


if __name__ == "__main__":
    run([play_locked_in_the_window])
