#!/usr/bin/env python3
"""Whether sound moved from one pipe sink to another goes on from what the
first sink played.

Usage: row_switch.py reached WAVE RAW SECONDS
       row_switch.py ended WAVE RAW
       row_switch.py check WAVE FIRST SECOND [TOLERANCE_FRAMES]

reached: exit 0 once RAW (a pipe sink's output, 16-bit stereo at 44100 Hz)
holds the wave from its first sounding frame up to SECONDS into the file.

ended: exit 0 once RAW holds the wave's last 1024 sounding frames (a sink on
PipeWire renders only while a stream plays: no silence need follow).

check: FIRST must hold silence, the wave's samples from its first sounding
frame up to some frame S, then only silence; SECOND silence, the wave's
samples from some frame P to the wave's last sounding frame, then only
silence. Where the wave is silent around S or P the true frames may lie
earlier: the frames skipped or repeated between the two are the least
consistent with both. Holds when neither exceeds TOLERANCE_FRAMES (2049, one
8196-byte buffer, by default). Exit code 0 when it holds, 1 when it does not
(with the reason), 3 when the move came where the wave is silent, so that
continuity cannot be seen in the samples. Prints the figures.
"""
import sys
import wave

RATE = 44100
FRAME = 4
BUFFER_FRAMES = 8196 // FRAME


def load_wave(path):
    with wave.open(path) as w:
        if (w.getsampwidth(), w.getnchannels(), w.getframerate()) != (2, 2, RATE):
            raise SystemExit("row_switch: the wave is not 16-bit stereo at 44100 Hz")
        return w.readframes(w.getnframes())


def load_raw(path):
    with open(path, "rb") as f:
        raw = f.read()
    return raw[: len(raw) // FRAME * FRAME]


def first_sounding(data):
    """The first frame holding a non-zero byte; None when all is silent."""
    stripped = data.lstrip(b"\0")
    if not stripped:
        return None
    return (len(data) - len(stripped)) // FRAME


def last_sounding_end(data):
    return len(data.rstrip(b"\0") + b"\0" * (FRAME - 1)) // FRAME


def common_frames(a, b):
    """How many whole frames a and b have in common from their starts."""
    n = min(len(a), len(b))
    lo, hi = 0, n
    if a[:n] == b[:n]:
        return n // FRAME
    # a[:lo] == b[:lo] and a[:hi] != b[:hi]
    while hi - lo > 1:
        mid = (lo + hi) // 2
        if a[:mid] == b[:mid]:
            lo = mid
        else:
            hi = mid
    return lo // FRAME


def silent(data):
    return not data.strip(b"\0")


def zeros_before(ref, frame):
    """Silent frames of ref right before frame."""
    k = 0
    while frame - k > 0 and ref[(frame - k - 1) * FRAME:(frame - k) * FRAME] == b"\0" * FRAME:
        k += 1
    return k


def find_frame(ref, piece):
    at = ref.find(piece)
    while at >= 0 and at % FRAME:
        at = ref.find(piece, at + 1)
    return None if at < 0 else at // FRAME


def ms(frames):
    return "%.1f ms" % (frames * 1000.0 / RATE)


def reached(ref, raw, seconds):
    r0, g0 = first_sounding(ref), first_sounding(raw)
    if g0 is None:
        return 1
    return 0 if r0 + len(raw) // FRAME - g0 >= seconds * RATE else 1


def ended(ref, raw):
    r1 = last_sounding_end(ref)
    return 0 if find_frame(raw, ref[(r1 - 1024) * FRAME:r1 * FRAME]) is not None else 1


def check(ref, first, second, tolerance):
    r0, r1 = first_sounding(ref), last_sounding_end(ref)
    a0 = first_sounding(first)
    if a0 is None:
        print("row_switch: the first sink played nothing", file=sys.stderr)
        return 1
    played = common_frames(first[a0 * FRAME:], ref[r0 * FRAME:])
    stop = r0 + played
    if not silent(first[(a0 + played) * FRAME:]):
        print("row_switch: the first sink's sound differs from the wave's at file frame %d "
              "(%s) and is not followed by silence only" % (stop, ms(stop)), file=sys.stderr)
        return 1
    # The move can be told only where the wave sounds on both sides of it.
    if stop >= r1 or silent(ref[stop * FRAME:(stop + BUFFER_FRAMES) * FRAME]) or \
            silent(ref[max(0, stop - BUFFER_FRAMES) * FRAME:stop * FRAME]):
        print("row_switch: the first sink stopped at %s, where the wave is silent" % ms(stop))
        return 3
    b0 = first_sounding(second)
    if b0 is None:
        print("row_switch: the second sink played nothing (the first stopped at %s)" % ms(stop),
              file=sys.stderr)
        return 1
    resume = find_frame(ref, second[b0 * FRAME:(b0 + 1024) * FRAME])
    if resume is None:
        print("row_switch: the second sink's first sounding frames are nowhere in the wave",
              file=sys.stderr)
        return 1
    rest = common_frames(second[b0 * FRAME:], ref[resume * FRAME:r1 * FRAME])
    if resume + rest != r1 or not silent(second[(b0 + rest) * FRAME:]):
        print("row_switch: the second sink went on from file frame %d but differs from the wave "
              "at file frame %d (%s)" % (resume, resume + rest, ms(resume + rest)),
              file=sys.stderr)
        return 1
    skipped = max(0, resume - zeros_before(ref, resume) - stop)
    repeated = max(0, stop - zeros_before(ref, stop) - resume)
    print("row_switch: the first sink stopped at file frame %d (%s), the second went on from "
          "frame %d (%s): %d frames skipped, %d repeated (at most %d)" % (
              stop, ms(stop), resume, ms(resume), skipped, repeated, tolerance))
    if skipped > tolerance or repeated > tolerance:
        print("row_switch: more than one buffer of the sound was skipped or repeated",
              file=sys.stderr)
        return 1
    return 0


def main():
    args = sys.argv[1:]
    if len(args) == 4 and args[0] == "reached":
        return reached(load_wave(args[1]), load_raw(args[2]), float(args[3]))
    if len(args) == 3 and args[0] == "ended":
        return ended(load_wave(args[1]), load_raw(args[2]))
    if len(args) in (4, 5) and args[0] == "check":
        tolerance = int(args[4]) if len(args) == 5 else BUFFER_FRAMES
        return check(load_wave(args[1]), load_raw(args[2]), load_raw(args[3]), tolerance)
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
