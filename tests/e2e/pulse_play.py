"""Plays a document from the window on the built-in synthesizer: opens it, locks the
counters, presses Play and waits for the locked play to end. The PulseAudio stage records
what it sounds like (scripts/test.d/45-pulse-live.sh)."""

import os

from tarrowin_e2e import Failure, Tarrowin, alert_text, children, poll, run, showing


def play_locked_in_the_window():
    with Tarrowin(os.environ["TARROWIN_PULSE_DOCUMENT"], "--device", "0") as t:
        t.press("Lock")
        # The toolbar's Play: a button's press is not lost the way an item of a menu that
        # has just opened sometimes is. Sent without waiting: a failed play answers with a
        # message box before the press returns.
        t.press("Play", modal=True)

        def started():
            for w in children(t.app):
                if showing(w) and w.getRoleName() == "alert":
                    raise Failure("Play answered: %s" % alert_text(w))
            return not t.menu_enabled("Playback Controls", "Play")
        # Opening the synthesizer's stream may take up to 5 s on a busy machine.
        poll(started, 10, "the play to start")
        poll(lambda: t.menu_enabled("Playback Controls", "Play"), 30, "the locked play to end")


if __name__ == "__main__":
    run([play_locked_in_the_window])
