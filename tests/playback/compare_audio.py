#!/usr/bin/python3
"""Compares a live recording of a play with the offline rendering of the same passage.

    compare_audio.py RENDER.wav LIVE.wav

Both are 16-bit PCM WAV files. The recording is aligned with the rendering at its first
note onset; then, over the rendering's length:
  - the recording has no clipped sample,
  - its peak lies within 1.5 dB of the rendering's,
  - its RMS lies within 3 dB, over the whole span and over the first 100 ms (where a
    burst at the start of a play shows),
  - every note onset of either lies within 10 ms of a rise of the energy in the other.
Onsets are found in the envelope of the signal's first difference, where the attack of a
note stands out from the notes that sound on: a clear rise (RISE) counts as an onset, and
a smaller one (MATCH_RISE) suffices to answer it, so a note near the threshold in one file
is not missed in the other.
Prints the measurements; exits 1 naming each check that failed ("not so: ..."), 2 when a file is unusable.
"""
import array
import math
import sys
import wave

PEAK_DB = 1.5
RMS_DB = 3.0
ONSET_MS = 10.0
START_MS = 100
FULL_SCALE = 32767

HOP_MS = 1.0        # the envelope's step
RISE = 2.5          # an onset: the envelope grows this many times over its maximum ...
MATCH_RISE = 1.4    # (or this many, to answer an onset of the other file)
PAST_MS = (4, 24)   # ... in this window before it,
FLOOR = 0.002       # and stands above this level (of full scale);
REFRACTORY_MS = 30  # one onset per note.


def load(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2:
            raise ValueError("%s: not 16-bit PCM" % path)
        channels, rate = w.getnchannels(), w.getframerate()
        samples = array.array("h", w.readframes(w.getnframes()))
    if sys.byteorder != "little":
        samples.byteswap()
    return rate, channels, samples


def envelope(samples, channels, hop):
    """The largest step of the channels' sum in each hop, 1.0 = full scale."""
    mono = [sum(samples[i:i + channels]) for i in range(0, len(samples), channels)]
    steps = [0] + [abs(b - a) for a, b in zip(mono, mono[1:])]
    scale = 2.0 * 32768 * channels
    return [max(steps[i:i + hop]) / scale for i in range(0, len(steps), hop)]


def onsets(env, rise, refractory_ms=REFRACTORY_MS):
    """The hops where the envelope rises by `rise`, at most one per refractory span."""
    found, last = [], -10**9
    lo, hi = int(PAST_MS[0] / HOP_MS), int(PAST_MS[1] / HOP_MS)
    refractory = int(refractory_ms / HOP_MS)
    for i, e in enumerate(env):
        past = max(env[max(0, i - hi):max(0, i - lo)] or [0.0])
        if e > FLOOR and e > rise * past and i - last >= refractory:
            found.append(i)
            last = i
    return found


def db(ratio):
    return 20 * math.log10(ratio) if ratio > 0 else -math.inf


def stats(samples, channels, first_frame, frames):
    part = samples[first_frame * channels:(first_frame + frames) * channels]
    if not part:
        return 0.0, 0.0, 0
    peak = max(abs(v) for v in part) / 32768.0
    rms = math.sqrt(sum(v * v for v in part) / len(part)) / 32768.0
    clipped = sum(1 for v in part if v >= FULL_SCALE or v <= -FULL_SCALE)
    return peak, rms, clipped


def nearest(values, x):
    return min((abs(v - x) for v in values), default=math.inf)


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    try:
        (rate, ch_r, render), (rate_l, ch_l, live) = load(argv[1]), load(argv[2])
    except (OSError, EOFError, ValueError, wave.Error) as e:
        print("unusable file: %s" % e, file=sys.stderr)
        return 2
    if rate != rate_l:
        print("sample rates differ: %d and %d" % (rate, rate_l), file=sys.stderr)
        return 2
    hop = int(rate * HOP_MS / 1000)
    env_r, env_l = envelope(render, ch_r, hop), envelope(live, ch_l, hop)
    on_r, on_l = onsets(env_r, RISE), onsets(env_l, RISE)
    if not on_r or not on_l:
        print("no note onset in %s" % (argv[1] if not on_r else argv[2]), file=sys.stderr)
        return 2

    span = len(render) // ch_r - on_r[0] * hop
    start = int(rate * START_MS / 1000)
    r_peak, r_rms, r_clip = stats(render, ch_r, on_r[0] * hop, span)
    l_peak, l_rms, l_clip = stats(live, ch_l, on_l[0] * hop, span)
    r_start = stats(render, ch_r, on_r[0] * hop, start)[1]
    l_start = stats(live, ch_l, on_l[0] * hop, start)[1]

    def relative(found, first):
        return [(o - first) * HOP_MS for o in found if 0 <= (o - first) * hop < span]
    rel_r, rel_l = relative(on_r, on_r[0]), relative(on_l, on_l[0])
    rises_r = relative(onsets(env_r, MATCH_RISE, 0), on_r[0])
    rises_l = relative(onsets(env_l, MATCH_RISE, 0), on_l[0])
    off_r = [nearest(rises_l, x) for x in rel_r]
    off_l = [nearest(rises_r, x) for x in rel_l]
    worst = max(off_r + off_l)

    print("render: peak %.1f dB, RMS %.1f dB, %d clipped, first 100 ms RMS %.1f dB, %d onsets"
          % (db(r_peak), db(r_rms), r_clip, db(r_start), len(rel_r)))
    print("live:   peak %.1f dB, RMS %.1f dB, %d clipped, first 100 ms RMS %.1f dB, %d onsets"
          % (db(l_peak), db(l_rms), l_clip, db(l_start), len(rel_l)))
    print("onsets: worst offset %.0f ms; span %.2f s" % (worst, span / rate))

    failures = []
    if l_clip > 0:
        failures.append("%d clipped samples in the recording" % l_clip)
    if abs(db(l_peak) - db(r_peak)) > PEAK_DB:
        failures.append("peak differs by %.1f dB" % (db(l_peak) - db(r_peak)))
    if abs(db(l_start) - db(r_start)) > RMS_DB:
        failures.append("RMS of the first %d ms differs by %.1f dB" % (START_MS, db(l_start) - db(r_start)))
    if abs(db(l_rms) - db(r_rms)) > RMS_DB:
        failures.append("RMS differs by %.1f dB" % (db(l_rms) - db(r_rms)))
    late = [(x, o) for x, o in zip(rel_r, off_r) if o > ONSET_MS]
    extra = [(x, o) for x, o in zip(rel_l, off_l) if o > ONSET_MS]
    if late:
        failures.append("%d of the rendering's %d onsets have none within %.0f ms in the recording (first at %.0f ms)"
                        % (len(late), len(rel_r), ONSET_MS, late[0][0]))
    if extra:
        failures.append("%d of the recording's %d onsets have none within %.0f ms in the rendering (first at %.0f ms)"
                        % (len(extra), len(rel_l), ONSET_MS, extra[0][0]))
    for f in failures:
        print("not so: " + f)  # the caller, which may play again, says whether it fails
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
