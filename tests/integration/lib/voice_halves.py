#!/usr/bin/env python3
"""Checks that a recording holds the test sound: "left" on the left channel,
then "right" on the right one.

Usage: voice_halves.py RECORDING.raw [--silent OTHER.raw ...]

Recordings are raw s16le stereo. The sound is the span between the first and
the last frame louder than a threshold; in its first half the left channel
must carry at least 10 dB more energy than the right one, in its second half
the right channel 10 dB more than the left. Every --silent recording must
hold nothing but near silence. Prints the figures; exits 1 when a check fails.
"""

import math
import sys

from recordings import read_raw, silence_failures, take_silent

THRESHOLD = 1000
MIN_MS = 500


def energy_db(samples):
    total = sum(float(v) * v for v in samples)
    return 10 * math.log10(total / len(samples)) if total > 0 else -200.0


def main():
    args = sys.argv[1:]
    silent = take_silent(args)
    if len(args) != 1:
        sys.exit(__doc__)
    left, right = read_raw(args[0])
    loud = [i for i in range(len(left)) if abs(left[i]) > THRESHOLD or abs(right[i]) > THRESHOLD]
    failures = []
    if not loud or (loud[-1] - loud[0]) * 1000 / 44100 < MIN_MS:
        print(f"voice_halves: {args[0]} holds no voice")
        return 1
    first, last = loud[0], loud[-1] + 1
    middle = (first + last) // 2
    l1, r1 = energy_db(left[first:middle]), energy_db(right[first:middle])
    l2, r2 = energy_db(left[middle:last]), energy_db(right[middle:last])
    print(
        f"voice_halves: {(last - first) * 1000 / 44100:.0f} ms of sound; first half "
        f"L {l1:.1f} R {r1:.1f} dB, second half L {l2:.1f} R {r2:.1f} dB"
    )
    if l1 - r1 < 10:
        failures.append("the first half is not on the left")
    if r2 - l2 < 10:
        failures.append("the second half is not on the right")
    failures += silence_failures(silent)
    for f in failures:
        print(f"voice_halves: {f}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
