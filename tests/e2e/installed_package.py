"""The installed package's window (run with TARROWIN_E2E_BIN=/usr/bin by the package stage):
a document opened as a file manager opens it, through xdg-open, the file type and the
launcher that the package installed; the About box names the version and the licence."""

from tarrowin_e2e import Tarrowin, all_in, check, cli, run, screenshot, work_path


def open_as_the_desktop_does():
    version = cli("--version").split()[-1]
    song = work_path("packaged.trw")
    cli("new", song)
    with Tarrowin(song, launcher=["xdg-open"]) as t:
        setup = t.window("MidiOut Setup")
        t.press("OK", root=setup, modal=True)
        t.gone("MidiOut Setup")
        main = t.main()
        check(main.name.endswith("packaged.trw"), "the window shows %r, not the document opened" % main.name)
        screenshot("installed-main-window")
        t.menu("Help", "About Tarrowin...")
        about = t.window("About Tarrowin 2.5")
        text = " ".join(label.name for label in all_in(about, role="label"))
        check("Version " + version in text and "GPL-3.0-or-later" in text,
              "the About box does not name version %s and the licence: %r" % (version, text))
        screenshot("installed-about")
        t.press("OK", root=about, modal=True)
        t.gone("About Tarrowin 2.5")


if __name__ == "__main__":
    run([open_as_the_desktop_does])
