#!/usr/bin/env bash
# Under Wine, the program closes within half a second of its close button
# with nine inputs recording (bench/close-time --windows, two rounds, the
# info window open, a window manager on the X server as on a Windows desktop).
set -euo pipefail
build=$1 # the Windows build folder
root=$2
CLOSE_TIME_ROUNDS=2 CLOSE_TIME_LIMIT=0.5 "$root/bench/close-time" --windows "$build"
