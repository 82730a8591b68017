#!/usr/bin/env python3
"""bench/row-sync's analysis: the offsets between what each pipe sink
rendered and what its row's meters showed.

Usage: row_sync.py RUN_FOLDER LABEL

RUN_FOLDER holds sink<N>.raw and sink<N>.times (sink_reader.py), meters.log
(live_feed meters: "<previous look> <look> <reading>..." with two readings,
left and right, per row) and presses ("<row> <sink> <ns>" per press). For
each press and each word (left channel: "left", right channel: "right"):
  onset  the first look that saw the word's meter lit, less the render time
         of the word's first frame at or above one spot's level;
  peak   the first look that saw the meter's highest reading for the word,
         against the render times of the word's loudest 50 ms (by energy):
         0 when the look falls within them, else the distance to the nearer
         edge (positive: after the end, negative: before the start). A peak
         meter tops out at some slice inside that window and its spot steps
         blur which one, so the window, not one point in it, is the target.
A look's time is the middle between it and the look before (the change came
between them). Prints one line per row and kind: n, median |offset|, p95
|offset| and the median signed offset (positive: the meter is late), in ms.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "integration", "lib"))
from rendered import RATE, Rendered, loudest, word  # noqa: E402

SETTLE_NS = 300_000_000
LOUD_FRAMES = RATE // 20


def outside(t, window):
    """How far t lies outside [start, end]: 0 within, negative before."""
    start, end = window
    return t - start if t < start else t - end if t > end else 0


def meter_looks(path):
    looks = []
    with open(path) as f:
        for line in f:
            parts = [int(p) for p in line.split()]
            if len(parts) >= 3:
                looks.append(((parts[0] + parts[1]) // 2, parts[2:]))
    return looks


def percentile(values, p):
    s = sorted(values)
    k = max(0, min(len(s) - 1, int(-(-p * len(s) // 1)) - 1))
    return s[k]


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    folder, label = sys.argv[1], sys.argv[2]
    looks = meter_looks(os.path.join(folder, "meters.log"))
    presses = []
    with open(os.path.join(folder, "presses")) as f:
        for line in f:
            row, sink, ns = (int(p) for p in line.split())
            presses.append((row, sink, ns))
    sinks = {}
    offsets = {}  # (row, kind) -> [ms]
    problems = 0
    for row, sink, pressed in presses:
        if sink not in sinks:
            sinks[sink] = Rendered(os.path.join(folder, "sink%d.raw" % sink),
                                   os.path.join(folder, "sink%d.times" % sink))
        rendered = sinks[sink]
        start = rendered.frame_at(pressed)
        for channel, samples in ((0, rendered.left), (1, rendered.right)):
            found = word(samples, start)
            if found is None:
                problems += 1
                continue
            onset_ns = rendered.time_of(found[0])
            end_ns = rendered.time_of(found[1])
            loud = loudest(samples, found[0], found[1])
            loud_ns = (rendered.time_of(loud), rendered.time_of(min(loud + LOUD_FRAMES, found[1])))
            column = 2 * (row - 1) + channel
            span = [(t, r[column]) for t, r in looks
                    if pressed <= t <= end_ns + SETTLE_NS and column < len(r)]
            lit = [t for t, v in span if v > 0]
            if not lit:
                problems += 1
                continue
            highest = max(v for t, v in span if t >= onset_ns - SETTLE_NS) if any(
                t >= onset_ns - SETTLE_NS for t, _ in span) else 0
            peak_seen = next(t for t, v in span if v == highest and t >= onset_ns - SETTLE_NS)
            offsets.setdefault((row, "onset"), []).append((lit[0] - onset_ns) / 1e6)
            offsets.setdefault((row, "peak"), []).append(outside(peak_seen, loud_ns) / 1e6)
    for (row, kind) in sorted(offsets):
        values = offsets[(row, kind)]
        magnitudes = [abs(v) for v in values]
        print("%-18s row %d %-5s n %3d  median |off| %6.1f  p95 |off| %6.1f  median %+6.1f ms" % (
            label, row, kind, len(values), percentile(magnitudes, 0.5),
            percentile(magnitudes, 0.95), percentile(values, 0.5)))
    for kind in ("onset", "peak"):
        values = [v for (r, k), vs in offsets.items() if k == kind for v in vs]
        if values:
            magnitudes = [abs(v) for v in values]
            print("%-18s all   %-5s n %3d  median |off| %6.1f  p95 |off| %6.1f  median %+6.1f ms" % (
                label, kind, len(values), percentile(magnitudes, 0.5),
                percentile(magnitudes, 0.95), percentile(values, 0.5)))
    if problems:
        print("%-18s %d words without a rendered sound or a lit meter" % (label, problems))
    return 0


if __name__ == "__main__":
    sys.exit(main())
