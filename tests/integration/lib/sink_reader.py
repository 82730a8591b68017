#!/usr/bin/env python3
"""Reads a pipe sink's FIFO whole and notes when each piece arrived.

Usage: sink_reader.py FIFO OUT.raw OUT.times

Writes every byte read to OUT.raw and, for each read, a line
"<bytes read so far> <CLOCK_MONOTONIC ns>" to OUT.times, until it is ended
(SIGTERM or SIGINT) or the FIFO's writer goes away. The sink writes each block
as it begins to render it, so a block's first byte is rendered at the time of
the read that returned it, to within the read granularity (see rendered.py).
"""
import os
import signal
import sys
import time


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    fifo = os.open(sys.argv[1], os.O_RDONLY)
    total = 0
    with open(sys.argv[2], "wb", buffering=0) as raw, open(sys.argv[3], "w") as times:
        while True:
            try:
                data = os.read(fifo, 1 << 16)
            except KeyboardInterrupt:
                break
            now = time.monotonic_ns()
            if not data:
                break
            raw.write(data)
            total += len(data)
            times.write("%d %d\n" % (total, now))
            times.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
