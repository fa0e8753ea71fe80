"""Drive the real tarrowin through the accessibility tree, as a user and a screen reader do.

Controls are found by role and by name or description (the names the window gives its
controls for screen readers); real keys and clicks go through xdotool. Actions that open a
modal dialog are sent without waiting for a reply, or they would block until it closes.
"""

import contextlib
import ctypes
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import Gio, GLib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The programs under test: the build's, or those a package installed (TARROWIN_E2E_BIN=/usr/bin).
BIN = os.environ.get("TARROWIN_E2E_BIN", os.path.join(ROOT, "build", "bin"))
SHOTS = os.environ.get("TARROWIN_E2E_SHOTS", os.path.join(ROOT, "build", "e2e-shots"))


class Failure(Exception):
    pass


class TimedOut(Failure):
    """What was awaited did not come in time: on a loaded machine, maybe only late."""


def midi_dump_command(name):
    """jack_midi_dump -a NAME, at real-time priority where the system allows it: it passes
    what its port receives to a thread that prints it through a queue of about a hundred
    messages and drops what does not fit, and a busy machine holding that thread up would
    lose messages of a play's bursts."""
    realtime = ["chrt", "-f", "5"] if subprocess.run(["chrt", "-f", "5", "true"]).returncode == 0 else []
    return [*realtime, "jack_midi_dump", "-a", name]


def start_midi_dump(name):
    """A jack_midi_dump client NAME writing what it receives to NAME.txt in the run's folder;
    returns the process and the file once its port is listed."""
    out = open(work_path(name + ".txt"), "w")
    proc = subprocess.Popen(midi_dump_command(name), stdout=out, stderr=subprocess.DEVNULL)
    poll(lambda: (name + ":input") in subprocess.run(["jack_lsp"], capture_output=True, text=True).stdout, 10,
         "the JACK port %s:input" % name)
    return proc, out


def check(condition, message):
    if not condition:
        raise Failure(message)


def poll(fn, timeout=10.0, what="a condition"):
    """Calls fn until it returns something true; its result, or Failure after timeout."""
    end = time.time() + timeout
    last_error = None
    while time.time() < end:
        try:
            value = fn()
            if value:
                return value
        except Exception as e:  # the tree changes under us while windows open and close
            last_error = e
        time.sleep(0.05)
    raise TimedOut("timed out waiting for %s%s" % (what, " (%s)" % last_error if last_error else ""))


def showing(acc):
    try:
        return acc.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:
        return False


def work_path(name):
    """A file in the run's private folder."""
    return os.path.join(os.environ.get("TARROWIN_E2E_WORK", "/tmp"), name)


def random_composition(name, randomize_seed, create_seed):
    """Five events over eight randomized voices, some of them off, made by tarrowin-cli."""
    cli("new", work_path("empty.trw"))
    cli("randomize", work_path("empty.trw"), work_path("random.trw"), "--seed", str(randomize_seed), "--voices", "1-8")
    cli("create", work_path("random.trw"), work_path(name), "--seed", str(create_seed), "--events", "5", "--voices",
        "1-8", "--voices-on-off")
    return work_path(name)


def cli(*args, check_rc=True):
    """Runs tarrowin-cli; its standard output."""
    r = subprocess.run([os.path.join(BIN, "tarrowin-cli"), *args], capture_output=True, text=True)
    if check_rc and r.returncode != 0:
        raise Failure("tarrowin-cli %s failed: %s" % (" ".join(args), r.stderr))
    return r.stdout


def no_key_repeat():
    """Keys typed by xdotool on a loaded machine repeat ("maaaaker.trw") when the X server
    sees a key held past its autorepeat delay: autorepeat goes off for the whole server."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    display = x11.XOpenDisplay(None)
    if display:
        x11.XAutoRepeatOff(ctypes.c_void_p(display))
        x11.XCloseDisplay(ctypes.c_void_p(display))


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True)


def key(*keys):
    """Real key presses, e.g. key("Tab"), key("ctrl+s")."""
    xdotool("key", "--delay", "30", *keys)


def type_text(text):
    xdotool("type", "--delay", "20", "--", text)


def started_by(pid, ancestor):
    """Whether process pid is ancestor or one of its descendants."""
    while pid > 1:
        if pid == ancestor:
            return True
        try:
            with open("/proc/%d/stat" % pid) as f:
                pid = int(f.read().rsplit(")", 1)[1].split()[1])  # the parent's id
        except (OSError, ValueError, IndexError):
            return False
    return False


def screenshot(name, display=None):
    """The whole screen (of another X server when `display` names one) as SHOTS/name.png."""
    os.makedirs(SHOTS, exist_ok=True)
    path = os.path.join(SHOTS, name + ".png")
    subprocess.run(["/usr/bin/import", *(["-display", display] if display else []), "-window", "root", path],
                   check=False)
    return path


_displays = 0


def nested_display(size):
    """Another X server of the given size ("1024x768"), a new one each call: its display and its
    process."""
    global _displays
    _displays += 1
    display = ":%d" % (90 + (os.getpid() * 7 + _displays) % 150)
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", size + "x24", "-nolisten", "tcp", "-noreset"],
                            stderr=subprocess.DEVNULL)
    poll(lambda: subprocess.run(["xdotool", "getdisplaygeometry"], env=dict(os.environ, DISPLAY=display),
                                capture_output=True).returncode == 0, 10, "Xvfb %s" % display)
    return display, xvfb


def window_manager(display):
    """openbox on another X server, so that its windows get frames and focus."""
    return subprocess.Popen(["openbox", "--sm-disable"], env=dict(os.environ, DISPLAY=display),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


_a11y_bus = None


def _bus():
    global _a11y_bus
    if _a11y_bus is None:
        session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        reply = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                                  GLib.VariantType.new("(s)"), Gio.DBusCallFlags.NONE, -1, None)
        address = reply.unpack()[0]
        _a11y_bus = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)
    return _a11y_bus


def action_index(acc, name):
    action = acc.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    check(name in names, "%s has no action %s (it has %s)" % (describe(acc), name, names))
    return names.index(name)


def act(acc, name="Press"):
    """An action that returns at once (it opens no modal dialog)."""
    acc.queryAction().doAction(action_index(acc, name))


def act_async(acc, name="Press"):
    """An action that may open a modal dialog: sent without waiting for the reply."""
    index = action_index(acc, name)
    message = Gio.DBusMessage.new_method_call(acc.app.bus_name, acc.path, "org.a11y.atspi.Action", "DoAction")
    message.set_body(GLib.Variant("(i)", (index,)))
    message.set_flags(Gio.DBusMessageFlags.NO_REPLY_EXPECTED)
    _bus().send_message(message, Gio.DBusSendMessageFlags.NONE)
    _bus().flush_sync(None)


def describe(acc):
    try:
        return "[%s '%s' / '%s']" % (acc.getRoleName(), acc.name, acc.description)
    except Exception:
        return "[gone]"


def centre(acc):
    ext = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return ext.x + ext.width // 2, ext.y + ext.height // 2


def click(acc, double=False):
    """A real click in the middle of the control. (mousemove --sync would wait for a move that
    never comes when the pointer already stands there.)"""
    x, y = centre(acc)
    xdotool("mousemove", str(x), str(y), "sleep", "0.05", "click", "--repeat", "2" if double else "1",
            "--delay", "80", "1")


def has(acc, state):
    return acc.getState().contains(state)


def children(acc):
    return [c for c in acc if c is not None]


# Roles whose children a search for a window's controls need not enter: a combo box holds
# its whole list, and the menu bar every menu.
_LEAVES = {"combo box", "menu bar", "tool bar", "push button", "check box", "text", "label", "scroll bar"}


def controls(root, *descriptions):
    """The controls with these descriptions, found in one walk of the window."""
    want, found, stack = set(descriptions), {}, [root]
    while stack and len(found) < len(want):
        for c in children(stack.pop()):
            if c.description in want:
                found.setdefault(c.description, c)
            if c.getRoleName() not in _LEAVES:
                stack.append(c)
    check(len(found) == len(want), "no control described %s" % sorted(want - set(found)))
    return [found[d] for d in descriptions]


def type_keys(edit, value):
    """Types into an edit with real keys, leaving the focus there."""
    click(edit)
    poll(lambda: has(edit, pyatspi.STATE_FOCUSED), 5, "the focus in %s" % edit.description)
    key("ctrl+a")
    text = str(value)
    if text.startswith("-"):  # xdotool would read it as an option
        key("minus")
    type_text(text.lstrip("-"))
    poll(lambda: text_of(edit) == text, 5, "%s to read %s" % (edit.description, text))


def matches(acc, role, name, description):
    try:
        return ((role is None or acc.getRoleName() == role) and (name is None or acc.name == name)
                and (description is None or acc.description == description))
    except Exception:
        return False


def find_in(root, role=None, name=None, description=None, visible=True, timeout=10.0):
    what = "%s '%s' '%s'" % (role, name, description)
    return poll(lambda: pyatspi.findDescendant(
        root, lambda a: matches(a, role, name, description) and (not visible or showing(a))),
        timeout, what)


def all_in(root, role=None, name=None, description=None, visible=True):
    return pyatspi.findAllDescendants(
        root, lambda a: matches(a, role, name, description) and (not visible or showing(a)))


def text_of(acc):
    """The text of an edit, or the name of a label (a label's text is its name)."""
    try:
        t = acc.queryText()
        return t.getText(0, t.characterCount)
    except NotImplementedError:
        return acc.name


def alert_text(alert):
    return "\n".join(l.name for l in all_in(alert, role="label") if l.name)


def _traced(fn):
    def wrapper(*args, **kwargs):
        start = time.time()
        try:
            return fn(*args, **kwargs)
        finally:
            if os.environ.get("TARROWIN_E2E_TRACE"):
                print("    %.2f s  %s%s" % (time.time() - start, fn.__name__, args[1:]), flush=True)
    return wrapper


class Tarrowin:
    """A running tarrowin and its windows in the accessibility tree."""

    def __init__(self, *args, env=None, launcher=None, limits=None):
        """Starts tarrowin with args, or through a launcher such as ["xdg-open"] that starts
        it as the desktop does (args are then the launcher's). limits: {resource.RLIMIT_...:
        value} for the program, as `ulimit` sets them."""
        os.makedirs(SHOTS, exist_ok=True)
        self.log = open(os.path.join(SHOTS, "tarrowin-%d.log" % time.time_ns()), "w")
        e = dict(os.environ)
        # A Tarrowin ended by quit() leaves a recovery copy; each one keeps its own.
        own = tempfile.mkdtemp(prefix="state-", dir=os.environ.get("TARROWIN_E2E_WORK"))
        e["XDG_STATE_HOME"] = own
        e.update(env or {})
        command = [*launcher, *args] if launcher else [os.path.join(BIN, "tarrowin"), *args]
        if os.environ.get("TARROWIN_E2E_GDB"):
            command = ["gdb", "-batch", "-ex", "run", "-ex", "bt", "--args", *command]
        # Its own folder as the working one: what the synthesizer's file driver writes lands there.
        def set_limits():
            for kind, value in (limits or {}).items():
                resource.setrlimit(kind, (value, value))
        self.proc = subprocess.Popen(command, stdout=self.log, stderr=self.log, env=e, cwd=own,
                                     preexec_fn=set_limits if limits else None)
        self.pid = None
        self.app = poll(self._find_app, 15, "tarrowin to register with the accessibility bus")

    def _find_app(self):
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is not None and (started_by(app.get_process_id(), self.proc.pid) or (
                        os.environ.get("TARROWIN_E2E_GDB") and app.name == "Tarrowin")):
                    self.pid = app.get_process_id()
                    return app
            except Exception:
                continue
        return None

    # Windows
    @_traced
    def window(self, title=None, role=None, timeout=10.0):
        """A top-level window whose title starts with `title`."""
        def look():
            for w in self.app:
                if w is not None and showing(w) and (title is None or w.name.startswith(title)) and (
                        role is None or w.getRoleName() == role):
                    return w
            return None
        return poll(look, timeout, "window '%s'" % title)

    def main(self):
        return self.window("Tarrowin 2.5", role="frame")

    def raise_main(self):
        """Brings the main window to the front, as a click on its title bar does: a tool window
        opened beside it on a small screen may cover part of the form."""
        main = self.main()
        wid = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Tarrowin 2\\.5"], capture_output=True,
                             text=True).stdout.split()
        check(len(wid) == 1, "%d main windows" % len(wid))
        xdotool("windowactivate", wid[0])
        poll(lambda: has(main, pyatspi.STATE_ACTIVE), 5, "the main window to be active")
        return main

    def gone(self, title, timeout=10.0):
        def look():
            return not any(w is not None and showing(w) and w.name.startswith(title) for w in self.app)
        poll(look, timeout, "window '%s' to close" % title)

    @_traced
    def alert(self, caption=None, timeout=10.0):
        """A message box (its caption is its name); its text from alert_text()."""
        def look():
            for w in self.app:
                if w is not None and showing(w) and w.getRoleName() == "alert" and (caption is None or w.name == caption):
                    return w
            return None
        return poll(look, timeout, "a message box '%s'" % caption)

    @_traced
    def answer(self, alert, button="OK"):
        act_async(find_in(alert, role="push button", name=button))
        poll(lambda: not showing(alert), 10, "the message box to close")

    @_traced
    def find(self, role=None, name=None, description=None, root=None, timeout=10.0):
        return find_in(root or self.main(), role, name, description, timeout=timeout)

    # Menus
    def menu_item(self, *path):
        """Opens the menus of the path, submenus included, and returns its last item."""
        bar = next(c for c in children(self.main()) if c.getRoleName() == "menu bar")
        node = next(c for c in children(bar) if c.name == path[0])
        for step in path[1:]:
            popup = None
            for _ in range(5):  # a menu that was just closing may swallow a ShowMenu
                act(node, "ShowMenu")
                try:
                    popup = poll(lambda: next((c for c in children(node)
                                               if c.getRoleName() == "popup menu" and showing(c)), None),
                                 2, "the menu %s" % node.name)
                    break
                except Failure:
                    key("Escape")
            check(popup is not None, "the menu %s does not open" % node.name)
            node = poll(lambda: next((c for c in children(popup) if c.name == step), None), 5, "the item %s" % step)
        return node

    @_traced
    def menu(self, *path, wait=False):
        """Chooses a menu item: menu("File", "Save As..."), menu("Algorithms", "Voice 3",
        "Logistic Map..."). Without wait the item's action is sent without a reply, since most
        items open a dialog."""
        item = self.menu_item(*path)
        check(has(item, pyatspi.STATE_ENABLED), "menu item %s is disabled" % "/".join(path))
        (act if wait else act_async)(item, "Press")

    def play(self, timeout=10.0):
        """Presses the toolbar's Play and waits for the play to start; returns the button,
        whose enabled state says whether a play runs (a look at one known object is quick,
        while finding a menu item anew takes a second or more, longer than a short play).
        A button, since an item of a menu that has just opened now and then loses its press.
        Sent without waiting, since a failed play answers with a message box; one fails with
        its text. Opening the synthesizer's stream may take seconds on a busy machine."""
        button = self.button("Play")
        act_async(button, "Press")

        def started():
            for w in children(self.app):
                if showing(w) and w.getRoleName() == "alert":
                    raise Failure("Play answered: %s" % alert_text(w))
            return not has(button, pyatspi.STATE_ENABLED)
        poll(started, timeout, "the play to start")
        return button

    def menu_enabled(self, *path):
        """Whether a menu item is enabled, found down the menus' own children: a search of the
        whole window takes seconds, longer than some of the states looked for last."""
        bar = next(c for c in children(self.main()) if c.getRoleName() == "menu bar")
        node = next((c for c in children(bar) if c.name == path[0]), None)
        for step in path[1:]:
            node = next((i for popup in children(node) if popup.getRoleName() == "popup menu"
                         for i in children(popup) if i.name == step), None) if node is not None else None
        check(node is not None, "no menu item %s" % "/".join(path))
        return node.getState().contains(pyatspi.STATE_ENABLED)

    # Controls
    @_traced
    def edit(self, description, root=None):
        return self.find(role="text", description=description, root=root)

    @_traced
    def set_field(self, description, value, leave="Tab", root=None):
        """Types into an edit with real keys and leaves it (Tab), as a user does."""
        type_keys(self.edit(description, root), value)
        if leave:
            key(leave)

    def field(self, description, root=None):
        return text_of(self.edit(description, root))

    @_traced
    def choose(self, description, item, root=None):
        """Opens a combo box (found by its description) and clicks one of its items."""
        combo = self.find(role="combo box", description=description, root=root)
        act(combo, "ShowMenu")
        entry = find_in(combo, role="list item", name=item)
        click(entry)
        poll(lambda: combo.name == item, 5, "%s to show %s" % (description, item))

    def button(self, name, root=None):
        return self.find(role="push button", name=name, root=root)

    def press(self, name, root=None, modal=False):
        """Presses a button. Qt clicks a pressed button a moment later, when it no longer shows
        pressed: wait for that, unless the click opens a modal dialog."""
        button = self.button(name, root)
        if modal:
            act_async(button, "Press")
            return
        act(button, "Press")
        poll(lambda: not has(button, pyatspi.STATE_PRESSED), 5, name + " to be clicked")

    @_traced
    def file_dialog(self, title, path):
        """Answers a file dialog: it opens with the focus in its file name, so the path is typed
        there and Return accepts."""
        dialog = self.window(title)
        poll(lambda: dialog.getState().contains(pyatspi.STATE_ACTIVE), 5, "%s to be active" % title)
        key("ctrl+a")
        type_text(path)
        key("Return")
        self.gone(title)

    def __enter__(self):
        return self

    def __exit__(self, kind, value, tb):
        if kind is not None:
            screenshot("FAILED-%s" % os.path.basename(self.log.name))
            self._report_on_failure()
        self.quit()
        if kind is not None:
            self._print_log_tail()
        return False

    def _report_on_failure(self):
        """What a screenshot would show, for a run whose screenshots are not kept: the windows
        open and the text of any message box."""
        try:
            for w in children(self.app):
                if showing(w):
                    print("    open: %s '%s'" % (w.getRoleName(), w.name), file=sys.stderr)
                    if w.getRoleName() == "alert":
                        print("      says: %s" % alert_text(w).replace("\n", " / "), file=sys.stderr)
        except Exception as e:
            print("    (the windows could not be read: %s)" % e, file=sys.stderr)

    def _print_log_tail(self, lines=20):
        try:
            with open(self.log.name) as f:
                tail = f.read().splitlines()[-lines:]
        except OSError:
            return
        for line in tail:
            print("    tarrowin: %s" % line, file=sys.stderr)

    def quit(self):
        if self.proc.poll() is None:
            # Started by a launcher, tarrowin is its child: the launcher ends with it.
            launched = self.pid is not None and self.pid != self.proc.pid
            with contextlib.suppress(ProcessLookupError):
                os.kill(self.pid, signal.SIGTERM) if launched else self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                with contextlib.suppress(ProcessLookupError):
                    if launched:
                        os.kill(self.pid, signal.SIGKILL)
                self.proc.kill()
                self.proc.wait()
        self.log.close()


def forget_files_since(work, before):
    """Removes what a failed try left in the run's folder (saved songs, recordings, settings
    of its own): its second try meets no "replace it?" question and no remembered state that
    the first did not."""
    for name in set(os.listdir(work)) - before:
        where = os.path.join(work, name)
        if os.path.isdir(where) and not os.path.islink(where):
            shutil.rmtree(where, ignore_errors=True)
        else:
            with contextlib.suppress(OSError):
                os.remove(where)


def run(scenarios, retry=True):
    """Runs each scenario (a function taking no arguments); prints a line each; exits 1 if any
    failed. A scenario that failed is shown and run once more from the start, unless
    `retry` is false (its caller runs it again itself): a shared machine now and
    then holds a window up for seconds, or a monitor's thread long enough to move what it
    stamps. One that fails twice fails; one that passes the second time is named at the end
    with what its first try found, so that a fault that comes and goes is seen."""
    import traceback
    no_key_repeat()
    failed = 0
    second_tries = []
    first_failures = {}
    work = os.environ.get("TARROWIN_E2E_WORK")
    for scenario in scenarios:
        name = scenario.__name__
        before = set(os.listdir(work)) if work else set()
        for attempt in (1, 2):
            if attempt == 2 and work:
                forget_files_since(work, before)
            start = time.time()
            try:
                scenario()
                print("  ok   %-50s %.1f s%s" % (name, time.time() - start, " (second try)" if attempt == 2 else ""))
                if attempt == 2:
                    second_tries.append(name)
                break
            except Exception as e:
                shot = screenshot("FAILED-%s%s" % (name, "-1" if attempt == 1 else ""))
                traceback.print_exc()
                if attempt == 1 and retry:
                    print("  %s %-50s %s (screenshot %s); once more" % ("SLOW" if isinstance(e, TimedOut) else "AGAIN",
                                                                        name, e, shot))
                    first_failures[name] = str(e)
                    continue
                failed += 1
                print("  FAIL %-50s %s (screenshot %s)" % (name, e, shot))
                break
    for name in second_tries:
        print("  passed only at the second try: %s (the first found: %s)" % (name, first_failures[name]))
    sys.exit(1 if failed else 0)
