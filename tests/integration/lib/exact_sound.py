#!/usr/bin/env python3
"""Whether a sink rendered a wave file's samples exactly.

Usage: exact_sound.py WAVE RENDERED [--quiet]

RENDERED is what a pipe sink wrote (raw, in the wave's own format: 16-bit
stereo at 44100 Hz). It must be silence (zeros), then exactly the samples of
the wave's data chunk from its first non-zero frame to its last, then only
silence: no sample before the first or after the last, none changed. Exit
code 0 when it holds, 1 with the first difference on standard error.
"""
import array
import sys
import wave


def frames(data, channels):
    """The samples as a list of frames (tuples of one sample per channel)."""
    return [tuple(data[i:i + channels]) for i in range(0, len(data) - channels + 1, channels)]


def sounding_span(fr):
    """(first, end) of the frames from the first non-zero one to the last."""
    loud = [i for i, f in enumerate(fr) if any(f)]
    return (loud[0], loud[-1] + 1) if loud else (0, 0)


def check(wave_path, rendered_path):
    with wave.open(wave_path) as w:
        if w.getsampwidth() != 2:
            return "the wave is not 16-bit"
        channels = w.getnchannels()
        ref = array.array("h", w.readframes(w.getnframes()))
    raw = open(rendered_path, "rb").read()
    got = array.array("h")
    got.frombytes(raw[: len(raw) // (2 * channels) * 2 * channels])
    if sys.byteorder != "little":
        ref.byteswap()
        got.byteswap()
    ref_frames, got_frames = frames(ref, channels), frames(got, channels)
    r0, r1 = sounding_span(ref_frames)
    g0, g1 = sounding_span(got_frames)
    if g1 == 0:
        return "the sink rendered only silence (%d frames)" % len(got_frames)
    want, have = ref_frames[r0:r1], got_frames[g0:g1]
    for i in range(min(len(want), len(have))):
        if want[i] != have[i]:
            return "frame %d of the sound (rendered frame %d) is %s, the file has %s" % (
                r0 + i, g0 + i, have[i], want[i])
    if len(have) != len(want):
        return "the sink rendered %d frames from the first sounding one to the last, the file " \
               "has %d" % (len(have), len(want))
    return None


def main():
    args = [a for a in sys.argv[1:] if a != "--quiet"]
    if len(args) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    problem = check(args[0], args[1])
    if problem:
        if "--quiet" not in sys.argv:
            print("exact_sound: " + problem, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
