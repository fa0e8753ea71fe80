"""Counts how the plays that jack_midi_dump received ended (for 40-jack-e2e.sh).

  jack_dump_check.py endings DUMP PLAYS   each play ended with All Notes Off on the 16 channels
  jack_dump_check.py sweeps DUMP PLAYS    each audition ended with its whole note-off sweep,
                                          the 128 keys on each of the 16 channels

A play whose final messages were lost leaves its group out, so the count of whole groups,
and a stream that ends with one, is what is checked. Exits 1 with the counts otherwise.
"""
import sys


def timed_messages(path):
    """What jack_midi_dump printed: (its frame stamp, the bytes) per message."""
    out = []
    for line in open(path, errors="replace"):
        stamp, sep, rest = line.partition(":")
        if not sep:
            continue
        data = []
        for word in rest.split():  # the bytes in hex, then jack_midi_dump's description
            if len(word) != 2:
                break
            try:
                data.append(int(word, 16))
            except ValueError:
                break
        if data:
            out.append((int(stamp) if stamp.strip().isdigit() else 0, tuple(data)))
    return out


def monitor_steps(interval, spacing, period):
    """How many whole periods INTERVAL (frames between two stamps) falls short of SPACING by,
    to 2 frames: the cycles jack_midi_dump missed, for which its count of frames stopped.
    0 when the interval is not such a step."""
    periods = round((spacing - interval) / period)
    return periods if periods >= 1 and abs(interval + periods * period - spacing) <= 2 else 0


def messages(path):
    return [data for _, data in timed_messages(path)]


def count_groups(stream, group):
    found = i = 0
    while i + len(group) <= len(stream):
        if stream[i] == group[0] and stream[i:i + len(group)] == group:
            found += 1
            i += len(group)
        else:
            i += 1
    return found


def main():
    kind, path, plays = sys.argv[1], sys.argv[2], int(sys.argv[3])
    if kind == "endings":
        group = [(0xB0 | ch, 123, 0) for ch in range(16)]
        what = "ended with All Notes Off on the 16 channels"
    elif kind == "sweeps":
        group = [(0x80 | ch, key, 0) for ch in range(16) for key in range(128)]
        what = "ended with the whole sweep of 2048 note offs"
    else:
        sys.exit("unknown check " + kind)
    stream = messages(path)
    found = count_groups(stream, group)
    last_whole = stream[-len(group):] == group
    print("  %d of %d plays %s (%d messages)" % (found, plays, what, len(stream)))
    if found != plays or not last_whole:
        sys.exit("FAIL: %d of %d plays lost their final messages%s"
                 % (plays - found, plays, "" if last_whole else ", the last one among them"))


if __name__ == "__main__":
    main()
