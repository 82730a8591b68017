#!/usr/bin/env bash
# tessaline-devices --watch in a terminal (tmux, read with capture-pane):
# virtual inputs and a real sound server's inputs appear with their names and
# left/right bars as long as their levels (half scale: half the bar, a tenth:
# a tenth); a bar follows its input's level; a resize redraws to the new
# width; q, Ctrl+C and SIGTERM leave the terminal as it was (main screen,
# nothing but what the shell printed after it); the key 2 plays the test sound
# on the second pipe sink, exactly, and nothing on the first.
set -euo pipefail
bin=$1
root=$2
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/pipe_sinks.bash"
source "$root/tests/integration/lib/script.bash"
source "$root/tests/integration/lib/terminal.bash"
tool="$root/tools/sound-server"

begin_test devices_watch
feeder=""
on_cleanup() {
  [ -z "$feeder" ] || kill "$feeder" 2>/dev/null || true
  stop_readers
  tmux -L "$socket" kill-server 2>/dev/null || true
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
}
socket="tessaline-watch-$$"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Virtual inputs: names and bars as long as their levels.
watch TESSALINE_AUDIO='virtual:in=Loud@440:-6:-20|Quiet@440:-20:-20|Silent;out=Spk'
wait_for 30 shows "3: Silent" || fail "virtual: no inputs: $(screen)"
wait_for 10 bar "1: Loud" L 0.5 || fail "virtual: Loud L: $(screen)"
bar "1: Loud" R 0.1 || fail "virtual: Loud R: $(screen)"
bar "2: Quiet" L 0.1 && bar "2: Quiet" R 0.1 || fail "virtual: Quiet: $(screen)"
[ "$(lit "3: Silent")" = 0 ] || fail "virtual: Silent lights: $(screen)"
# A resize redraws to the new width: the bars end one column short of its
# edge (before the resize they were longer).
tmux -L "$socket" resize-window -t 0 -x 60 -y 30
wide_60() { screen | awk 'index($0, "1: Loud") == 1 { exit !(length($0) == 59 && /]$/) }'; }
wait_for 10 wide_60 || fail "resize: $(screen)"
wait_for 10 bar "1: Loud" L 0.5 || fail "resize: Loud L: $(screen)"
tmux -L "$socket" send-keys -t 0 q
wait_for 10 restored 0 || fail "q: the terminal is not restored: $(screen)"

# The same after Ctrl+C and after SIGTERM.
watch TESSALINE_AUDIO='virtual:in=Loud@440:-6:-20;out=Spk'
wait_for 30 bar "1: Loud" L 0.5 || fail "Ctrl+C: no meters: $(screen)"
tmux -L "$socket" send-keys -t 0 C-c
wait_for 10 restored 0 || fail "Ctrl+C: the terminal is not restored: $(screen)"
watch TESSALINE_AUDIO='virtual:in=Loud@440:-6:-20;out=Spk'
wait_for 30 bar "1: Loud" L 0.5 || fail "SIGTERM: no meters: $(screen)"
pkill -TERM -f "^$bin/tessaline-devices --watch\$" || fail "SIGTERM: no program"
wait_for 10 restored 0 || fail "SIGTERM: the terminal is not restored: $(screen)"

# A sound server's inputs: a sine at half scale, and a pipe source whose
# level changes while it is watched; the key 2 plays on the second pipe sink.
PULSE_SERVER=$("$tool" start "$work/server" --pipe-sink "Pipe One" --pipe-sink "Pipe Two" \
  --sine "Half Sine" 440 0.5 --pipe "Changing")
export PULSE_SERVER
sox -n -r 44100 -b 16 -e signed-integer -c 2 -t raw "$work/loud.raw" synth 0.1 sine 440 vol 0.5
sox -n -r 44100 -b 16 -e signed-integer -c 2 -t raw "$work/soft.raw" synth 0.1 sine 440 vol 0.1
cp "$work/loud.raw" "$work/now.raw"
(while cat "$work/now.raw"; do sleep 0.09; done) >"$work/server/pipe1" 2>/dev/null &
feeder=$!
read_sinks "$work" "$work/server" 1 2 || fail "the sinks render nothing"
watch TESSALINE_AUDIO= PULSE_SERVER="$PULSE_SERVER"
wait_for 30 bar "1: Half Sine" L 0.5 || fail "server: Half Sine: $(screen)"
bar "1: Half Sine" R 0.5 || fail "server: Half Sine R: $(screen)"
wait_for 10 bar "2: Changing" L 0.5 || fail "server: Changing loud: $(screen)"
cp "$work/soft.raw" "$work/now.raw.new" && mv "$work/now.raw.new" "$work/now.raw"
wait_for 10 bar "2: Changing" L 0.1 || fail "server: Changing does not follow: $(screen)"
tmux -L "$socket" send-keys -t 0 2
output_meters() { screen | grep -Eq '^2: Pipe Two +L \['; }
wait_for 10 output_meters || fail "play: no meters on the output: $(screen)"
played_exactly "$root/app/assets/YesLR.wav" "$work/sink2.raw" ||
  fail "play: the second sink did not get the test sound exactly"
stop_readers
silent "$work/sink1.raw" || fail "play: the first sink played"
tmux -L "$socket" send-keys -t 0 q
wait_for 10 restored 0 || fail "server: the terminal is not restored: $(screen)"
echo "devices_watch: ok"
