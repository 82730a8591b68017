#!/usr/bin/env bash
# The program under a real X server with a private sound server of two pipe
# sinks, through the sound-buffer output and (--wave) the wave output: one
# press of row 2's play button puts the test sound's samples on the second
# sink bit for bit (silence, exactly the file's samples, silence) and nothing
# on the first; row 2's meters are lit while the sink renders each word and
# dark soon after the rendered sound ends.
set -euo pipefail
bin=$1
root=$2
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/pipe_sinks.bash"
tool="$root/tools/sound-server"
lib="$root/tests/integration/lib"
sound="$root/app/assets/YesLR.wav"

work=$(mktemp -d /tmp/tessaline-pipe-row.XXXXXX)
app=""
cleanup() {
  local pid
  for pid in "${readers[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -z "$app" ] || kill "$app" 2>/dev/null || true
  [ -z "${XVFB_PID:-}" ] || kill "$XVFB_PID" 2>/dev/null || true
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "row_pipe_sink: $*" >&2
  exit 1
}

PULSE_SERVER=$("$tool" start "$work/server" --pipe-sink "Pipe One" --pipe-sink "Pipe Two")
export PULSE_SERVER
unset TESSALINE_AUDIO
export XDG_CONFIG_HOME="$work/config"
start_xvfb 1600x1000x24

# CLOCK_MONOTONIC less the wall clock, in ns: the screen reads are timed with
# the shell's wall clock, the sink's reads with the monotonic one.
clock_offset=$(python3 -c 'import time; print(time.monotonic_ns() - time.time_ns())')
now_ns() {
  local t=${EPOCHREALTIME/[.,]/}
  echo $((t * 1000 + clock_offset))
}
# lit <shot> <x> <y>: 1 when any spot of the meter at (x, y) is lit.
lit() {
  convert "$1" -crop "239x1+$(($2 + 1))+$(($3 + 4))" +repage -colorspace gray -depth 8 txt:- |
    awk -F'[(,)]' 'NR > 1 && $3 + 0 > 100 { on = 1 } END { print on + 0 }'
}

# play <label> <options...>: one press of row 2 with the program started with
# those options; checks the sinks and the meters.
play() {
  local label=$1
  shift
  local run="$work/$label"
  mkdir -p "$run"
  "$bin/tessaline" "$@" >"$run/out.log" 2>&1 &
  app=$!
  wait_for 60 window_id "TESSALINE AUDIO DRIVER" || fail "$label: no window"
  local wid
  wid=$(window_id "TESSALINE AUDIO DRIVER")
  close_info_window || fail "$label: the info window did not close"
  read_sinks "$run" "$work/server" 1 2 || fail "$label: the sinks render nothing"
  xdotool mousemove --window "$wid" $((639 + 22)) $((160 + 20)) click 1
  # Screen reads of row 2's meters until the sound has ended and been
  # silent for two seconds (at most 60 s).
  local deadline=$((SECONDS + 60)) k=0 t0 t1
  : >"$run/shots"
  until ended "$run/sink2.raw"; do
    [ $SECONDS -lt $deadline ] || fail "$label: the sound did not come to its end"
    t0=$(now_ns)
    import -window "$wid" -crop 260x80+380+150 +repage "$run/shot$k.png"
    t1=$(now_ns)
    echo "$t0 $t1 $k" >>"$run/shots.raw"
    k=$((k + 1))
  done
  local shot
  while read -r t0 t1 shot; do
    echo "$t0 $t1 $(lit "$run/shot$shot.png" 6 10) $(lit "$run/shot$shot.png" 6 40)" >>"$run/shots"
  done <"$run/shots.raw"
  close_main_window "$app" || fail "$label: the program went on running after its close button"
  wait "$app" || fail "$label: exit code $?: $(cat "$run/out.log")"
  app=""
  stop_readers

  python3 "$lib/exact_sound.py" "$sound" "$run/sink2.raw" ||
    fail "$label: the second sink did not get the test sound's samples exactly"
  silent "$run/sink1.raw" || fail "$label: the first sink played"
  python3 "$lib/meters_follow.py" "$run/sink2.raw" "$run/sink2.times" "$run/shots" "$sound" ||
    fail "$label: row 2's meters did not follow the sound ($k screen reads)"
}

play sound-buffer
play wave --wave
echo "row_pipe_sink: ok"
