"""What a pipe sink rendered and when: the bytes and read times that
sink_reader.py wrote, and the test sound's words found in them.

The sink renders in real time and writes each block as it begins to render
it, so a read that returns at once gives its first byte's render time; a
reader that was late gets blocks that were written earlier. The render time
of byte b is b / rate + t0, with t0 the earliest "read time less the bytes
before the read" of the reads within a second of it.
"""

import array
import bisect

RATE = 44100
FRAME = 4  # 16-bit stereo
# The level at which a meter lights its first spot: 1/120 of full scale.
SPOT = 32768 // 120
SPAN_NS = 1_000_000_000


class Rendered:
    def __init__(self, raw_path, times_path):
        data = array.array("h")
        with open(raw_path, "rb") as f:
            raw = f.read()
        data.frombytes(raw[: len(raw) // FRAME * FRAME])
        self.left, self.right = data[0::2], data[1::2]
        self.reads = []  # (first frame of the read, read time)
        before = 0
        with open(times_path) as f:
            for line in f:
                parts = line.split()
                if len(parts) != 2:
                    continue
                total, ns = int(parts[0]), int(parts[1])
                self.reads.append((before // FRAME, ns - before // FRAME * 1_000_000_000 // RATE))
                before = total
        self.firsts = [r[0] for r in self.reads]
        self.starts = [r[1] + r[0] * 1_000_000_000 // RATE for r in self.reads]

    def time_of(self, frame):
        """CLOCK_MONOTONIC ns at which the frame was rendered."""
        if not self.reads:
            raise ValueError("no reads")
        k = max(0, bisect.bisect_right(self.firsts, frame) - 1)
        t = self.starts[k]
        lo = bisect.bisect_left(self.starts, t - SPAN_NS)
        hi = bisect.bisect_right(self.starts, t + SPAN_NS)
        t0 = min(r[1] for r in self.reads[lo:hi])
        return t0 + frame * 1_000_000_000 // RATE

    def frame_at(self, ns):
        """The first frame rendered at or after that time (len when none)."""
        lo, hi = 0, len(self.left)
        while lo < hi:
            mid = (lo + hi) // 2
            if self.time_of(mid) < ns:
                lo = mid + 1
            else:
                hi = mid
        return lo


def word(samples, start, threshold=SPOT, gap_frames=RATE // 2):
    """(onset, end) frames of the first sound at or after start in one
    channel: from the first sample at or above the threshold to the last one
    before a pause of gap_frames; None when there is none."""
    n = len(samples)
    i = start
    while i < n and abs(samples[i]) < threshold:
        i += 1
    if i == n:
        return None
    onset = last = i
    while i < n and i - last < gap_frames:
        if abs(samples[i]) >= threshold:
            last = i
        i += 1
    return onset, last + 1


def loudest(samples, onset, end, window=RATE // 20, step=RATE // 1000):
    """The first frame of the loudest window (by energy) within the word."""
    best, best_at = -1.0, onset
    squares = [float(v) * v for v in samples[onset:end]]
    prefix = [0.0]
    for s in squares:
        prefix.append(prefix[-1] + s)
    for i in range(0, max(1, len(squares) - window + 1), step):
        e = prefix[min(i + window, len(squares))] - prefix[i]
        if e > best:
            best, best_at = e, onset + i
    return best_at
