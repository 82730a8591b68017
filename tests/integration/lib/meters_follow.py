#!/usr/bin/env python3
"""Whether a row's meters followed what its pipe sink rendered.

Usage: meters_follow.py RAW TIMES SHOTS WAVE [--dark-after MS]

RAW and TIMES are what sink_reader.py wrote for the sink; SHOTS has a line
"<start ns> <end ns> <left lit> <right lit>" per screen read of the row's
meters (CLOCK_MONOTONIC; lit: 1 when any spot of that meter was lit). The
sink rendered one word on the left channel and then one on the right: the
samples of WAVE, a 16-bit stereo file. Each meter must have been seen lit by
a read made wholly while its word was rendered, and every read that began MS
(default 100) or more after the end of the file's samples (the silence at
its end included: the meters show it, and their peak marks stay until the
sound ends) must show both meters dark; there must be such a read. Exit code
0 when all holds, 1 with the reasons on standard error.
"""
import array
import sys
import wave

from rendered import Rendered, word


def wave_samples(path):
    """Left and right samples of a 16-bit stereo wave file."""
    with wave.open(path) as w:
        data = array.array("h")
        data.frombytes(w.readframes(w.getnframes()))
    return data[0::2], data[1::2]


def main():
    args = sys.argv[1:]
    dark_after_ms = 100
    if "--dark-after" in args:
        k = args.index("--dark-after")
        dark_after_ms = int(args[k + 1])
        del args[k : k + 2]
    if len(args) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    sink = Rendered(args[0], args[1])
    shots = []
    with open(args[2]) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 4:
                shots.append(tuple(int(p) for p in parts))
    failures = []
    words = []
    for name, samples, column in (("left", sink.left, 2), ("right", sink.right, 3)):
        found = word(samples, words[-1][1] if words else 0)
        if found is None:
            failures.append("the sink rendered no %s word" % name)
            continue
        words.append(found)
        onset, end = sink.time_of(found[0]), sink.time_of(found[1])
        inside = [s for s in shots if s[0] >= onset and s[1] <= end]
        if not any(s[column] for s in inside):
            failures.append("the %s meter was not seen lit in %d reads while the %s word was "
                            "rendered (%.0f ms)" % (name, len(inside), name, (end - onset) / 1e6))
    sounding = [i for i in range(len(sink.left)) if sink.left[i] or sink.right[i]]
    left, right = wave_samples(args[3])
    first = next((i for i in range(len(left)) if left[i] or right[i]), None)
    if len(words) == 2 and sounding and first is not None:
        last = sink.time_of(sounding[0] - first + len(left))
        after = [s for s in shots if s[0] >= last + dark_after_ms * 1_000_000]
        if not after:
            failures.append("no screen read began %d ms after the sound's end" % dark_after_ms)
        for s in after:
            if s[2] or s[3]:
                failures.append("a meter was lit %.0f ms after the sound's end" %
                                ((s[0] - last) / 1e6))
                break
    for f in failures:
        print("meters_follow: " + f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
