#!/usr/bin/env bash
# tessaline-devices.exe --check under Wine over a loopback cable (a remapped
# monitor of the sink it plays on), through the sound-buffer output and the
# wave output: both ok, the left word on L and the right one on R, as on
# Linux, with a delay that holds from run to run. Wine numbers the devices
# anew in every process, so the check names them.
set -euo pipefail
bin=$1 # the Windows build's app folder
root=$2
tool="$root/tools/sound-server"
wine_run="$root/tools/wine-run"
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.bash"

work=$(mktemp -d /tmp/tessaline-wine-check.XXXXXX)
cleanup() {
  "$wine_run" --stop "$work/prefix" >/dev/null 2>&1 || true
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "windows_loopback_check: $*" >&2
  exit 1
}

PULSE_SERVER=$("$tool" start "$work/server" --sink "Speakers")
export PULSE_SERVER PULSE_CLIENTCONFIG="$work/server/client.conf" PULSE_COOKIE="$work/server/cookie"
unset TESSALINE_AUDIO
pactl load-module module-remap-source source_name=cable1 master=sink1.monitor \
  source_properties=device.description=Cable >/dev/null
start_xvfb 640x480x24 || fail "no X server for Wine"
"$wine_run" --start "$work/prefix" || fail "Wine did not start"

# Three runs through each output: the verdict each time, and delays within
# 4 ms of each other (6 ms through the wave output, whose input and output
# positions Wine moves in 10 ms steps at irregular times). Wine's streams keep their own period here (the other
# tests' 100 ms makes Wine's input deliver in bursts of up to a quarter
# second, which no position can see through).
export PULSE_LATENCY_MSEC=
for output in sound-buffer wave; do
  flag=()
  [ "$output" = wave ] && flag=(--wave)
  for run in 1 2 3; do
    rc=0
    "$wine_run" "$work/prefix" "$bin/tessaline-devices.exe" --check Speakers Cable --json \
      "${flag[@]}" >"$work/$output$run.json" 2>"$work/$output$run.err" || rc=$?
    python3 - "$work/$output$run.json" "$rc" <<'PY' ||
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["verdict"] == "ok" and int(sys.argv[2]) == 0, doc
assert doc["words"]["left"]["heard"] == ["left"] and doc["words"]["right"]["heard"] == ["right"], doc
assert doc["delay_ms"] is not None and doc["delay_ms"] > 0, doc
PY
      fail "$output, run $run: $(cat "$work/$output$run.json" "$work/$output$run.err")"
    cat "$work/$output$run.json"
  done
  spread=4
  [ "$output" = wave ] && spread=6
  python3 - "$work" "$output" "$spread" <<'PY' || fail "$output: delays spread"
import json, sys
delays = [json.load(open(f"{sys.argv[1]}/{sys.argv[2]}{n}.json"))["delay_ms"] for n in (1, 2, 3)]
print(sys.argv[2], "delays", delays)
assert max(delays) - min(delays) <= float(sys.argv[3]), delays
PY
done
echo "windows_loopback_check: ok"
