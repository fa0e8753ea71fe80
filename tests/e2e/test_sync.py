"""Playing in step with the JACK transport, through the menus as a user does: Options > Sync
> Follow JACK transport, Play waits (and says so) until jack_transport rolls the transport,
the notes reach jack_midi_dump one tick apart, and the play ends when the transport stops,
saying why. The choice is remembered for the next start."""
import json
import subprocess
import tempfile
import time

import pyatspi
from tarrowin_e2e import Tarrowin, check, children, cli, has, key, midi_dump_command, poll, run, screenshot, work_path


def path(name):
    return work_path(name)


def dump(trw):
    return json.loads(cli("dump", trw))


def dumped(name):
    """The messages a dump received: (frame, status, data1, data2)."""
    rows = []
    for line in open(path(name + ".txt")):
        stamp, _, rest = line.partition(":")
        data = rest.split()
        if stamp.strip().isdigit() and len(data) >= 3:
            rows.append((int(stamp), *data[:3]))
    return rows


def status(t):
    """The status bar's text: its labels that show (not "Recovery copies off" while it is on)."""
    bar = next(c for c in children(t.main()) if c.getRoleName() == "status bar")
    return " ".join(c.name for c in children(bar) if c.getRoleName() == "label" and has(c, pyatspi.STATE_SHOWING))


def sync_item(t, name):
    return t.menu_item("Options", "Sync", name)


def follow_jack_transport():
    song = path("sync.trw")
    cli("new", song)
    doc = dump(song)
    doc["current"].update(tempo=200, startCounter=0, endCounter=0)  # 37 ms ticks, no Lock
    doc["current"]["voices"][0].update(tied=0, noteValueIndex=5, noteValue=1.0)  # every tick
    open(path("sync.json"), "w").write(json.dumps(doc))
    cli("load", path("sync.json"), song)
    settings = {"XDG_CONFIG_HOME": tempfile.mkdtemp(prefix="config-", dir=work_path(""))}

    out = open(path("winS.txt"), "w")
    monitor = subprocess.Popen(midi_dump_command("winS"), stdout=out, stderr=subprocess.DEVNULL)
    transport = subprocess.Popen(["jack_transport"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, text=True)

    def command(text):
        transport.stdin.write(text + "\n")
        transport.stdin.flush()

    try:
        poll(lambda: "winS:input" in subprocess.run(["jack_lsp"], capture_output=True, text=True).stdout, 10,
             "the port winS:input")
        with Tarrowin(song, "--device", "JACK: winS:input", env=settings) as t:
            check(has(sync_item(t, "Internal"), pyatspi.STATE_CHECKED), "Internal is not the first choice")
            t.menu("Options", "Sync", "Follow JACK transport", wait=True)
            check(has(sync_item(t, "Follow JACK transport"), pyatspi.STATE_CHECKED), "the choice did not stay")
            key("Escape")
            key("Escape")
            t.play()
            poll(lambda: status(t) == "Waiting for the JACK transport to roll", 5, "the status to say it waits")
            time.sleep(0.5)
            check(not any(r[1].startswith("9") for r in dumped("winS")), "notes before the transport rolled")
            screenshot("sync-waiting")
            command("play")
            poll(lambda: len([r for r in dumped("winS") if r[1] == "90" and r[3] != "00"]) >= 30, 10,
                 "notes while the transport rolls")
            command("stop")
            play = t.button("Play")
            poll(lambda: has(play, pyatspi.STATE_ENABLED), 10, "the play to end with the transport")
            # (followed by the ticks that went out late, if the machine held any up)
            poll(lambda: status(t).startswith("The JACK transport stopped"), 5, "the status to say why the play ended")
            screenshot("sync-stopped")
            rows = dumped("winS")
            notes = [r[0] for r in rows if r[1] == "90" and r[3] != "00"]
            # One tick apart at the document's tempo (37 ms, 1776 frames), most of them: their
            # frames to the millisecond are the JACK stage's business, with a real-time server.
            # (The monitor stamps by its own count of frames, which a cycle it missed on a busy
            # machine shortens: the median interval, not the mean.)
            gaps = sorted(b - a for a, b in zip(notes[1:], notes[2:]))
            spacing = gaps[len(gaps) // 2]
            check(abs(spacing - 1776) < 1776 * 0.03, "notes %.0f frames apart, not 1776" % spacing)
            check([r[1:] for r in rows[-16:]] == [("b%x" % ch, "7b", "00") for ch in range(16)],
                  "the play did not end with All Notes Off")
        with Tarrowin(song, "--device", "JACK: winS:input", env=settings) as t:
            check(has(sync_item(t, "Follow JACK transport"), pyatspi.STATE_CHECKED), "the choice was not remembered")
            key("Escape")
            key("Escape")
    finally:
        command("quit")
        transport.wait(5)
        monitor.terminate()
        monitor.wait()
        out.close()


if __name__ == "__main__":
    run([follow_jack_transport])
