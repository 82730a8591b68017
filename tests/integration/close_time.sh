#!/usr/bin/env bash
# The program closes within half a second of its close button with nine
# inputs recording (bench/close-time, two rounds, the info window open). The
# sanitizers' builds close slower and get 1.5 s.
set -euo pipefail
bin=$1
root=$2
limit=0.5
if ldd "$bin/tessaline" | grep -q 'libasan\|libtsan'; then limit=1.5; fi
CLOSE_TIME_ROUNDS=2 CLOSE_TIME_LIMIT=$limit "$root/bench/close-time" "$(dirname "$bin")"
