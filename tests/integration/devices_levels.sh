#!/usr/bin/env bash
# tessaline-devices --levels records every input of a real sound server with
# the capture component and reports each channel's peak: a sine at half scale
# reads -6.0 dBFS, a quarter-scale one -12.0 dBFS.
set -euo pipefail
bin=$1
root=$2
tool="$root/tools/sound-server"

work=$(mktemp -d /tmp/tessaline-levels.XXXXXX)
cleanup() {
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "devices_levels: $*" >&2
  exit 1
}

PULSE_SERVER=$("$tool" start "$work/server" --sink "Null Out" --sine "Half Scale" 440 0.5 \
  --sine "Quarter Scale" 1000 0.25)
export PULSE_SERVER
unset TESSALINE_AUDIO

"$bin/tessaline-devices" --levels 2 >"$work/out.txt" 2>"$work/err.txt" ||
  fail "exit code $?: $(cat "$work/err.txt")"
cat "$work/out.txt"

# near <line> <expected dBFS>: both channels of the line within 0.3 dB.
near() {
  awk -v want="$2" '
    { for (i = 1; i <= NF; i++) if ($i == "L" || $i == "R") { v[$i] = $(i + 1) } }
    END {
      if (!("L" in v) || !("R" in v)) exit 1
      for (c in v) { d = v[c] - want; if (d < -0.3 || d > 0.3) exit 1 }
    }' <<<"$1"
}
half=$(grep -F "Half Scale" "$work/out.txt") || fail "no Half Scale line"
quarter=$(grep -F "Quarter Scale" "$work/out.txt") || fail "no Quarter Scale line"
near "$half" -6.0 || fail "half scale reads: $half"
near "$quarter" -12.0 || fail "quarter scale reads: $quarter"
grep -q "^Input Drivers: 2$" "$work/out.txt" || fail "wrong input count"
echo "devices_levels: ok"
