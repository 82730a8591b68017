#!/usr/bin/env bash
# The program under a real X server with a private sound server of three
# sinks: the play button of row 2 puts the test sound on the second sink only,
# "left" on the left channel and then "right" on the right one, while row 2's
# meters light and row 1's stay dark; pressing row 3 while it plays moves the
# sound and the meters to the third sink and row 3.
set -euo pipefail
bin=$1
root=$2
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/monitor.bash"
source "$root/tests/integration/lib/meters.bash"
source "$root/tests/integration/lib/script.bash"
tool="$root/tools/sound-server"
here=$(cd "$(dirname "$0")" && pwd)

begin_test output_rows
shot="$work/shot.png"
# A failure keeps the last screenshot.
on_cleanup() {
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
  [ "$1" = 0 ] || [ ! -f "$work/shot.png" ] ||
    cp "$work/shot.png" /tmp/output_rows-failed.png 2>/dev/null || true
}

PULSE_SERVER=$("$tool" start "$work/server" --sink "First Out" --sink "Second Out" \
  --sink "Third Out")
export PULSE_SERVER
unset TESSALINE_AUDIO
export XDG_CONFIG_HOME="$work/config"
start_xvfb 1600x1000x24

# sounding <file> <from byte>: the recording holds sound after that byte.
sounding() {
  python3 - "$1" "$2" <<'PY'
import array, sys
data = array.array("h")
with open(sys.argv[1], "rb") as f:
    f.seek(int(sys.argv[2]))
    raw = f.read()
data.frombytes(raw[: len(raw) // 2 * 2])
sys.exit(0 if any(abs(v) > 1000 for v in data) else 1)
PY
}
# ended <file> <from byte>: after that byte the recording holds sound, and
# then a second of silence.
ended() {
  python3 - "$1" "$2" <<'PY'
import array, sys
data = array.array("h")
with open(sys.argv[1], "rb") as f:
    f.seek(int(sys.argv[2]))
    raw = f.read()
data.frombytes(raw[: len(raw) // 2 * 2])
loud = [i for i, v in enumerate(data) if abs(v) > 1000]
sys.exit(0 if loud and len(data) - loud[-1] > 88200 else 1)
PY
}

start_program "$work/out.log"
close_info_window || fail "the info window did not close"

# press <row>: the play button of that row.
press() {
  local tops=(0 88 160 224 291 357 426 490 554 620)
  xdotool mousemove --window "$wid" $((639 + 22)) $((${tops[$1]} + 20)) click 1
}
# watch_meters <seconds> <x> <y>...: screenshots until the meter at each
# (x, y) has been seen lit at least once; the readings of meters that must
# stay dark are kept in $dark_seen.
watch_meters() {
  local limit=$1
  shift
  local deadline=$((SECONDS + limit))
  local -a want=("$@")
  local -A seen=()
  while [ $SECONDS -lt $deadline ]; do
    import -window "$wid" "$work/shot.png"
    local i all=1
    for ((i = 0; i < ${#want[@]}; i += 2)); do
      [ "$(lit "$shot" "${want[i]}" "${want[i + 1]}")" -gt 0 ] && seen[$i]=1
      [ -n "${seen[$i]:-}" ] || all=0
    done
    for point in $dark; do
      [ "$(lit "$shot" ${point/,/ })" -eq 0 ] || dark_seen="$dark_seen $point"
    done
    [ "$all" = 1 ] && return 0
    sleep 0.1
  done
  return 1
}

# Row 2: the whole sound on the second sink, left then right; row 2's left
# and right meters light, row 1's and row 3's stay dark.
record 1 "$work/first.raw"
record 2 "$work/second.raw"
record 3 "$work/third.raw"
start=$(size "$work/second.raw")
dark="386,88 386,118 386,224 386,254"
dark_seen=""
press 2
watch_meters 30 386 160 386 190 || fail "row 2's meters did not light"
[ -z "$dark_seen" ] || fail "meters of other rows lit:$dark_seen"
wait_for 30 ended "$work/second.raw" "$start" || fail "the sound did not come to its end"
stop_recorders
python3 "$here/lib/voice_halves.py" "$work/second.raw" \
  --silent "$work/first.raw" --silent "$work/third.raw" || fail "row 2 played wrongly"
import -window "$wid" "$work/shot.png"
[ "$(lit "$shot" 386 160)" -eq 0 ] && [ "$(lit "$shot" 386 190)" -eq 0 ] ||
  fail "row 2's meters stayed lit"

# Row 2 again, and row 3 while it plays: the sound moves to the third sink
# and the meters to row 3.
record 2 "$work/second.raw"
record 3 "$work/third.raw"
start2=$(size "$work/second.raw")
start3=$(size "$work/third.raw")
press 2
wait_for 30 sounding "$work/second.raw" "$start2" || fail "row 2 did not play again"
press 3
wait_for 30 sounding "$work/third.raw" "$start3" || fail "row 3 did not take the sound over"
dark="386,88 386,118"
dark_seen=""
watch_meters 30 386 254 || fail "row 3's meters did not light"
moved=$(size "$work/second.raw")
wait_for 30 ended "$work/third.raw" "$start3" || fail "the sound did not end on row 3"
stop_recorders
# Nothing more reached the second sink after the move (beyond what its queue
# held at the moment of the press, some 200 ms).
if sounding "$work/second.raw" $((moved + 176400)); then fail "the second sink went on playing"; fi
[ -z "$dark_seen" ] || fail "row 1's meters lit:$dark_seen"
import -window "$wid" "$work/shot.png"
[ "$(lit "$shot" 386 160)" -eq 0 ] && [ "$(lit "$shot" 386 190)" -eq 0 ] ||
  fail "row 2's meters were not cleared"
echo "output_rows: ok"
