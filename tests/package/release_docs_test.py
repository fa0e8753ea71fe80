"""The manual pages tell the programs as they are, and every file that names the release
names the same one.

The pages must hold their sections and mention every command and option that the programs'
own --help lists, so a new option without its documentation fails here. The AppStream release
and the Debian changelog must name the version and the day that CMake holds, and the
pictures that the AppStream data shows must be those kept in docs/screenshots.

Usage: release_docs_test.py SOURCE_DIR BIN_DIR MAN_DIR VERSION DATE
"""

import email.utils
import os
import re
import subprocess
import sys
import unittest

SOURCE, BIN, MAN, VERSION, DATE = sys.argv[1:6]
del sys.argv[1:6]

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES", "ENVIRONMENT", "EXIT STATUS", "EXAMPLES",
            "SEE ALSO"]
PAGES = [  # page, its extra sections
    ("tarrowin", []),
    ("tarrowin-cli", ["COMMANDS"]),
]


def run(*args):
    r = subprocess.run([os.path.join(BIN, args[0]), *args[1:]], capture_output=True, text=True,
                       env={k: v for k, v in os.environ.items() if k != "DISPLAY"})
    if r.returncode != 0:
        raise AssertionError("%s failed: %s" % (" ".join(args), r.stderr))
    return r.stdout


def plain_roff(page):
    """The page's source with the escapes that may stand inside a word taken out."""
    with open(os.path.join(MAN, page + ".1")) as f:
        text = f.read()
    return re.sub(r"\\f[BIRP]|\\&", "", text).replace("\\-", "-")


def long_options(help_text):
    """The long options that a --help lists at the start of its lines (CLI11 and Qt)."""
    return set(re.findall(r"^ +(?:-\S+, ?|-\S+,)?(--[a-z0-9-]+)", help_text, re.M))


def subcommands(help_text):
    part = help_text.split("Subcommands:", 1)
    return re.findall(r"^  (\S+) ", part[1], re.M) if len(part) > 1 else []


def tags(roff):
    """The words of each item's tag (the line after .TP), without the macro and the quotes."""
    lines = roff.splitlines()
    found = []
    for i, line in enumerate(lines[:-1]):
        if line == ".TP":
            words = re.sub(r'^\.\w+\s*', "", lines[i + 1]).replace('"', " ").replace("|", " ").split()
            found.append(words)
    return found


def mentions(roff, option):
    return re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(option), roff) is not None


class ManualPages(unittest.TestCase):
    def test_sections(self):
        for page, extra in PAGES:
            headings = re.findall(r'^\.SH "?([^"\n]+)"?$', plain_roff(page), re.M)
            for section in SECTIONS + extra:
                self.assertIn(section, headings, "%s.1 has no %s section" % (page, section))

    def test_window_options(self):
        roff = plain_roff("tarrowin")
        for option in long_options(run("tarrowin", "--help")):
            self.assertTrue(mentions(roff, option), "tarrowin.1 does not mention %s" % option)

    def test_cli_commands_and_options(self):
        roff = plain_roff("tarrowin-cli")
        item_tags = tags(roff)
        top = run("tarrowin-cli", "--help")
        missing = [o for o in long_options(top) if not mentions(roff, o)]
        commands = subcommands(top)
        self.assertGreater(len(commands), 10)
        for command in commands:
            own = [t for t in item_tags if t and t[0] == command]
            self.assertTrue(own, "tarrowin-cli.1 has no item for the command %s" % command)
            text = run("tarrowin-cli", command, "--help")
            for sub in subcommands(text):
                self.assertTrue(any(sub in t for t in own), "tarrowin-cli.1 does not name %s %s" % (command, sub))
                text += run("tarrowin-cli", command, sub, "--help")
            missing += ["%s %s" % (command, o) for o in long_options(text) if not mentions(roff, o)]
        self.assertEqual(missing, [], "options that tarrowin-cli.1 does not mention")

    def test_parsers_see_the_options(self):
        # Guards the two tests above against a help layout they no longer read.
        self.assertTrue({"--device", "--seed", "--version"} <= long_options(run("tarrowin", "--help")))
        self.assertIn("--percussion-channel", long_options(run("tarrowin-cli", "export", "--help")))
        self.assertEqual(subcommands(run("tarrowin-cli", "event", "--help"))[:2], ["add", "insert"])


def metainfo():
    with open(os.path.join(SOURCE, "src/app/resources/desktop/org.tarrowin.Tarrowin.metainfo.xml")) as f:
        return f.read()


class ReleaseNamedAlike(unittest.TestCase):
    def test_screenshots_are_kept(self):
        named = re.findall(r"<image[^>]*>https://[^<]*/screenshots/([^<]+)</image>", metainfo())
        kept = sorted(os.listdir(os.path.join(SOURCE, "docs/screenshots")))
        self.assertEqual(sorted(named), kept)

    def test_every_file_names_the_release(self):
        release = re.search(r'<release version="([^"]+)" date="([^"]+)"', metainfo())
        with open(os.path.join(SOURCE, "debian/changelog")) as f:
            changelog = f.read()
        debian_version = re.match(r"tarrowin \(([^)-]+)-[^)]+\)", changelog)
        debian_date = email.utils.parsedate_to_datetime(re.search(r"^ -- .*?>  (.+)$", changelog, re.M).group(1))
        cases = [  # where, version, day
            ("the AppStream release", release.group(1), release.group(2)),
            ("the Debian changelog", debian_version.group(1), debian_date.date().isoformat()),
        ]
        for where, version, day in cases:
            self.assertEqual((version, day), (VERSION, DATE), where)


if __name__ == "__main__":
    unittest.main()
