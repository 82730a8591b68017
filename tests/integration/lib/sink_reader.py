#!/usr/bin/env python3
"""Reads a pipe sink's FIFO whole and notes when each piece arrived.

Usage: sink_reader.py [--paced] FIFO OUT.raw OUT.times

Writes every byte read to OUT.raw and, for each read, a line
"<bytes read so far> <CLOCK_MONOTONIC ns>" to OUT.times, until it is ended
(SIGTERM or SIGINT) or the FIFO's writer goes away. The sink writes each block
as it begins to render it, so a block's first byte is rendered at the time of
the read that returned it, to within the read granularity (see rendered.py).

--paced is for a sink paced by its reader (sound-server --paced-pipe-sink):
the reader is then the device and takes 44100 frames a second, every 2 ms
what has fallen due, so a frame is rendered when it is read. When the FIFO
holds less than is due the device has run dry: what comes later falls due
from the moment it comes.
"""
import fcntl
import os
import signal
import sys
import time

RATE = 44100
F_SETPIPE_SZ = 1031
FRAME = 4
TICK_S = 0.002


def main():
    args = sys.argv[1:]
    paced = args[:1] == ["--paced"]
    if paced:
        args = args[1:]
    if len(args) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    fifo = os.open(args[0], os.O_RDONLY)
    if not paced:
        # Room for a second or more of sound: a reader held up for a moment
        # (a loaded machine) loses nothing, and a sink never writes part of a
        # frame into a full FIFO, which would shift every channel after it.
        try:
            fcntl.fcntl(fifo, F_SETPIPE_SZ, 1 << 20)
        except OSError:
            pass
    total = 0
    origin = None  # paced: (ns, frames) from which frames fall due
    with open(args[1], "wb", buffering=0) as raw, open(args[2], "w") as times:
        while True:
            want = 1 << 16
            if paced:
                if origin is None:
                    origin = (time.monotonic_ns(), 0)
                due = origin[1] + (time.monotonic_ns() - origin[0]) * RATE // 1_000_000_000
                want = (due - total // FRAME) * FRAME
                if want <= 0:
                    time.sleep(TICK_S)
                    continue
            try:
                data = os.read(fifo, want)
            except KeyboardInterrupt:
                break
            now = time.monotonic_ns()
            if not data:
                break
            if paced and len(data) < want:
                origin = (now, (total + len(data)) // FRAME)
            raw.write(data)
            total += len(data)
            times.write("%d %d\n" % (total, now))
            times.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
