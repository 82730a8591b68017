"""Reading the raw 16-bit stereo recordings of a sink's monitor, and the
--silent recordings the recording checks take."""

import array


def read_raw(path):
    data = array.array("h")
    with open(path, "rb") as f:
        raw = f.read()
    data.frombytes(raw[: len(raw) // 4 * 4])
    return data[0::2], data[1::2]


def take_silent(args):
    """Removes every "--silent PATH" from args and returns the paths."""
    silent = []
    while "--silent" in args:
        k = args.index("--silent")
        silent.append(args[k + 1])
        del args[k : k + 2]
    return silent


def silence_failures(paths):
    """A failure text for each recording that holds more than near silence."""
    failures = []
    for path in paths:
        left, right = read_raw(path)
        peak = max((abs(v) for v in list(left) + list(right)), default=0)
        if peak > 64:
            failures.append(f"{path} is not silent (peak {peak})")
    return failures
