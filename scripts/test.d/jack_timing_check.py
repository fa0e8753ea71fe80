"""Checks the timing of what jack_midi_dump -a received (for 40-jack-e2e.sh).

  jack_timing_check.py notes DUMP TICK_MS PERIOD
      the note ons (velocity > 0) come one tick apart, each within 1 ms of its place
  jack_timing_check.py clock DUMP TICK_MS PERIOD
      MIDI clock: 3 clocks (F8) a tick, evenly spaced within 1 ms (p99), framed by Start
      (FA) or Song Position Pointer and Continue (F2, FB) before the first, Stop (FC) after
      the last
  jack_timing_check.py beats DUMP FIRST_FRAME TICK_FRAMES
      the note ons fall on the transport's ticks: FIRST_FRAME + n * TICK_FRAMES, within 1 ms

jack_midi_dump -a stamps each message with its own count of the frames it has processed.
A monitor that misses cycles on a loaded machine counts fewer frames from then on: every
later message seems whole periods early. Such a step (a whole number of periods, early,
for good) is the monitor's, and is taken out and reported; any other deviation is ours.
"""
import sys

RATE = 48000.0


def read(path):
    out = []
    for line in open(path, errors="replace"):
        stamp, sep, rest = line.partition(":")
        if not sep or not stamp.strip().isdigit():
            continue
        data = []
        for word in rest.split():
            if len(word) != 2:
                break
            try:
                data.append(int(word, 16))
            except ValueError:
                break
        if data:
            out.append((int(stamp), tuple(data)))
    return out


def steady(frames, spacing, period, what):
    """Checks that `frames` lie `spacing` frames apart within 1 ms, taking out the monitor's
    steps; returns the residuals in ms."""
    tolerance = RATE / 1000
    shift = 0
    steps = 0
    residuals = []
    for i in range(1, len(frames)):
        gap = frames[i] - frames[i - 1] - spacing
        periods = round(-gap / period)
        if abs(gap) > tolerance and periods >= 1 and abs(gap + periods * period) <= 8:
            shift += periods * period
            steps += 1
        residuals.append((frames[i] + shift - frames[0] - i * spacing) / RATE * 1000)
    if steps:
        print("  (jack_midi_dump missed cycles %d times; its count was corrected)" % steps)
    base = sorted(residuals)[len(residuals) // 2] if residuals else 0
    worst = max((abs(r - base) for r in residuals), default=0)
    bad = [(i + 1, r - base) for i, r in enumerate(residuals) if abs(r - base) > 1.0]
    if bad:
        sys.exit("FAIL: %s off their places by more than 1 ms: %s" %
                 (what, ", ".join("#%d %.2f ms" % b for b in bad[:8])))
    return worst


def notes(args):
    path, tick_ms, period = args[0], float(args[1]), int(args[2])
    frames = [f for f, d in read(path) if len(d) >= 3 and d[0] & 0xF0 == 0x90 and d[2] > 0]
    if len(frames) < 20:
        sys.exit("FAIL: only %d notes arrived" % len(frames))
    worst = steady(frames, tick_ms * RATE / 1000, period, "notes")
    print("  %d notes, %.1f ms apart within %.3f ms" % (len(frames), tick_ms, worst))


def clock(args):
    path, tick_ms, period = args[0], float(args[1]), int(args[2])
    stream = [(f, d) for f, d in read(path) if d[0] >= 0xF0]
    kinds = [d[0] for _, d in stream]
    starts = [i for i, k in enumerate(kinds) if k in (0xFA, 0xFB)]
    if not starts or kinds[-1] != 0xFC:
        sys.exit("FAIL: the clock is not framed by Start/Continue and Stop: %s" % [hex(k) for k in kinds[:4] + kinds[-2:]])
    first = starts[0]
    if kinds[first] == 0xFB and (first == 0 or kinds[first - 1] != 0xF2):
        sys.exit("FAIL: Continue without a Song Position Pointer before it")
    clocks = [f for f, d in stream[first:] if d[0] == 0xF8]
    if any(k != 0xF8 for k in kinds[first + 1:-1]):
        sys.exit("FAIL: other messages among the clocks")
    worst = steady(clocks, tick_ms * RATE / 1000 / 3, period, "clocks")
    print("  %d clocks, %.3f ms apart within %.3f ms, %s ... Stop" %
          (len(clocks), tick_ms / 3, worst, "Start" if kinds[first] == 0xFA else "Song Position, Continue"))


def beats(args):
    path, first, tick = args[0], int(args[1]), float(args[2])
    frames = [f for f, d in read(path) if len(d) >= 3 and d[0] & 0xF0 == 0x90 and d[2] > 0]
    off = [((f - first) / tick - round((f - first) / tick)) * tick / RATE * 1000 for f in frames]
    bad = [o for o in off if abs(o) > 1.0]
    if not frames or bad:
        sys.exit("FAIL: %d of %d notes off the transport's ticks by more than 1 ms" % (len(bad), len(frames)))
    print("  %d notes on the transport's ticks" % len(frames))


{"notes": notes, "clock": clock, "beats": beats}[sys.argv[1]](sys.argv[2:])
