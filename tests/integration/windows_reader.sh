#!/usr/bin/env bash
# tessaline.exe under Wine as a screen reader and a keyboard-only user meet it:
# a small client (accessible_probe.exe) gets each window's accessible object
# (AccessibleObjectFromWindow) and reads the names, roles, values and states
# of the drawn controls; keys sent to the windows (Escape, Tab, Space) close
# the info window, move the focus to the first pipe sink's row and play the
# test sound exactly on that sink and nowhere else; the play button's default
# action plays on the other sink; the close button's ends the program.
# Wine lists its default device first, then the server's: output row 2 is the
# first pipe sink, row 3 the second.
set -euo pipefail
bin=$1 # the Windows build's app folder
root=$2
probe_exe=$3
tool="$root/tools/sound-server"
wine_run="$root/tools/wine-run"
lib="$root/tests/integration/lib"
sound="$root/app/assets/YesLR.wav"
source "$lib/display.bash"
source "$lib/script.bash"
source "$lib/pipe_sinks.bash"
begin_test windows_reader
on_cleanup() {
  local pid
  for pid in "${readers[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$wine_run" --stop "$work/prefix" >/dev/null 2>&1 || true
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
}
MAIN="TESSALINE AUDIO DRIVER"
tessaline_exe() { "$wine_run" "$work/prefix" "$bin/tessaline.exe"; }
probe() { "$wine_run" "$work/prefix" "$probe_exe" "$@" | tr -d '\r'; }
# has <file> <role> <name> [value pattern] [states pattern] [action]
has() {
  awk -F'\t' -v role="$2" -v name="$3" -v value="${4:-}" -v states="${5:-}" -v action="${6:-}" \
    '$1 == role && $2 == name && $3 ~ value && $4 ~ states && (action == "" || $5 == action) {
       found = 1 } END { exit !found }' "$1"
}
focused_is() { [ "$(probe focused "$MAIN")" = "$1" ]; }
meter_moves() {
  probe dump "$MAIN" >"$work/moving.tree"
  has "$work/moving.tree" progressbar "Half Scale, left" '^[1-9][0-9]*%$'
}

PULSE_SERVER=$("$tool" start "$work/server" --pipe-sink "Pipe One" --pipe-sink "Pipe Two" \
  --sine "Half Scale" 440 0.5)
export PULSE_SERVER
unset TESSALINE_AUDIO
start_xvfb 1600x1000x24 || fail "no X server for Wine"
"$wine_run" --start "$work/prefix" || fail "Wine did not start"
start_program "$work/out.log" tessaline_exe
wait_for 60 window_id "$INFO_WINDOW" || fail "no info window"

# The accessible tree: names, roles, values, states, actions.
wait_for 30 meter_moves || fail "the input meter tells no level: $(grep 'Half' "$work/moving.tree")"
probe dump "$MAIN" >"$work/main.tree"
probe dump "$INFO_WINDOW" >"$work/info.tree"
has "$work/main.tree" client "$MAIN" || fail "no client object: $(head -n 1 "$work/main.tree")"
grep -Eq $'^text\t[0-9]+ Input Drivers\t' "$work/main.tree" || fail "no input count"
grep -Eq $'^text\t[0-9]+ Output Drivers\t' "$work/main.tree" || fail "no output count"
has "$work/main.tree" text "Pipe One" || fail "no sink name"
has "$work/main.tree" text "Output row 9: no device" || fail "an empty row is not said"
has "$work/main.tree" progressbar "Pipe Two, right" '^0%$' readonly ||
  fail "no meter of the second sink at 0%"
has "$work/main.tree" button "Play test sound on Pipe One" '' focusable Press ||
  fail "the first sink's play button has no press action"
has "$work/main.tree" button "Play test sound: no device in output row 9" '' unavailable ||
  fail "an empty row's play button is not unavailable"
has "$work/main.tree" button Refresh '' focusable Press || fail "no refresh button"
has "$work/main.tree" button Close '' focusable Press || fail "no close button"
if awk -F'\t' 'NR > 1 && ($2 == "" || $1 == "other")' "$work/main.tree" | grep -q .; then
  fail "nameless or unknown elements: $(awk -F'\t' 'NR > 1 && ($2 == "" || $1 == "other")' \
    "$work/main.tree" | head -n 3)"
fi
grep -q $'^link\t' "$work/info.tree" || fail "the info window has no link"
has "$work/info.tree" button Donate '' focusable Press || fail "no donation button"
has "$work/info.tree" button Close '' focusable Press || fail "the info window has no close button"

# Keys sent to the windows: Escape closes the info window, Tab moves the main
# window's focus from row 1 to row 2, Space plays there.
probe key "$INFO_WINDOW" escape || fail "cannot send Escape"
wait_for 30 info_window_gone || fail "Escape did not close the info window"
wait_for 30 focused_is "$(awk -F'\t' '$1 == "button" { print $2; exit }' "$work/main.tree")" ||
  fail "row 1's play button has no focus: $(probe focused "$MAIN" || true)"
probe key "$MAIN" tab || fail "cannot send Tab"
wait_for 10 focused_is "Play test sound on Pipe One" || fail "Tab did not move to the first sink's row"
read_sinks "$work" "$work/server" 1 2 || fail "the sinks render nothing"
probe key "$MAIN" space || fail "cannot send Space"
only_sink_played "$sound" "$work" 1 2 || fail "Space did not play the test sound on the first sink alone"

# The play button's default action.
mkdir -p "$work/action"
read_sinks "$work/action" "$work/server" 1 2 || fail "the sinks render nothing"
probe press "$MAIN" "Play test sound on Pipe Two" || fail "no default action on the second sink's row"
only_sink_played "$sound" "$work/action" 2 1 ||
  fail "the default action did not play the test sound on the second sink alone"

probe press "$MAIN" Close || fail "no default action on Close"
wait_for 30 program_ended "$app" || fail "the close button's action did not end the program"
wait "$app" || fail "program exit code $?: $(cat "$work/out.log")"
app=""
echo "windows_reader: ok"
