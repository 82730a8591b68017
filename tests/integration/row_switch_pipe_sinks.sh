#!/usr/bin/env bash
# The program under a real X server with a private sound server of two pipe
# sinks, through the sound-buffer output and (--wave) the wave output: row 1
# plays the test sound; some 1.3 s into it row 2's play button moves the sound
# there. Both sinks read whole: the second goes on with the file from where
# the first stopped, no more than one buffer (8196 bytes) of it skipped or
# repeated, to the file's end; the first plays nothing after the move.
set -euo pipefail
bin=$1
root=$2
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/pipe_sinks.bash"
tool="$root/tools/sound-server"
switch="$root/tests/integration/lib/row_switch.py"
sound="$root/app/assets/YesLR.wav"

work=$(mktemp -d /tmp/tessaline-row-switch.XXXXXX)
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
  echo "row_switch_pipe_sinks: $*" >&2
  exit 1
}

PULSE_SERVER=$("$tool" start "$work/server" --pipe-sink "Pipe One" --pipe-sink "Pipe Two")
export PULSE_SERVER
unset TESSALINE_AUDIO
export XDG_CONFIG_HOME="$work/config"
start_xvfb 1600x1000x24

# press <window> <row top>: a click on that row's play button.
press() {
  xdotool mousemove --window "$1" $((639 + 22)) $(($2 + 20)) click 1
}

# switch_once <folder> <options...>: the program started with those options,
# row 1 pressed, row 2 pressed once the first sink has played the file to
# 1.25 s (the second word: the press lands within it), both sinks read until
# the second has played the file's last sounding frames. Leaves the sinks' files in the folder.
switch_once() {
  local run=$1
  shift
  mkdir -p "$run"
  "$bin/tessaline" "$@" >"$run/out.log" 2>&1 &
  app=$!
  wait_for 60 window_id "TESSALINE AUDIO DRIVER" || fail "$run: no window"
  local wid
  wid=$(window_id "TESSALINE AUDIO DRIVER")
  close_info_window || fail "$run: the info window did not close"
  read_sinks "$run" "$work/server" 1 2 || fail "$run: the sinks render nothing"
  press "$wid" 88
  wait_for 30 python3 "$switch" reached "$sound" "$run/sink1.raw" 1.25 ||
    fail "$run: the first sink did not play the sound to 1.25 s"
  press "$wid" 160
  # What the second sink got, if not the end, the check tells.
  wait_for 30 python3 "$switch" ended "$sound" "$run/sink2.raw" ||
    echo "row_switch_pipe_sinks: $run: the sound did not come to its end on the second sink" >&2
  close_main_window "$app" || fail "$run: the program went on running after its close button"
  wait "$app" || fail "$run: exit code $?: $(cat "$run/out.log")"
  app=""
  stop_readers
}

# moves <label> <options...>: a row switch continues the sound within one
# buffer. A press that comes only after the second word (a starved machine)
# cannot show it: it is tried again, at most three times in all.
moves() {
  local label=$1
  shift
  local attempt result
  for attempt in 1 2 3; do
    switch_once "$work/$label-$attempt" "$@"
    result=0
    python3 "$switch" check "$sound" "$work/$label-$attempt/sink1.raw" \
      "$work/$label-$attempt/sink2.raw" || result=$?
    case $result in
      0) return 0 ;;
      3) echo "row_switch_pipe_sinks: $label: the press came after the word; again" >&2 ;;
      *) fail "$label: the second row did not go on from what the first played" ;;
    esac
  done
  fail "$label: no press came within the word in three tries"
}

moves sound-buffer
moves wave --wave
echo "row_switch_pipe_sinks: ok"
