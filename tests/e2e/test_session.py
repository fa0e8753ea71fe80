"""Tarrowin under a session manager (NSM), the manager played by a liblo server of the test:
the announce and no JACK client before the open, a new project created and an existing one
opened on a switch, the JACK client named by the session's id, a change made through the
accessibility tree reported dirty, save writing the document and its settings, the window
hidden and shown, a project that starts hidden, a damaged project refused, and SIGTERM
leaving the document of the last save as it was."""

import json
import os
import queue
import signal
import subprocess
import time

import liblo

from tarrowin_e2e import Tarrowin, check, cli, poll, run

WORK = os.environ.get("TARROWIN_E2E_WORK", "/tmp")
ANNOUNCE = "/nsm/server/announce"


class Manager:
    """The session manager's side of the protocol, on liblo's thread of the test."""

    def __init__(self, refuse=False):
        self.messages = queue.Queue()
        self.client = None
        self.sources = set()  # the client's ports: the protocol wants one, the announce's
        self.server = liblo.ServerThread()
        self.server.add_method(None, None, self._take)
        self.refuse = refuse
        self.server.start()

    def url(self):
        return "osc.udp://127.0.0.1:%d/" % self.server.port

    def _take(self, path, args, types, source):
        self.client = source
        self.sources.add(source.port)
        if path == ANNOUNCE:  # answered at once, as a manager does
            if self.refuse:
                self.server.send(source, "/error", ANNOUNCE, -3, "Blacklisted")
            else:
                self.server.send(source, "/reply", ANNOUNCE, "Welcome", "Test manager", ":optional-gui:")
        self.messages.put((path, args))

    def expect(self, path, timeout=15.0):
        """The arguments of the next message to `path`; the others before it are passed over."""
        return self.expect_all(path, timeout=timeout)[path]

    def expect_all(self, *paths, timeout=15.0):
        """The arguments of one message to each path, in whatever order they come."""
        got = {}
        end = time.time() + timeout
        while len(got) < len(paths) and time.time() < end:
            try:
                path, args = self.messages.get(timeout=0.1)
            except queue.Empty:
                continue
            if path in paths:
                got.setdefault(path, args)
        missing = [p for p in paths if p not in got]
        if missing:
            raise AssertionError("no %s from Tarrowin" % missing)
        return got

    def send(self, path, *args):
        self.server.send(self.client, path, *args)

    def stop(self):
        self.server.stop()
        self.server.free()


def jack_ports():
    return subprocess.run(["jack_lsp"], capture_output=True, text=True).stdout.split("\n")


def mapped():
    """Whether X shows a window of Tarrowin's (the accessibility tree learns it later)."""
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Tarrowin 2.5"],
                          capture_output=True).returncode == 0


def param1(song, voice=0):
    return json.loads(cli("dump", song))["current"]["voices"][voice]["param1"]


def takes_part_in_a_session():
    session = os.path.join(WORK, "session-a")
    os.makedirs(session, exist_ok=True)
    first = os.path.join(session, "Tarrowin.nTEST")
    other = os.path.join(session, "Tarrowin.nSWITCH")
    cli("new", other + ".trw")
    manager = Manager()
    t = Tarrowin(env={"NSM_URL": manager.url()})
    try:
        args = manager.expect(ANNOUNCE)
        check(args == ["Tarrowin", ":dirty:optional-gui:switch:", "tarrowin", 1, 1, t.proc.pid],
              "the announce says %s" % args)
        manager.expect("/nsm/client/gui_is_hidden")
        check(not any(p.endswith(":Tarrowin") for p in jack_ports()), "a JACK port before the open")

        manager.send("/nsm/client/open", first, "Tarrowin", "Tarrowin.nTEST")
        answers = manager.expect_all("/reply", "/nsm/client/is_clean", "/nsm/client/gui_is_shown")
        check(answers["/reply"] == ["/nsm/client/open", "Created %s.trw" % first], "open's reply")
        check(param1(first + ".trw") == 2, "a new document was created")
        poll(lambda: "Tarrowin.nTEST:Tarrowin" in jack_ports(), 10, "the JACK port of the session's client")
        check(not t.menu_enabled("File", "Save As..."), "Save As under a session manager")

        t.set_field("Param1 voice 1", 77)
        manager.expect("/nsm/client/is_dirty")
        manager.send("/nsm/client/save")
        answers = manager.expect_all("/reply", "/nsm/client/is_clean")
        check(answers["/reply"] == ["/nsm/client/save", "Saved %s.trw" % first], "save's reply")
        check(param1(first + ".trw") == 77, "the save wrote the change")
        settings = open(first + ".settings").read()
        check("device=JACK: Tarrowin (virtual port)\n" in settings and "window=shown\n" in settings,
              "the settings file says %r" % settings)

        manager.send("/nsm/client/hide_optional_gui")
        manager.expect("/nsm/client/gui_is_hidden")
        poll(lambda: not mapped(), 5, "the window to be unmapped")
        # A user's show follows a hide by more than a moment: a window mapped again before
        # openbox has moved the focus away never gets it back.
        time.sleep(0.5)
        manager.send("/nsm/client/show_optional_gui")
        manager.expect("/nsm/client/gui_is_shown")
        t.main()
        t.set_field("Param1 voice 1", 88)  # never saved
        manager.expect("/nsm/client/is_dirty")
        broken = os.path.join(session, "Broken.nX")
        open(broken + ".trw", "wb").write(b"not a document")
        manager.send("/nsm/client/open", broken, "Tarrowin", "Broken.nX")
        error = manager.expect("/error")
        check(error[:2] == ["/nsm/client/open", -9], "a damaged project is refused: %s" % error)
        check(t.field("Param1 voice 1") == "88", "the open project stays")

        manager.send("/nsm/client/open", other, "Tarrowin", "Tarrowin.nSWITCH")
        answers = manager.expect_all("/reply", "/nsm/client/is_clean")
        check(answers["/reply"] == ["/nsm/client/open", "Opened %s.trw" % other], "the switch's reply")
        poll(lambda: "Tarrowin.nSWITCH:Tarrowin" in jack_ports(), 10, "the JACK port under the new id")
        check(not any(p.startswith("Tarrowin.nTEST:") for p in jack_ports()), "the old client is gone")
        check(t.field("Param1 voice 1") == "2", "the window shows the other project")

        manager.send("/nsm/client/open", "missing", "its id")  # not the protocol's: left alone
        t.set_field("Param1 voice 1", 99)
        manager.expect("/nsm/client/is_dirty")
        check(len(manager.sources) == 1, "Tarrowin answered from %d sockets" % len(manager.sources))
        t.proc.send_signal(signal.SIGTERM)  # as a manager ends a session
        t.proc.wait(10)
        check(param1(first + ".trw") == 77 and param1(other + ".trw") == 2, "SIGTERM left the saved documents")
    finally:
        t.quit()
        manager.stop()


def a_project_saved_hidden_starts_hidden():
    path = os.path.join(WORK, "session-b", "Tarrowin.nHIDE")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    cli("new", path + ".trw")
    open(path + ".settings", "w").write("# Tarrowin session settings\ndevice=Midi Mapper\nwindow=hidden\n")
    manager = Manager()
    t = Tarrowin(env={"NSM_URL": manager.url()})
    try:
        manager.expect(ANNOUNCE)
        manager.send("/nsm/client/open", path, "Tarrowin", "Tarrowin.nHIDE")
        manager.expect("/reply")
        manager.expect("/nsm/client/gui_is_hidden")
        check(not mapped(), "a window shows")
        check(not any(p.startswith("Tarrowin.nHIDE:") for p in jack_ports()), "a JACK port for Midi Mapper")
        manager.send("/nsm/client/show_optional_gui")
        manager.expect("/nsm/client/gui_is_shown")
        t.main()
    finally:
        t.quit()
        manager.stop()


def a_refused_announce_starts_as_without_a_manager():
    manager = Manager(refuse=True)
    t = Tarrowin(env={"NSM_URL": manager.url()})
    try:
        manager.expect(ANNOUNCE)
        t.window("MidiOut Setup")  # the question a session would have answered
    finally:
        t.quit()
        manager.stop()


if __name__ == "__main__":
    run([takes_part_in_a_session, a_project_saved_hidden_starts_hidden, a_refused_announce_starts_as_without_a_manager])
