#!/usr/bin/env python3
"""Compares what a sink's monitor recorded with the wave file that was played.

Usage: match_recording.py FILE.wav RECORDING.raw [--silent OTHER.raw ...]
                          [--exact]

FILE is 16-bit stereo; the recordings are raw s16le stereo at the file's rate.
The recording is aligned to the file by correlation near its onset;
then, over the whole file:
  - each channel correlates with the same channel of the file (>= 0.99) and
    not with the other one (left stays left, right stays right);
  - the sound lasts as long as the file's, within 50 ms.
Every --silent recording must hold nothing but near silence.
--exact requires every sample of the file, in order, from where the recording
aligns. --exact-after-head does too, but for the silence the monitor records
in place of at most HEAD_LOSS frames at the start (see below).
Prints one line of figures; exits 1 when a check fails.
"""

import array
import math
import sys

from recordings import read_raw, silence_failures, take_silent
import wave

THRESHOLD = 1000  # onset and end of the sound
SEARCH = 64  # frames around the onset searched for the best alignment
HEAD_LOSS = 1500  # frames a monitor may miss at the start of a stream
MIN_CORRELATION = 0.99
LENGTH_TOLERANCE_MS = 50.0


def read_wave(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2 or w.getnchannels() != 2:
            sys.exit(f"{path}: not 16-bit stereo")
        rate = w.getframerate()
        data = array.array("h", w.readframes(w.getnframes()))
    return rate, data[0::2], data[1::2]


def span(left, right):
    """First and last frame louder than the threshold, or None."""
    loud = [i for i in range(len(left)) if abs(left[i]) > THRESHOLD or abs(right[i]) > THRESHOLD]
    return (loud[0], loud[-1]) if loud else None


def correlation(a, b, lag, n):
    """Normalised correlation of a[lag + i] with b[i], i < n."""
    sab = saa = sbb = 0
    for i in range(n):
        x = a[lag + i]
        y = b[i]
        sab += x * y
        saa += x * x
        sbb += y * y
    return sab / math.sqrt(saa * sbb) if saa and sbb else 0.0


def main():
    args = sys.argv[1:]
    silent = take_silent(args)
    exact = "--exact" in args
    if exact:
        args.remove("--exact")
    after_head = "--exact-after-head" in args
    if after_head:
        args.remove("--exact-after-head")
        exact = True
    if len(args) != 2:
        sys.exit(__doc__)
    rate, file_l, file_r = read_wave(args[0])
    rec_l, rec_r = read_raw(args[1])
    failures = []

    file_span = span(file_l, file_r)
    rec_span = span(rec_l, rec_r)
    if rec_span is None:
        print("match_recording: the recording holds no sound")
        return 1
    n = len(file_l)
    # A null sink's monitor can miss the first milliseconds of a stream that
    # starts on it (the server's own player meets the same), so the recorded
    # onset may lie up to HEAD_LOSS frames after where the file begins: a
    # stretch from the middle of the file finds the alignment first.
    onset = rec_span[0] - file_span[0]
    mid = file_span[0] + (file_span[1] - file_span[0]) // 2
    width = min(1000, n - mid)
    coarse, guess = None, onset
    for lag in range(max(0, onset - HEAD_LOSS), onset + SEARCH + 1):
        if lag + mid + width > len(rec_l):
            break
        s = sum(rec_l[lag + mid + i] * file_l[mid + i] + rec_r[lag + mid + i] * file_r[mid + i]
                for i in range(0, width, 2))
        if coarse is None or s > coarse:
            coarse, guess = s, lag
    best, best_lag = None, guess
    for lag in range(max(0, guess - SEARCH), guess + SEARCH + 1):
        if lag + n > len(rec_l):
            break
        s = sum(rec_l[lag + i] * file_l[i] + rec_r[lag + i] * file_r[i] for i in range(0, n, 7))
        if best is None or s > best:
            best, best_lag = s, lag
    if exact:
        # Sampled correlation can settle a frame or two beside the true
        # alignment; an unchanged copy matches the middle of the file exactly.
        def matches(lag):
            return (
                lag + mid + width <= len(rec_l)
                and rec_l[lag + mid : lag + mid + width] == file_l[mid : mid + width]
                and rec_r[lag + mid : lag + mid + width] == file_r[mid : mid + width]
            )

        if not matches(best_lag):
            best_lag = next(
                (lag for lag in range(max(0, onset - HEAD_LOSS), onset + SEARCH + 1) if matches(lag)),
                best_lag,
            )
    if best_lag + n > len(rec_l):
        print(f"match_recording: the recording ends {best_lag + n - len(rec_l)} frames early")
        return 1

    ll = correlation(rec_l, file_l, best_lag, n)
    rr = correlation(rec_r, file_r, best_lag, n)
    lr = correlation(rec_l, file_r, best_lag, n)
    rl = correlation(rec_r, file_l, best_lag, n)
    file_ms = (file_span[1] - file_span[0]) * 1000.0 / rate
    rec_ms = (rec_span[1] - rec_span[0]) * 1000.0 / rate
    print(
        f"match_recording: onset at {best_lag * 1000.0 / rate:.1f} ms, correlation "
        f"L {ll:.4f} R {rr:.4f} (crossed {lr:.3f} {rl:.3f}), "
        f"sound {rec_ms:.1f} ms for {file_ms:.1f} ms"
    )
    if ll < MIN_CORRELATION or rr < MIN_CORRELATION:
        failures.append("a channel does not match the file")
    if abs(lr) > 0.5 or abs(rl) > 0.5:
        failures.append("the channels are crossed")
    if abs(rec_ms - file_ms) > LENGTH_TOLERANCE_MS:
        failures.append(f"the sound's length differs by more than {LENGTH_TOLERANCE_MS:g} ms")
    if exact:
        differ = [
            i
            for i in range(n)
            if rec_l[best_lag + i] != file_l[i] or rec_r[best_lag + i] != file_r[i]
        ]
        # The head the monitor missed: leading frames recorded as silence.
        head = 0
        if after_head:
            while (
                head < min(len(differ), HEAD_LOSS)
                and differ[head] == head
                and rec_l[best_lag + head] == 0
                and rec_r[best_lag + head] == 0
            ):
                head += 1
            print(f"match_recording: the monitor missed the first {head} frames")
            differ = differ[head:]
        if differ:
            failures.append(
                f"{len(differ)} of {n} frames differ from the file, the first at frame {differ[0]}"
            )
    failures += silence_failures(silent)
    for f in failures:
        print(f"match_recording: {f}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
