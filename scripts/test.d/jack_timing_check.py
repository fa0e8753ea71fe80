"""Checks the timing of what jack_midi_dump -a received (for 40-jack-e2e.sh).

  jack_timing_check.py notes DUMP TICK_MS PERIOD COUNT
      COUNT note ons (velocity > 0), one tick apart, the intervals within 1 ms of it
  jack_timing_check.py clock DUMP TICK_MS PERIOD COUNT
      MIDI clock: COUNT clocks (F8), 3 a tick, their intervals within 1 ms, framed by Start
      (FA) or Song Position Pointer and Continue (F2, FB) before the first, Stop (FC) after
      the last
  jack_timing_check.py beats DUMP PERIOD OWN_TICK_FRAMES
      a play following the transport, with jack_midi_clock's clock of the same transport in
      the same dump: the note ons of channel 0 fall on every third clock after Start within
      1 ms, the first within a period of the first clock; once the clock has ended (the
      master went) they go on OWN_TICK_FRAMES apart
  jack_timing_check.py tempo DUMP TICK_MS
      a play following a MIDI clock: the note ons of channel 0 come TICK_MS apart on
      average, within 1 %

jack_midi_dump -a stamps each message with its own count of the frames it has processed.
On a loaded machine the monitor misses cycles and counts fewer frames from then on: every
later stamp comes earlier by whole periods, which shows in one interval, shorter by a
multiple of the period to the frame. The program's messages cannot do that (a message it
placed late makes one interval longer and the next shorter); such steps are told apart and
reported. The dummy driver, held up, loses time that its frames never make up, another
step in one interval; a play may have two. Frames placed at the start of their cycles, as
messages were before they had their own frames, upset most intervals.

A check that does not hold exits 1 saying what it found ("not so: ..."); the caller, which
may play again after a late cycle, says whether the stage fails.
"""
import sys

from jack_dump_check import monitor_steps, timed_messages

RATE = 48000.0


read = timed_messages


def steady(frames, spacing, period, what):
    """Checks that successive `frames` lie `spacing` frames apart within 1 ms, but for the
    monitor's missed cycles and two other steps at most; returns the p99 of the other
    intervals' deviations in ms."""
    deviations = [b - a - spacing for a, b in zip(frames, frames[1:])]
    missed, bad = [], []
    for i, d in enumerate(deviations):
        if abs(d) <= RATE / 1000:
            continue
        # Not a message placed late, which makes the interval before it that much longer.
        whole = monitor_steps(d + spacing, spacing, period) > 0 and not (i > 0 and deviations[i - 1] > RATE / 1000)
        (missed if whole else bad).append((i + 1, abs(d) / RATE * 1000))
    if len(bad) > 2:
        sys.exit("  not so: %d of %d %s intervals off by more than 1 ms: %s" %
                 (len(bad), len(deviations), what, ", ".join("#%d %.2f ms" % b for b in bad[:8])))
    if missed:
        print("  (%d steps of the monitor's count, whole periods: %s)" %
              (len(missed), ", ".join("#%d %.2f ms" % m for m in missed)))
    if bad:
        print("  (%d other steps, the dummy driver's time or a late cycle: %s)" % (len(bad), ", ".join("#%d %.2f ms" % b for b in bad)))
    rest = sorted(abs(d) / RATE * 1000 for d in deviations if abs(d) <= RATE / 1000)
    return rest[min(len(rest) - 1, len(rest) * 99 // 100)] if rest else 0


def notes(args):
    path, tick_ms, period, count = args[0], float(args[1]), int(args[2]), int(args[3])
    frames = [f for f, d in read(path) if len(d) >= 3 and d[0] & 0xF0 == 0x90 and d[2] > 0]
    if len(frames) != count:
        sys.exit("  not so: %d notes arrived, not %d" % (len(frames), count))
    worst = steady(frames, tick_ms * RATE / 1000, period, "notes")
    print("  %d notes, %.1f ms apart (p99 of the deviations %.3f ms)" % (len(frames), tick_ms, worst))


def clock(args):
    path, tick_ms, period, count = args[0], float(args[1]), int(args[2]), int(args[3])
    stream = [(f, d) for f, d in read(path) if d[0] >= 0xF0]
    kinds = [d[0] for _, d in stream]
    starts = [i for i, k in enumerate(kinds) if k in (0xFA, 0xFB)]
    if not starts or kinds[-1] != 0xFC:
        sys.exit("  not so: the clock is not framed by Start/Continue and Stop: %s" % [hex(k) for k in kinds[:4] + kinds[-2:]])
    first = starts[0]
    if kinds[first] == 0xFB and (first == 0 or kinds[first - 1] != 0xF2):
        sys.exit("  not so: Continue without a Song Position Pointer before it")
    clocks = [f for f, d in stream[first:] if d[0] == 0xF8]
    if any(k != 0xF8 for k in kinds[first + 1:-1]):
        sys.exit("  not so: other messages among the clocks")
    if len(clocks) != count:
        sys.exit("  not so: %d clocks arrived, not %d" % (len(clocks), count))
    worst = steady(clocks, tick_ms * RATE / 1000 / 3, period, "clocks")
    print("  %d clocks, %.3f ms apart (p99 of the deviations %.3f ms), %s ... Stop" %
          (len(clocks), tick_ms / 3, worst, "Start" if kinds[first] == 0xFA else "Song Position, Continue"))


def voice_one(path):
    return [f for f, d in read(path) if len(d) >= 3 and d[0] == 0x90 and d[2] > 0]


def beats(args):
    path, period, own = args[0], int(args[1]), float(args[2])
    stream = read(path)
    start = next((i for i, (_, d) in enumerate(stream) if d[0] == 0xFA), None)
    if start is None:
        sys.exit("  not so: jack_midi_clock sent no Start")
    clocks = [f for f, d in stream[start:] if d[0] == 0xF8]
    notes = voice_one(path)
    if len(clocks) < 30 or len(notes) < 10:
        sys.exit("  not so: %d clocks and %d notes" % (len(clocks), len(notes)))
    # The roll is seen in its cycle: the first note goes out the port's one period of
    # latency later, the others on their ticks.
    if not 0 <= notes[0] - clocks[0] <= period + RATE / 1000:
        sys.exit("  not so: the first note came %d frames after the transport rolled" % (notes[0] - clocks[0]))
    ticks = clocks[::3]
    # The notes while the clock runs; not those of its last ticks, where the master lets go
    # (JACK then moves the transport back a cycle, and the clock ends).
    on = [n for n in notes[1:] if n < ticks[-2] - RATE / 1000]
    off = [min(abs(n - t) for t in ticks) / RATE * 1000 for n in on]
    if max(off) > 1.0:
        bad = [(i + 1, o) for i, o in enumerate(off) if o > 1.0]
        sys.exit("  not so: notes off the transport's ticks by more than 1 ms: %s (of %d)" %
                 (", ".join("#%d %.2f ms" % b for b in bad[:8]), len(off)))
    after = [n for n in notes if n > ticks[-1] + RATE / 1000]
    if len(after) > 2:
        steady(after, own, period, "notes after the master went")
    print("  %d notes on the transport's ticks (within %.3f ms), the first %.1f ms after the roll; %d on the own tempo after" %
          (len(on) + 1, max(off), (notes[0] - clocks[0]) / RATE * 1000, len(after)))


def tempo(args):
    path, tick_ms = args[0], float(args[1])
    notes = voice_one(path)
    if len(notes) < 30:
        sys.exit("  not so: only %d notes" % len(notes))
    mean = (notes[-1] - notes[1]) / (len(notes) - 2) / RATE * 1000
    if abs(mean - tick_ms) > tick_ms * 0.01:
        sys.exit("  not so: a tick of %.3f ms, not %.3f" % (mean, tick_ms))
    print("  %d notes, a tick of %.3f ms (the clock's %.3f)" % (len(notes), mean, tick_ms))


{"notes": notes, "clock": clock, "beats": beats, "tempo": tempo}[sys.argv[1]](sys.argv[2:])
