#!/usr/bin/python3
"""End-to-end checks of tarrowin-cli's info, notes and image commands.

The documents are written here byte by byte in the version 2.5 layout, independently of
the program's own writer, and the PNG is decoded here with zlib alone.
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

CLI = sys.argv.pop(1) if len(sys.argv) > 1 else "tarrowin-cli"

MAJOR = [0, 2, 4, 5, 7, 9, 11]


def default_voice(v):
    return dict(enabled=1 if v == 0 else 0, algorithm=0, param1=2, param2=1, offset=0, modulate=0,
                modulateMode=0, modulateEvery=5, scaleIndex=0, scale=list(MAJOR), userScale=list(MAJOR),
                octaves=1, octavesIndex=0, startNote=60, noteValue=8.0, noteValueIndex=2, instrument=0,
                channel=v, tied=1, inverted=0, matchScale=1, dynamicIndex=3, velocity=88, pan=0,
                percussionKey=0, logisticMu=3.9, noiseCoefficient=0.5, henonA=1.7, henonB=0.4,
                hopalongAngle=3.1415927, martinAngle=3.1415927, gingerX0=-0.1, gingerY0=0.0,
                lorenzCoefficient=0.8)


def settings(tempo=96, start=0, end=0):
    return dict(tempo=tempo, start=start, end=end, num=4, den=4, voices=[default_voice(v) for v in range(16)])


def trw(current, events, version=2.5):
    """The bytes of a version 2.5 document, or of 2.0 (the same without percussion keys)."""
    percussion = version == 2.5
    out = bytearray()
    put = lambda fmt, *values: out.extend(struct.pack("<" + fmt, *values))
    vs = current["voices"]
    put("fiiiihh", version, current["tempo"], 1, current["end"], current["start"], current["num"], current["den"])
    put("16h", *[v["algorithm"] for v in vs])
    for field in ("enabled", "param1", "param2", "offset", "modulate", "scaleIndex", "startNote",
                  "noteValueIndex"):
        put("16i", *[v[field] for v in vs])
    put("16f", *[v["noteValue"] for v in vs])
    for field in ("octavesIndex", "octaves", "instrument", "channel", "tied", "modulateEvery", "modulateMode"):
        put("16i", *[v[field] for v in vs])
    for v in vs:
        put("4i", v["inverted"], v["matchScale"], v["velocity"], v["dynamicIndex"])
    for v in vs:
        put("9f", v["logisticMu"], v["noiseCoefficient"], v["henonA"], v["henonB"], v["hopalongAngle"],
            v["martinAngle"], v["gingerX0"], v["gingerY0"], v["lorenzCoefficient"])
    put("16i", *[v["pan"] for v in vs])
    if percussion:
        put("16i", *[v["percussionKey"] for v in vs])
    put("16i", *[len(v["scale"]) for v in vs])
    assert len(out) == (2104 if percussion else 2040)
    for v in vs:
        put("%di" % len(v["scale"]), *v["scale"])
    put("16i", *[len(v["userScale"]) for v in vs])
    for v in vs:
        put("%di" % len(v["userScale"]), *v["userScale"])
    put("i", len(events) - 1)
    for e in events:
        put("iiihh", e["start"], e["tempo"], e["end"], e["num"], e["den"])
    for e in events:
        for v in e["voices"]:
            put("h9if10i9f%di" % (2 if percussion else 1), v["algorithm"], v["enabled"], v["param1"], v["param2"], v["offset"],
                v["octaves"], v["modulate"], v["modulateMode"], v["modulateEvery"], v["startNote"],
                v["noteValue"], v["instrument"], v["channel"], v["tied"], v["scaleIndex"], v["octavesIndex"],
                v["noteValueIndex"], v["inverted"], v["matchScale"], v["velocity"], v["dynamicIndex"],
                v["logisticMu"], v["noiseCoefficient"], v["lorenzCoefficient"], v["henonA"], v["henonB"],
                v["hopalongAngle"], v["martinAngle"], v["gingerX0"], v["gingerY0"], v["pan"],
                *([v["percussionKey"]] if percussion else []))
    for key in ("scale", "userScale"):
        for e in events:
            put("16i", *[len(v[key]) for v in e["voices"]])
        for e in events:
            for v in e["voices"]:
                put("%di" % len(v[key]), *v[key])
    return bytes(out)


def read_png(path):
    """Width, height and rows of (r, g, b) tuples of an 8-bit RGB PNG."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert (depth, colour) == (8, 2), "expected 8-bit RGB"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, stride, rows, prev = zlib.decompress(idat), width * 3, [], bytearray(width * 3)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, cur = line[0], bytearray(line[1:])
        for i in range(stride):
            a = cur[i - 3] if i >= 3 else 0
            b, c = prev[i], prev[i - 3] if i >= 3 else 0
            if kind == 1:
                cur[i] = (cur[i] + a) & 255
            elif kind == 2:
                cur[i] = (cur[i] + b) & 255
            elif kind == 3:
                cur[i] = (cur[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                cur[i] = (cur[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(cur[x * 3:x * 3 + 3]) for x in range(width)])
        prev = cur
    return width, height, rows


class ReportCommands(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def document(self, name, current, events, version=2.5):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(trw(current, events, version))
        return path

    def run_cli(self, *args):
        return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=60)

    def two_minutes(self):
        return self.document("two.trw", settings(), [settings(96, 0, 1536)])

    def test_info_prints_the_global_report(self):
        result = self.run_cli("info", self.two_minutes())
        self.assertEqual(result.returncode, 0, result.stderr)
        rows = result.stdout.split("\n")
        self.assertEqual(rows[:8], ["GLOBAL INFORMATION:", "*" * 30, "", "File version: 2.50",
                                    "Number of total active voices: 1", "Number of events: 1",
                                    "Number of events left 999", "Approximate duration: 2 min. 0 sec."])
        self.assertIn("\tMorse-Thue:\t 1 (100.00%)", rows)

    def test_file_version_row_shows_the_version_read(self):
        path = self.document("old.trw", settings(), [settings(96, 0, 1536)], version=2.0)
        result = self.run_cli("info", path)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.split("\n")[3], "File version: 2.00")

    def test_info_of_one_event(self):
        path = self.two_minutes()
        result = self.run_cli("info", path, "--event", "0")
        self.assertEqual(result.returncode, 0, result.stderr)
        rows = result.stdout.split("\n")
        self.assertEqual(rows[:7], ["Event Number 0", "*" * 18, "", "Counters: Start 0, End 1536", "Tempo: 96",
                                    "Time signature: 4/4", "VOICE 1:"])
        self.assertIn("VOICE 16 (Inactive)", rows)
        missing = self.run_cli("info", path, "--event", "1")
        self.assertNotEqual(missing.returncode, 0)
        self.assertIn("there is no event 1", missing.stderr)

    def test_empty_composition_is_refused_clearly(self):
        path = self.document("empty.trw", settings(), [])
        png = os.path.join(self.dir.name, "empty.png")
        for args in (("info", path), ("image", path, png)):
            result = self.run_cli(*args)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("holds no events", result.stderr)
            self.assertEqual(result.stdout, "")
        self.assertFalse(os.path.exists(png))

    def test_notes_shows_labels_and_greyed_voices(self):
        current = settings(start=10)
        current["voices"][2]["modulate"] = 1
        current["voices"][2]["modulateMode"] = 1
        result = self.run_cli("notes", self.document("notes.trw", current, []))
        self.assertEqual(result.returncode, 0, result.stderr)
        rows = result.stdout.rstrip("\n").split("\n")
        self.assertEqual(len(rows), 17)
        self.assertEqual(rows[1], " 1  D5 (1)")
        self.assertEqual(rows[2], " 2  D5 (1)  (voice off)")
        self.assertEqual(rows[3], " 3  N/A  (voice off)")

    def test_image_writes_the_pattern_as_png(self):
        events = [settings(96, 0, 10)]
        events[0]["voices"][0]["enabled"] = 0  # S = 11, K = 1
        path = self.document("image.trw", settings(), events)
        png = os.path.join(self.dir.name, "image.png")
        result = self.run_cli("image", path, png)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("S = 11, K = 1", result.stdout)
        width, height, rows = read_png(png)
        self.assertEqual((width, height), (500, 500))
        self.assertEqual(rows[250][250], (7, 1, 0))  # D = 2 * 11 * 11 = 242
        self.assertEqual(rows[250][251], (8, 2, 0))  # D = 12 * 12 + 11 * 11 = 265
        self.assertEqual(rows[10][40], rows[40][10])
        self.assertEqual(rows[10][40], rows[490][460])

    def test_image_into_a_missing_folder_fails_and_writes_nothing(self):
        png = os.path.join(self.dir.name, "no-such-folder", "image.png")
        result = self.run_cli("image", self.two_minutes(), png)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("Cannot write \"%s\"" % png, result.stderr)
        self.assertFalse(os.path.exists(os.path.dirname(png)))

    def test_unreadable_document_is_reported(self):
        path = self.document("short.trw", settings(), [settings(96, 0, 8)])
        with open(path, "r+b") as f:
            f.truncate(3000)
        for args in (("info", path), ("notes", path), ("image", path, path + ".png")):
            result = self.run_cli(*args)
            self.assertNotEqual(result.returncode, 0)
            self.assertTrue(result.stderr.strip())
            self.assertEqual(result.stdout, "")


if __name__ == "__main__":
    unittest.main()
