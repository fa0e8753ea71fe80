"""The window as a musician meets it, end to end: each tool and report window opens clear of the
main window's menus and toolbar, F2 and Escape reach the notes from wherever the focus is, and
the windows photographed at scale 1, 1.5 and 2 (on a screen large enough, at 1.5 all of them clear of
the main window) and in the dark theme."""

import os
import subprocess
import tempfile

import pyatspi

from tarrowin_e2e import (Tarrowin, check, children, has, key, nested_display, poll, random_composition, run,
                          screenshot, showing, window_manager)

# Each tool and report window: the menu item that opens it and its title.
TOOL_WINDOWS = [
    (("Options", "Composition Maker..."), "Composition Maker"),
    (("Options", "Composition Info..."), "Composition Information"),
    (("Options", "Create image from composition..."), "Image from composition"),
    (("View", "Notes"), "Notes"),
    (("Help", "Help Topics"), "Tarrowin Help"),
]


def extents(acc):
    e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def overlap(a, b):
    return a[0] < b[0] + b[2] and b[0] < a[0] + a[2] and a[1] < b[1] + b[3] and b[1] < a[1] + a[3]


def menus_and_toolbar(main):
    bars = [c for c in children(main) if c.getRoleName() in ("menu bar", "tool bar")]
    check(len(bars) == 2, "the main window shows %d bars" % len(bars))
    return [extents(b) for b in bars]


def screen_of(display=None):
    env = dict(os.environ, DISPLAY=display) if display else None
    width, height = subprocess.run(["xdotool", "getdisplaygeometry"], env=env, capture_output=True, text=True,
                                   check=True).stdout.split()
    return 0, 0, int(width), int(height)


def inside(a, b):
    return a[0] >= b[0] and a[1] >= b[1] and a[0] + a[2] <= b[0] + b[2] and a[1] + a[3] <= b[1] + b[3]


def open_each_tool_window(t, shot=None, display=None, room_for_all=False):
    """Opens every tool and report window in turn, each of which must lie on the screen, clear of
    the main window's menus and toolbar; on a screen with room for all, clear of the whole main
    window."""
    main = t.main()
    bars = menus_and_toolbar(main)
    if room_for_all:
        bars.append(extents(main))
    screen = screen_of(display)
    for path, title in TOOL_WINDOWS:
        t.menu(*path, wait=path[0] == "View")
        window = t.window(title)
        where = poll(lambda: extents(window)[2] > 0 and extents(window), 5, "the extents of %s" % title)
        check(inside(where, screen), "%s at %s is not on the screen %s" % (title, where, screen))
        for bar in bars:
            check(not overlap(where, bar), "%s at %s covers the main window's bar at %s" % (title, where, bar))
    if shot:
        screenshot(shot, display)


def song():
    return random_composition("look.trw", 3, 7)


def tool_windows_open_clear_of_the_menus():
    with Tarrowin("--device", "0", song(), env={"XDG_CONFIG_HOME": tempfile.mkdtemp()}) as t:
        open_each_tool_window(t, "tool-windows")


def f2_and_escape_reach_the_notes():
    with Tarrowin("--device", "0", song(), env={"XDG_CONFIG_HOME": tempfile.mkdtemp()}) as t:
        item = lambda: t.menu_item("View", "Notes")
        t.main()
        key("F2")
        notes = t.window("Notes")
        poll(lambda: has(notes, pyatspi.STATE_ACTIVE), 5, "the notes to be active")
        key("F2")  # in the notes window itself
        poll(lambda: not showing(notes), 5, "F2 to close the notes")
        t.menu("Options", "Composition Maker...")
        maker = t.window("Composition Maker")
        poll(lambda: has(maker, pyatspi.STATE_ACTIVE), 5, "the Composition Maker to be active")
        key("F2")
        notes = t.window("Notes")
        poll(lambda: has(notes, pyatspi.STATE_ACTIVE), 5, "the notes to be active again")
        key("Escape")
        poll(lambda: not showing(notes), 5, "Escape to close the notes")
        check(not has(item(), pyatspi.STATE_CHECKED), "View > Notes stays checked")
        key("Escape")


def looks_at_each_scale_and_in_dark():
    # At 1.5 and 2 the windows need a screen of 2880 x 1620 logical pixels and more.
    for scale in ("1.5", "2"):
        display, xvfb = nested_display("3840x2160")
        wm = window_manager(display)
        try:
            env = {"DISPLAY": display, "QT_SCALE_FACTOR": scale, "XDG_CONFIG_HOME": tempfile.mkdtemp()}
            with Tarrowin("--device", "0", song(), env=env) as t:
                # 2560 x 1440 logical pixels at 1.5 hold the main window and all five beside it.
                open_each_tool_window(t, "scale-%s" % scale, display, room_for_all=scale == "1.5")
        finally:
            for p in (wm, xvfb):
                p.terminate()
                p.wait()

    config = tempfile.mkdtemp()
    with Tarrowin("--device", "0", song(), env={"XDG_CONFIG_HOME": config}) as t:
        t.main()
        screenshot("scale-1")
        t.menu("Options", "Theme", "Dark", wait=True)
        open_each_tool_window(t, "dark")
        help_window = t.window("Tarrowin Help")
        poll(lambda: has(help_window, pyatspi.STATE_ACTIVE), 5, "the help to be active")
        key("Escape")
        t.gone("Tarrowin Help")
        screenshot("dark-without-help")
    # The next start is dark at once.
    with Tarrowin("--device", "0", env={"XDG_CONFIG_HOME": config}) as t:
        t.main()
        check(has(t.menu_item("Options", "Theme", "Dark"), pyatspi.STATE_CHECKED), "the dark theme was not kept")
        key("Escape", "Escape")


if __name__ == "__main__":
    run([tool_windows_open_clear_of_the_menus, f2_and_escape_reach_the_notes, looks_at_each_scale_and_in_dark])
