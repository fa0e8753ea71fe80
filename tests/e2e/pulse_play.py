"""Plays a document from the window on the built-in synthesizer: opens it, locks the
counters, presses Play and waits for the locked play to end. The PulseAudio stage records
what it sounds like (scripts/test.d/45-pulse-live.sh)."""

import os

import pyatspi

from tarrowin_e2e import Tarrowin, has, poll, run


def play_locked_in_the_window():
    with Tarrowin(os.environ["TARROWIN_PULSE_DOCUMENT"], "--device", "0") as t:
        t.press("Lock")
        play = t.play()
        poll(lambda: has(play, pyatspi.STATE_ENABLED), 30, "the locked play to end")


if __name__ == "__main__":
    # The PulseAudio stage records each try from the start, and runs a failed one again itself.
    run([play_locked_in_the_window], retry=False)
