#!/usr/bin/env bash
# The program under a real X server with a private sound server: the meters of
# each input row show that device's live level, the left meter the left
# channel and the right meter the right one. A sine at half scale (-6 dBFS)
# lights 60 of the 120 spots, one at a tenth of full scale (-20 dBFS) 12; the
# third input plays -6 dBFS left and -20 dBFS right. Rows without a device
# stay dark.
set -euo pipefail
bin=$1
root=$2
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/meters.bash"
source "$root/tests/integration/lib/script.bash"
tool="$root/tools/sound-server"

begin_test input_meters
feeder=""
on_cleanup() {
  [ -z "$feeder" ] || kill "$feeder" 2>/dev/null || true
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
}

PULSE_SERVER=$("$tool" start "$work/server" --sink "Null Out" --sine "Half Scale" 440 0.5 \
  --sine "Tenth Scale" 1000 0.1 --pipe "Unequal")
export PULSE_SERVER
# The pipe source plays what is written to it: 0.1 s of a 440 Hz sine at
# -6 dBFS left and -20 dBFS right, written a little faster than it plays.
sox -n -r 44100 -b 16 -e signed-integer -c 2 -t raw "$work/chunk.raw" \
  synth 0.1 sine 440 sine 440 remix 1v0.5 2v0.1
(while cat "$work/chunk.raw"; do sleep 0.09; done) >"$work/server/pipe1" 2>/dev/null &
feeder=$!
unset TESSALINE_AUDIO
export XDG_CONFIG_HOME="$work/config"
start_xvfb 1600x1000x24

start_program "$work/out.log"
# The info window opens over the middle rows; the user closes it first.
close_info_window || fail "the info window did not close"

within() { [ "$1" -ge $(($2 - 1)) ] && [ "$1" -le $(($2 + 1)) ]; }

# The meters settle within a few buffers; look until they read right.
readings=""
shot="$work/shot.png"
for _ in $(seq 1 100); do
  import -window "$wid" "$shot"
  readings=""
  for point in 69,88 69,118 69,160 69,190 69,224 69,254 69,291 69,321 386,88; do
    readings+="$(lit "$shot" ${point/,/ }) "
  done
  read -r a b c d e f g h i <<<"$readings"
  if within "$a" 60 && within "$b" 60 && within "$c" 12 && within "$d" 12 &&
    within "$e" 60 && within "$f" 12 && [ "$g" = 0 ] && [ "$h" = 0 ] && [ "$i" = 0 ]; then
    echo "input_meters: ok (${readings% })"
    exit 0
  fi
  sleep 0.2
done
cp "$work/shot.png" /tmp/input_meters-failed.png 2>/dev/null || true
fail "meters read $readings (want 60 60 12 12 60 12 0 0 0); picture in /tmp/input_meters-failed.png"
