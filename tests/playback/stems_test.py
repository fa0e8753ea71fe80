#!/usr/bin/python3
"""tarrowin-cli render --stems, measured with sox (which reads every file) and numpy: one
file per voice that sounds and one for the reverb and chorus, as long as the mix and adding
up to it exactly; that mix within one step of the render without stems, which stays as it
was; and each voice's file holding that voice alone."""
import hashlib
import json
import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np

CLI = sys.argv.pop(1) if len(sys.argv) > 1 else "tarrowin-cli"
SOUNDFONT = "/usr/share/sounds/sf2/TimGM6mb.sf2"
HIHATS = {9: 42, 10: 46, 11: 44}  # closed, open and pedal: each cuts the others


def cli(*args):
    run = subprocess.run([CLI, *args], capture_output=True, text=True)
    if run.returncode != 0:
        raise AssertionError("tarrowin-cli %s: %s" % (" ".join(args), run.stderr))
    return run


def frames(path):
    """The file as sox decodes it: 16-bit stereo samples."""
    raw = subprocess.run(["sox", path, "-t", "raw", "-e", "signed-integer", "-b", "16", "-c", "2", "-"],
                         check=True, capture_output=True).stdout
    return np.frombuffer(raw, dtype="<i2").astype(np.int64)


def sixteen(doc):
    """Every voice on, each with a generator, an instrument and a pan of its own."""
    for v, voice in enumerate(doc["current"]["voices"]):
        voice.update(enabled=1, tied=0, algorithm=v % 8, instrument=(v * 7) % 128, pan=(v * 9) % 64 - 32)


def shared(doc):
    """Voices 2 to 4 on channel 1 (voices 2 and 3 striking the same keys) and voices 10 to 12
    on the percussion channel, playing hi-hats that cut each other there."""
    sixteen(doc)
    voices = doc["current"]["voices"]
    for v in (1, 2, 3):
        voices[v].update(channel=1, algorithm=0)
    for v, key in HIHATS.items():
        voices[v].update(channel=9, percussionKey=key - 35, noteValue=2.0, noteValueIndex=4)


def some(doc):
    for v, voice in enumerate(doc["current"]["voices"]):
        voice.update(enabled=1 if v in (0, 4, 9) else 0, tied=0, algorithm=v % 8, instrument=v * 5)


def composition(doc):
    """Two events: voice 2 on in the first only, voice 3 moving onto voice 1's channel and
    voice 4 onto the percussion channel in the second."""
    for v, voice in enumerate(doc["current"]["voices"]):
        voice.update(enabled=1 if v < 4 else 0, tied=0, algorithm=v % 8, instrument=v * 7)
    first, second = json.loads(json.dumps(doc["current"])), json.loads(json.dumps(doc["current"]))
    second["voices"][1]["enabled"] = 0
    second["voices"][2]["channel"] = 0
    second["voices"][3]["channel"] = 9
    second["tempo"] = 90
    doc["events"] = [first, second]


class Stems(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def document(self, name, change, end=160):
        cli("new", self.path("new.trw"))
        doc = json.loads(cli("dump", self.path("new.trw")).stdout)
        doc["current"].update(endCounter=end, tempo=150)
        change(doc)
        with open(self.path(name + ".json"), "w") as f:
            json.dump(doc, f)
        cli("load", self.path(name + ".json"), self.path(name + ".trw"))
        return self.path(name + ".trw")

    def render(self, trw, out, *args):
        cli("render", trw, self.path(out), "--soundfont", SOUNDFONT, *args)
        return self.path(out)

    def test_the_stems_add_up_to_the_mix(self):
        cases = [
            # name, the document, the format, the voices that sound
            ("sixteen voices, each on its own channel", sixteen, "wav", range(16)),
            ("voices sharing a channel, drums cutting each other", shared, "wav", range(16)),
            ("three voices of sixteen", some, "flac", (0, 4, 9)),
            ("a composition, voices changing channels", composition, "flac", range(4)),
        ]
        for name, change, ext, sounding in cases:
            with self.subTest(name):
                trw = self.document(change.__name__, change)
                stems = self.path(change.__name__ + "-stems")
                mix = frames(self.render(trw, "mix." + ext, "--stems", stems))
                plain = frames(self.render(trw, "plain." + ext))
                expected = ["voice-%02d.%s" % (v + 1, ext) for v in sounding] + ["effects." + ext]
                self.assertEqual(sorted(os.listdir(stems)), sorted(expected))
                total = np.zeros_like(mix)
                for f in expected:
                    stem = frames(os.path.join(stems, f))
                    self.assertEqual(len(stem), len(mix), f)
                    self.assertGreater(np.abs(stem).max(), 100, f + " is silent")
                    total += stem
                self.assertTrue(np.array_equal(total, mix), "the largest difference: %d" % np.abs(total - mix).max())
                # Only FluidSynth's dither sets the mix rendered without stems apart.
                self.assertLessEqual(np.abs(mix - plain).max(), 1)

    def test_a_voice_alone_sounds_as_in_its_stem(self):
        trw = self.document("some", some)
        self.render(trw, "mix.wav", "--stems", self.path("all"))
        alone = self.document("alone", lambda doc: [some(doc), doc["current"]["voices"][0].update(enabled=0),
                                                    doc["current"]["voices"][9].update(enabled=0)])
        self.render(alone, "alone.wav", "--stems", self.path("alone"))
        self.assertEqual(os.listdir(self.path("alone")).count("voice-05.wav"), 1)
        together, apart = frames(self.path("all/voice-05.wav")), frames(self.path("alone/voice-05.wav"))
        # Within the one step that the rounding along the running sum allows.
        self.assertLessEqual(np.abs(together - apart).max(), 1)
        self.assertGreater(np.abs(apart).max(), 1000)

    def test_a_render_without_stems_is_as_it_was(self):
        trw = self.document("sixteen", sixteen, end=64)
        with open(self.render(trw, "plain.wav"), "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).hexdigest(), GOLDEN_SIXTEEN)


# The render of sixteen(), 64 ticks, without stems: the rendering the stems must leave as it is.
GOLDEN_SIXTEEN = "50c12b7700896fd6e42fa9b372a8ec9664233ec96d649ed3af99392d644b138a"

if __name__ == "__main__":
    unittest.main()
