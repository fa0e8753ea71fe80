"""Crash recovery end to end: edits typed into a saved song, a recovery copy written while the
song is modified, tarrowin killed with SIGKILL, and the next start offering the unsaved
changes back; Yes restores what was on screen, and Save writes it to the song's own file. A
damaged copy and a pipe left as a copy are moved aside and named. Ended by SIGHUP or SIGTERM,
as a session manager or a logout ends it, tarrowin writes the copy of its latest edits itself."""

import glob
import json
import os
import signal

from tarrowin_e2e import Tarrowin, alert_text, check, cli, key, poll, run, screenshot

WORK = os.environ.get("TARROWIN_E2E_WORK", "/tmp")
# A state folder of its own: a scenario that ends another tarrowin with SIGTERM while its
# document is modified leaves a copy that would be offered here too.
STATE = os.path.join(WORK, "recovery-state")
RECOVERY = os.path.join(STATE, "tarrowin", "recovery")
ENV = {"TARROWIN_RECOVERY_SECONDS": "1", "XDG_STATE_HOME": STATE}
FIELDS = {"Param1 voice 1": 23, "Offset voice 1": 12, "Param2 voice 1": 5}
LISTS = {"Note value voice 1": "8th", "Scale voice 1": "Dorian"}


def copies():
    return glob.glob(os.path.join(RECOVERY, "*.recovery"))


def document_in_copy():
    """The .trw bytes of the only recovery copy: after its header line and its path line."""
    found = copies()
    if len(found) != 1:
        return None
    data = open(found[0], "rb").read()
    header, path, document = data.split(b"\n", 2)
    check(header == b"Tarrowin recovery copy 1", "the copy begins with %r" % header)
    return path.decode(), document


def on_screen(t):
    """What the form shows in the edited fields and lists."""
    shown = {d: t.field(d) for d in FIELDS}
    shown.update({d: t.find(role="combo box", description=d).name for d in LISTS})
    return shown


def dump(trw_bytes):
    scratch = os.path.join(WORK, "scratch.trw")
    with open(scratch, "wb") as f:
        f.write(trw_bytes)
    return json.loads(cli("dump", scratch))


def killed_tarrowin_gives_its_work_back():
    song = os.path.join(WORK, "recover.trw")
    cli("new", song)
    original = open(song, "rb").read()

    t = Tarrowin("--device", "0", song, env=ENV)
    try:
        poll(lambda: t.main().name.startswith("Tarrowin 2.5 - recover.trw"), 10, "the song to open")
        for description, value in FIELDS.items():
            t.set_field(description, value)
        for description, item in LISTS.items():
            t.choose(description, item)
        screen = on_screen(t)
        check(screen == {**{d: str(v) for d, v in FIELDS.items()}, **LISTS}, "the form shows %s" % screen)

        # The copy written once the period passed holds every edit.
        def copy_with_edits():
            found = document_in_copy()
            return found if found and dump(found[1])["current"]["voices"][0]["scaleIndex"] == 6 else None
        path, document = poll(copy_with_edits, 10, "a recovery copy with the edits")
        check(path == song, "the copy belongs to %r" % path)
        t.proc.kill()  # SIGKILL: nothing of the program runs after it
        t.proc.wait()
    finally:
        t.quit()
    check(open(song, "rb").read() == original, "the song itself changed before it was saved")

    with Tarrowin("--device", "0", env=ENV) as t:
        box = t.alert("Tarrowin")
        text = alert_text(box)
        check("Tarrowin did not close properly. Recover the unsaved changes to recover.trw?" in text,
              "the question: %r" % text)
        screenshot("recovery-question")
        t.answer(box, "Yes")
        poll(lambda: t.main().name.startswith("Tarrowin 2.5 - recover.trw"), 5, "the recovered song in the title")
        shown = on_screen(t)
        check(shown == screen, "the recovered form shows %s, not %s" % (shown, screen))

        key("ctrl+s")
        poll(lambda: open(song, "rb").read() != original, 5, "Save to write recover.trw")
        check(open(song, "rb").read() == document, "the saved song differs from the recovered copy")
        voice = dump(document)["current"]["voices"][0]
        check((voice["param1"], voice["param2"], voice["offset"], voice["noteValueIndex"], voice["scaleIndex"]) ==
              (23, 5, 12, 3, 6), "voice 1 saved as %s" % voice)
        poll(lambda: not copies(), 5, "a clean save to remove the copy")
        screenshot("recovered-and-saved")

    # A damaged copy and a pipe left as one are moved aside and named; the start goes on.
    damaged = os.path.join(RECOVERY, "1-damaged.recovery")
    with open(damaged, "wb") as f:
        f.write(b"Tarrowin recovery copy 1\n\n" + document[:1000])
    pipe = os.path.join(RECOVERY, "2-pipe.recovery")
    os.mkfifo(pipe)
    with Tarrowin("--device", "0", env=ENV) as t:
        for _ in range(2):
            box = t.alert("Tarrowin")
            text = alert_text(box)
            check("cannot read. It was moved to %s/" % RECOVERY in text, "the report: %r" % text)
            screenshot("recovery-unreadable")
            t.answer(box)
        t.main()
        for left in (damaged, pipe):
            check(not os.path.lexists(left), "%s is still offered" % left)
            check(os.path.lexists(left[:-len(".recovery")] + ".unreadable"), "%s was not kept" % left)


def signal_keeps_the_latest_edits():
    """SIGHUP or SIGTERM before any periodic copy: tarrowin writes the copy, lets go of its
    lock and ends with 128 + the signal; the next start offers the edits."""
    state = os.path.join(WORK, "signal-state")
    recovery = os.path.join(state, "tarrowin", "recovery")
    env = {"XDG_STATE_HOME": state}  # the period stays 60 s: no copy is written meanwhile
    song = os.path.join(WORK, "term.trw")
    cli("new", song)
    for sent, param1 in ((signal.SIGHUP, 22), (signal.SIGTERM, 23)):
        t = Tarrowin("--device", "0", song, env=env)
        try:
            poll(lambda: t.main().name.startswith("Tarrowin 2.5 - term.trw"), 10, "the song to open")
            if sent == signal.SIGTERM:  # the copy SIGHUP left is offered first: No deletes it
                t.answer(t.alert("Tarrowin"), "No")
            t.set_field("Param1 voice 1", param1)
            poll(lambda: "*" in t.main().name, 5, "the song to be modified")
            check(not glob.glob(os.path.join(recovery, "*.recovery")), "a copy was written before the signal")
            t.proc.send_signal(sent)
            code = t.proc.wait(10)
        finally:
            t.quit()
        check(code == 128 + sent, "tarrowin ended with %s" % code)
        check(len(glob.glob(os.path.join(recovery, "*.recovery"))) == 1, "no copy: %s" % os.listdir(recovery))
        check(not glob.glob(os.path.join(recovery, "*.lock")), "a lock is left: %s" % os.listdir(recovery))

    with Tarrowin("--device", "0", env=env) as t:
        box = t.alert("Tarrowin")
        check("Recover the unsaved changes to term.trw?" in alert_text(box), "the question: %r" % alert_text(box))
        t.answer(box, "Yes")
        poll(lambda: t.field("Param1 voice 1") == "23", 5, "the edit to come back")
        key("ctrl+s")
        poll(lambda: not glob.glob(os.path.join(recovery, "*.recovery")), 5, "Save to remove the copy")
    check(dump(open(song, "rb").read())["current"]["voices"][0]["param1"] == 23, "the edit was not saved")


if __name__ == "__main__":
    run([killed_tarrowin_gives_its_work_back, signal_keeps_the_latest_edits])
