#!/usr/bin/env python3
"""Tone files with one frequency per channel, and what a pipe sink made of them.

Usage: tones.py [--from BYTES] COMMAND ...
  --from reads a sink's file from that byte on (rounded down to a whole frame):
  what a reader that runs on rendered since then.

  tones.py make OUT.wav RATE SECONDS MASK HZ...
      16-bit PCM, one sine of HZ per channel (a quarter of full scale, from
      phase 0). MASK "plain" writes the plain PCM header, a number (0x...)
      the extensible header with that channel mask.
  tones.py ended RAW TIMES CHANNELS
      Exit code 0 when the sink's file (raw s16le, CHANNELS interleaved, read
      by sink_reader.py, which wrote TIMES) holds sound followed by at least a
      quarter of a second of silence, or, from a sink that renders only while
      a stream plays, sound and nothing more for half a second.
  tones.py levels RAW CHANNELS HZ... -- EXPECT...
      Measures each HZ on each sink channel over the middle of the sound.
      EXPECT is C:HZ (the tone is heard on sink channel C), C:HZ? (it may be),
      =HZ (where it is heard, it is heard equally, within 3 dB, and on no
      channel alone), C:* (channel C is not looked at). Every other tone must
      be absent from every channel looked at. Exit code 0 when it all holds,
      else 1 with what differs; the table of levels goes to standard output.
  tones.py pitch RAW CHANNELS MS HZ...
      The sound lasts MS milliseconds (within 3 ms) and channel k of it has
      the frequency HZ[k] (within 1 %, counted from its zero crossings).
"""
import array
import math
import struct
import sys
import time

SINK_RATE = 44100
AMPLITUDE = 0.25
HEARD_DB = -45.0  # a tone quieter than this is not heard
ABSENT_DB = -70.0  # a tone that is absent is quieter than this
BALANCE_DB = 3.0
SUBFORMAT_PCM = bytes.fromhex("0100000000001000800000aa00389b71")


def make(path, rate, seconds, mask, freqs):
    channels = len(freqs)
    frames = int(round(rate * seconds))
    samples = array.array("h", bytes(2 * channels * frames))
    for c, f in enumerate(freqs):
        step = 2 * math.pi * f / rate
        for i in range(frames):
            samples[i * channels + c] = int(round(32767 * AMPLITUDE * math.sin(step * i)))
    if sys.byteorder != "little":
        samples.byteswap()
    data = samples.tobytes()
    block = 2 * channels
    if mask == "plain":
        fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * block, block, 16)
    else:
        fmt = struct.pack("<HHIIHHHHI", 0xFFFE, channels, rate, rate * block, block, 16, 22, 16,
                          int(mask, 0)) + SUBFORMAT_PCM
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + \
        struct.pack("<I", len(data)) + data
    with open(path, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", len(body)) + body)


def read(path, channels, start=0):
    with open(path, "rb") as f:
        f.seek(start - start % (2 * channels))
        raw = f.read()
    samples = array.array("h")
    samples.frombytes(raw[: len(raw) // (2 * channels) * 2 * channels])
    if sys.byteorder != "little":
        samples.byteswap()
    return [samples[c::channels] for c in range(channels)]


def sounding_span(chans, threshold=0):
    """(first, end) of the frames from the first one above threshold to the last."""
    first, end = None, 0
    for ch in chans:
        loud = [i for i, s in enumerate(ch) if abs(s) > threshold]
        if loud:
            first = loud[0] if first is None else min(first, loud[0])
            end = max(end, loud[-1] + 1)
    return (first, end) if first is not None else (0, 0)


def ended(path, times_path, channels, start):
    chans = read(path, channels, start)
    first, end = sounding_span(chans)
    if end <= first:
        return False
    if len(chans[0]) - end >= SINK_RATE // 4:
        return True
    with open(times_path) as times:
        lines = times.read().split()
    return len(lines) >= 2 and time.monotonic_ns() - int(lines[-1]) > 500_000_000


def level_db(samples, freq):
    """The level of a sine of freq in samples (dBFS of its peak), Hann-windowed."""
    n = len(samples)
    coeff = 2 * math.cos(2 * math.pi * freq / SINK_RATE)
    s1 = s2 = 0.0
    scale = 2 * math.pi / (n - 1)
    for i, x in enumerate(samples):
        s0 = x * (0.5 - 0.5 * math.cos(scale * i)) + coeff * s1 - s2
        s2, s1 = s1, s0
    power = s1 * s1 + s2 * s2 - coeff * s1 * s2
    # The Hann window's coherent gain is 1/2.
    peak = 2 * math.sqrt(max(power, 0.0)) / (n * 0.5) / 32768
    return 20 * math.log10(peak) if peak > 0 else -200.0


def levels(path, channels, freqs, expects, start):
    chans = read(path, channels, start)
    first, end = sounding_span(chans)
    if end - first < SINK_RATE // 4:
        return "the sink rendered %d frames of sound" % (end - first)
    # The middle of the sound: away from where it begins and ends.
    margin = (end - first) // 5
    middle = [ch[first + margin:end - margin] for ch in chans]
    table = {(c, f): level_db(middle[c], f) for c in range(channels) for f in freqs}
    print("Hz    " + " ".join("ch%-6d" % c for c in range(channels)))
    for f in freqs:
        print("%-5g " % f + " ".join("%-8.1f" % table[(c, f)] for c in range(channels)))
    heard, maybe, balanced, skipped = set(), set(), set(), set()
    for e in expects:
        if e.startswith("="):
            balanced.add(float(e[1:]))
            continue
        c, what = e.split(":")
        if what == "*":
            skipped.add(int(c))
        elif what.endswith("?"):
            maybe.add((int(c), float(what[:-1])))
        else:
            heard.add((int(c), float(what)))
    problems = []
    for c in range(channels):
        if c in skipped:
            continue
        for f in freqs:
            db = table[(c, f)]
            if (c, f) in heard and db < HEARD_DB:
                problems.append("%g Hz is not heard on channel %d (%.1f dB)" % (f, c, db))
            if (c, f) not in heard and (c, f) not in maybe and db > ABSENT_DB:
                problems.append("%g Hz is heard on channel %d (%.1f dB)" % (f, c, db))
    for f in balanced:
        on = [table[(c, f)] for c in range(channels) if c not in skipped]
        loud = [db for db in on if db > ABSENT_DB]
        if loud and (len(loud) < 2 or max(on) - min(on) > BALANCE_DB):
            problems.append("%g Hz is not heard equally: %s dB" %
                            (f, ", ".join("%.1f" % db for db in on)))
    return "; ".join(problems) or None


def crossing_rate(samples):
    """The frequency of a sine from its rising zero crossings (interpolated)."""
    times = []
    for i in range(1, len(samples)):
        a, b = samples[i - 1], samples[i]
        if a < 0 <= b:
            times.append(i - 1 + a / (a - b))
    if len(times) < 2:
        return 0.0
    return (len(times) - 1) * SINK_RATE / (times[-1] - times[0])


def pitch(path, channels, ms, freqs, start):
    chans = read(path, channels, start)
    peak = max(max(abs(s) for s in ch) for ch in chans)
    # Above a twentieth of the peak: the resampler's ringing before and after
    # the sound stays below it.
    first, end = sounding_span(chans, peak / 20)
    problems = []
    length = (end - first) * 1000 / SINK_RATE
    print("length %.1f ms" % length)
    if abs(length - ms) > 3:
        problems.append("the sound lasts %.1f ms, not %g" % (length, ms))
    margin = SINK_RATE // 100
    for c, f in enumerate(freqs):
        measured = crossing_rate(chans[c][first + margin:end - margin])
        print("channel %d: %.2f Hz" % (c, measured))
        if abs(measured - f) > f / 100:
            problems.append("channel %d plays %.2f Hz, not %g" % (c, measured, f))
    return "; ".join(problems) or None


def main():
    args = sys.argv[1:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    start = 0
    if args[:1] == ["--from"] and len(args) >= 2:
        start, args = int(args[1]), args[2:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    command, rest = args[0], args[1:]
    if command == "make" and len(rest) >= 5:
        make(rest[0], int(rest[1]), float(rest[2]), rest[3], [float(f) for f in rest[4:]])
        return 0
    if command == "ended" and len(rest) == 3:
        return 0 if ended(rest[0], rest[1], int(rest[2]), start) else 1
    if command == "levels" and "--" in rest and len(rest) >= 4:
        split = rest.index("--")
        problem = levels(rest[0], int(rest[1]), [float(f) for f in rest[2:split]],
                         rest[split + 1:], start)
    elif command == "pitch" and len(rest) >= 4:
        problem = pitch(rest[0], int(rest[1]), float(rest[2]), [float(f) for f in rest[3:]],
                        start)
    else:
        print(__doc__, file=sys.stderr)
        return 2
    if problem:
        print("tones: " + problem, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
