#!/usr/bin/env bash
# The program as a screen reader and a keyboard-only user meet it: under a real
# X server, on a private session bus with the accessibility bus and its
# registry, read through AT-SPI. With virtual devices and with a sound server
# of two pipe sinks, the windows' objects carry the roles, names and values a
# reader needs; without a pointer event, Escape closes the info window, the
# keyboard goes to the main window's first play button, Tab moves it to row 2,
# Space plays the test sound on row 2's sink exactly and on no other, the
# meters' value changes come a few times a second, the play button's AT-SPI
# action plays on row 1's sink, the message of a server that goes is read as
# an alert and answered with Return, and Tab and Space on Close end the
# program.
set -euo pipefail
bin=$1
root=$2
# A session bus of its own, which the accessibility bus is found through.
if [ -z "${TESSALINE_READER_SESSION:-}" ]; then
  export TESSALINE_READER_SESSION=1
  exec dbus-run-session -- bash "$0" "$@"
fi
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/pipe_sinks.bash"
tool="$root/tools/sound-server"
lib="$root/tests/integration/lib"
sound="$root/app/assets/YesLR.wav"
MAIN="TESSALINE AUDIO DRIVER"

work=$(mktemp -d /tmp/tessaline-reader.XXXXXX)
app=""
bus=""
cleanup() {
  local pid
  for pid in "${readers[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -z "$app" ] || kill "$app" 2>/dev/null || true
  [ -z "$bus" ] || kill "$bus" 2>/dev/null || true
  [ -z "${XVFB_PID:-}" ] || kill "$XVFB_PID" 2>/dev/null || true
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "screen_reader: $*" >&2
  exit 1
}
# The system's Python, which has the AT-SPI bindings.
reader() { /usr/bin/python3 "$lib/reader.py" "$@"; }
# has <file> <role> <name> [states pattern]: the dump holds that object.
has() {
  awk -F'\t' -v role="$2" -v name="$3" -v states="${4:-}" \
    '$1 == role && $2 == name && $6 ~ states { found = 1 } END { exit !found }' "$1"
}
focused_is() { [ "$(reader focused "$MAIN")" = "$1" ]; }
# A meter's value over 0, read afresh each time.
meter_moves() {
  reader dump "$MAIN" | awk -F'\t' -v name="$1" '$2 == name && $3 + 0 > 0 { m = 1 } END { exit !m }'
}
# press_until <key> <seconds> <command...>: presses the key until the command
# succeeds (a key that arrives while the program is still putting up its
# windows can be lost).
press_until() {
  local key=$1 limit=$2
  shift 2
  local deadline=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || return 1
    xdotool key "$key"
    wait_for 2 "$@" && return 0
  done
}

export XDG_CONFIG_HOME="$work/config"
start_xvfb 1600x1000x24
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/bus.log" 2>&1 &
bus=$!
# Accessibility on, as a screen reader turns it on.
wait_for 30 reader enable || fail "the accessibility bus did not start: $(cat "$work/bus.log")"

# --- Virtual devices: what a reader is told of every control.
TESSALINE_AUDIO="virtual:in=Desk Mic@440:-6:-6;out=Speakers|Headset" "$bin/tessaline" \
  >"$work/virtual.log" 2>&1 &
app=$!
wait_for 60 reader dump "$MAIN" || fail "the main window is not in the accessible tree"
wait_for 30 reader dump "$INFO_WINDOW" || fail "the info window is not in the accessible tree"
wait_for 30 meter_moves "Desk Mic, left" || fail "the input meter tells no level"
reader dump "$MAIN" >"$work/main.tree"
reader dump "$INFO_WINDOW" >"$work/info.tree"
has "$work/main.tree" frame "$MAIN" || fail "no main frame: $(head -n 1 "$work/main.tree")"
has "$work/main.tree" label "1 Input Drivers" || fail "no input count"
has "$work/main.tree" label "2 Output Drivers" || fail "no output count"
has "$work/main.tree" label "Desk Mic" || fail "no input name"
has "$work/main.tree" label "Input row 2: no device" || fail "an empty input row is not said"
has "$work/main.tree" label "Headset" || fail "no output name"
has "$work/main.tree" label "Output row 3: no device" || fail "an empty output row is not said"
awk -F'\t' '$1 == "progress bar" && $2 == "Desk Mic, left" && $4 == 0 && $5 == 100 { m = 1 }
  END { exit !m }' "$work/main.tree" || fail "the input meter has no level out of 0 ... 100"
has "$work/main.tree" "progress bar" "Headset, right" || fail "no output meter"
awk -F'\t' '$1 == "push button" && $2 == "Play test sound on Speakers" && $6 ~ /focusable/ &&
  $7 == "Press" { m = 1 } END { exit !m }' "$work/main.tree" ||
  fail "the play button has no press action"
awk -F'\t' '$1 == "push button" && $2 == "Play test sound: no device in output row 3" &&
  $6 !~ /focusable/ && $6 !~ /sensitive/ && $7 == "" { m = 1 } END { exit !m }' \
  "$work/main.tree" || fail "an empty row's play button is not unavailable"
has "$work/main.tree" "push button" Refresh || fail "no refresh button"
has "$work/main.tree" "push button" Close || fail "no close button"
# 2 counts, 18 row names, 36 meters, 11 buttons; nothing nameless.
[ "$(($(wc -l <"$work/main.tree") - 1))" -eq 67 ] ||
  fail "the main window has $(($(wc -l <"$work/main.tree") - 1)) objects, not 67"
if awk -F'\t' 'NR > 1 && ($2 == "" || $1 == "filler")' "$work/main.tree" | grep -q .; then
  fail "nameless objects: $(awk -F'\t' 'NR > 1 && $2 == ""' "$work/main.tree" | head -n 3)"
fi
awk -F'\t' '$1 == "link" && $7 != "" { m = 1 } END { exit !m }' "$work/info.tree" ||
  fail "the info window has no link"
has "$work/info.tree" "push button" Donate || fail "no donation button"
has "$work/info.tree" "push button" Close || fail "the info window has no close button"

# Keyboard only: Escape closes the info window, the main window has the keyboard.
press_until Escape 30 info_window_gone || fail "Escape did not close the info window"
wait_for 30 focused_is "Play test sound on Speakers" ||
  fail "the main window's first play button has no focus: $(reader focused "$MAIN" || true)"
xdotool key Tab
wait_for 10 focused_is "Play test sound on Headset" || fail "Tab did not move to row 2"
xdotool key Tab Tab
wait_for 10 focused_is "Close" || fail "Tab did not pass Refresh to Close"
xdotool key space
wait_for 30 program_ended "$app" || fail "Space on Close did not end the program"
wait "$app" || fail "exit code $?: $(cat "$work/virtual.log")"
app=""

# --- A sound server with two pipe sinks: the keyboard and the press action play.
PULSE_SERVER=$("$tool" start "$work/server" --pipe-sink "Pipe One" --pipe-sink "Pipe Two")
export PULSE_SERVER
"$bin/tessaline" >"$work/server.log" 2>&1 &
app=$!
wait_for 60 reader dump "$INFO_WINDOW" || fail "no info window with the sound server"
press_until Escape 30 info_window_gone || fail "Escape did not close the info window"
wait_for 30 focused_is "Play test sound on Pipe One" ||
  fail "row 1's play button has no focus: $(reader focused "$MAIN" || true)"
reader dump "$MAIN" >"$work/server.tree"
has "$work/server.tree" label "Pipe Two" || fail "no sink name"
has "$work/server.tree" "progress bar" "Pipe Two, left" || fail "no meter named by the sink"

mkdir -p "$work/keys"
read_sinks "$work/keys" "$work/server" 1 2 || fail "the sinks render nothing"
xdotool key Tab
wait_for 10 focused_is "Play test sound on Pipe Two" || fail "Tab did not move to row 2"
reader values "$MAIN" 4 >"$work/values" &
listener=$!
xdotool key space
only_sink_played "$sound" "$work/keys" 2 1 || fail "Space did not play the test sound on row 2's sink alone"
wait "$listener" || fail "the value listener failed"
awk -F'\t' '$2 ~ /^Pipe Two, (left|right)$/ && $1 > 0 { m = 1 } END { exit !m }' "$work/values" ||
  fail "row 2's meters told no value change: $(cat "$work/values")"
awk -F'\t' '$1 > 18 { print; bad = 1 } END { exit bad }' "$work/values" ||
  fail "value changes came more than four times a second"

mkdir -p "$work/action"
read_sinks "$work/action" "$work/server" 1 2 || fail "the sinks render nothing"
reader press "$MAIN" "Play test sound on Pipe One" || fail "no press action on row 1"
only_sink_played "$sound" "$work/action" 1 2 ||
  fail "the press action did not play the test sound on row 1's sink alone"

# The server goes while row 1 plays: its message is read as an alert, and
# Return answers it.
reader press "$MAIN" "Play test sound on Pipe One" || fail "no press action on row 1"
wait_for 30 meter_moves "Pipe One, left" || fail "row 1 does not play again"
"$tool" stop "$work/server" >/dev/null
alert_up() { reader alert >"$work/alert"; }
wait_for 30 alert_up || fail "the program's message is not read as an alert"
grep -q "WaveOut" "$work/alert" || fail "the alert does not read the message: $(cat "$work/alert")"
press_until Return 30 eval '! reader alert' || fail "Return did not answer the message"

reader press "$MAIN" Close || fail "no press action on Close"
wait_for 30 program_ended "$app" || fail "the Close action did not end the program"
wait "$app" || fail "exit code $?: $(cat "$work/server.log")"
app=""
echo "screen_reader: ok"
