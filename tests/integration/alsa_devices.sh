#!/usr/bin/env bash
# tessaline-devices on the ALSA back-end without sound hardware: a private
# .asoundrc (HOME) defines PCMs with hints. Inputs read a known signal from a
# file (the file plugin's infile), outputs write what they get to a file; a
# private sound server behind them keeps real time. Listed: exactly those
# PCMs by their descriptions, not the system's plugins and server clients;
# --levels within 0.1 dB of the signal; --play through both outputs gives the
# file's samples exactly at the output's file; --check over a loop through
# the server; a PCM that fails while playing ends the program with its
# message; one that fails while recording gives its message on the input's
# line (--levels) or row (--watch). Without a sound server the automatic
# choice is ALSA.
set -euo pipefail
bin=$1
root=$2
source "$root/tests/integration/lib/alsa.bash"
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/pipe_sinks.bash"
source "$root/tests/integration/lib/script.bash"
source "$root/tests/integration/lib/terminal.bash"
tool="$root/tools/sound-server"

begin_test alsa_devices
on_cleanup() {
  local pid
  for pid in "${keepers[@]}"; do kill "$pid" 2>/dev/null || true; done
  tmux -L "$socket" kill-server 2>/dev/null || true
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
}
socket="tessaline-alsa-$$"

PULSE_SERVER=$("$tool" start "$work/server" --sink "Pace Sink" --sink "Loop Sink")
export PULSE_SERVER
keep_rendering sink1 sink2 || fail "the sinks' monitors do not record"
# The signals: 30 s of 440 Hz at half scale on both channels; 1000 Hz at a
# quarter of full scale left and a tenth right.
sox -n -r 44100 -b 16 -e signed-integer -c 2 -t raw "$work/half.raw" synth 30 sine 440 vol 0.5
sox -n -r 44100 -b 16 -e signed-integer -c 2 -t raw "$work/unequal.raw" \
  synth 30 sine 1000 sine 1000 remix 1v0.25 2v0.1
sox -n -r 44100 -b 16 -c 2 "$work/sweep.wav" synth 1.5 sine 200-2000 sine 3000-500 vol 0.5

mkdir -p "$work/home"
{
  file_input half_in "Half Tone" "$work/half.raw"
  file_input unequal_in "Unequal Tone" "$work/unequal.raw"
  file_output first_out "First Out" "$work/first.raw" sink1
  file_output second_out "Second Out" "$work/second.raw" sink1
  cat <<CONF
pcm.loop_out {
  type asym
  playback.pcm { type plug slave.pcm { type pulse device "sink2" } }
  hint { show on description "Loop Out" }
}
pcm.loop_in {
  type asym
  capture.pcm { type plug slave.pcm { type pulse device "sink2.monitor" } }
  hint { show on description "Loop In" }
}
CONF
} >"$work/home/.asoundrc"
export HOME="$work/home" TESSALINE_AUDIO=alsa XDG_RUNTIME_DIR="$work"

devices() { "$bin/tessaline-devices" "$@" 2>"$work/err.txt"; }

# Listing: our PCMs in the configuration's order, each once, nothing else of
# this machine's configuration (its server clients, null device, plugins).
devices >"$work/list.txt" || fail "listing: exit code $?: $(cat "$work/err.txt")"
cat "$work/list.txt"
cat >"$work/want.txt" <<'LIST'
Input Drivers: 3
  1: Half Tone
  2: Unequal Tone
  3: Loop In
Output Drivers: 3
  1: First Out
  2: Second Out
  3: Loop Out
LIST
diff "$work/want.txt" "$work/list.txt" || fail "unexpected list"

# --levels: each channel within 0.1 dB of its signal.
devices --levels 1 >"$work/levels.txt" || fail "levels: exit code $?: $(cat "$work/err.txt")"
cat "$work/levels.txt"
# near <name> <left dBFS> <right dBFS>
near() {
  awk -v name="$1" -v l="$2" -v r="$3" '
    index($0, name) { for (i = 1; i <= NF; i++) if ($i == "L" || $i == "R") v[$i] = $(i + 1); found = 1 }
    END {
      if (!found || !("L" in v) || !("R" in v)) exit 1
      d1 = v["L"] - l; d2 = v["R"] - r
      if (d1 < -0.1 || d1 > 0.1 || d2 < -0.1 || d2 > 0.1) exit 1
    }' "$work/levels.txt"
}
near "Half Tone" -6.02 -6.02 || fail "Half Tone reads wrong"
near "Unequal Tone" -12.04 -20.0 || fail "Unequal Tone reads wrong"

# --play through both outputs: the second output's file holds exactly the
# file's samples (with silence around them), the first's nothing.
for output in sound-buffer wave; do
  flag=()
  [ "$output" = sound-buffer ] || flag=(--wave)
  rm -f "$work/first.raw" "$work/second.raw"
  devices --play 2 "$work/sweep.wav" "${flag[@]}" >"$work/out.txt" ||
    fail "$output: exit code $?: $(cat "$work/err.txt")"
  cat "$work/out.txt"
  grep -Eq "^Played $work/sweep.wav on Second Out: [0-9]+ ms\$" "$work/out.txt" ||
    fail "$output: unexpected report"
  python3 "$root/tests/integration/lib/exact_sound.py" "$work/sweep.wav" "$work/second.raw" ||
    fail "$output: the output's file does not hold the file's samples exactly"
  [ ! -s "$work/first.raw" ] || fail "$output: the first output played"
done

# --check: the test sound played on the loop's output arrives at its input.
for output in sound-buffer wave; do
  flag=()
  [ "$output" = sound-buffer ] || flag=(--wave)
  devices --check 3 3 "${flag[@]}" >"$work/check.txt" ||
    fail "$output: check exit code $?: $(cat "$work/check.txt") $(cat "$work/err.txt")"
  cat "$work/check.txt"
  grep -q "verdict: ok" "$work/check.txt" || fail "$output: check verdict"
done

# Without a sound server the automatic choice lists ALSA's devices (here
# PCMs that need no server); with one, the server's.
mkdir -p "$work/plain"
file_output spare_out "Spare Out" "$work/spare.raw" unused |
  sed 's/slave.pcm { type pulse device "unused" }/slave.pcm { type null }/' >"$work/plain/.asoundrc"
HOME="$work/plain" PULSE_SERVER="unix:$work/nothing" TESSALINE_AUDIO= devices >"$work/auto.txt" ||
  fail "automatic: exit code $?"
grep -q "^  1: Spare Out$" "$work/auto.txt" || fail "automatic without a server: $(cat "$work/auto.txt")"
HOME="$work/plain" TESSALINE_AUDIO= devices >"$work/auto.txt" || fail "automatic: exit code $?"
grep -q "^  1: Pace Sink$" "$work/auto.txt" || fail "automatic with a server: $(cat "$work/auto.txt")"
# A PCM that fails while playing: the server behind it goes away. The
# program ends with its message and exit code 1, no hang.
sox -n -r 44100 -b 16 -c 2 "$work/long.wav" synth 6 sine 300 sine 500 vol 0.5
"$tool" stop "$work/server"
for output in sound-buffer wave; do
  flag=()
  [ "$output" = sound-buffer ] || flag=(--wave)
  rm -f "$work/second.raw"
  export PULSE_SERVER
  PULSE_SERVER=$("$tool" start "$work/server" --sink "Pace Sink")
  timeout 30 "$bin/tessaline-devices" --play "Second Out" "$work/long.wav" "${flag[@]}" \
    >"$work/out.txt" 2>"$work/err.txt" &
  player=$!
  wait_for 30 test -s "$work/second.raw" || fail "$output: nothing played"
  "$tool" stop "$work/server"
  rc=0
  wait "$player" || rc=$?
  [ "$rc" -eq 1 ] || fail "$output: exit code $rc after the PCM failed: $(cat "$work/err.txt")"
  grep -Eq "^tessaline-devices: [A-Za-z]+: .+" "$work/err.txt" ||
    fail "$output: no message: $(cat "$work/err.txt")"
  cat "$work/err.txt"
done

# An input that fails while it records: the server behind it goes away.
# ALSA's pulse plugin then reports an overrun after which the PCM cannot be
# prepared again. (A file plugin whose infile ends, or is a FIFO whose writer
# closes, is no failure: the plugin passes its slave's sound on.) --levels
# ends that input's measurement with the program's message on its line, not
# levels; --watch shows the message on the input's row and goes on until q.
lost_message="No audio driver is available for this device."
mkdir -p "$work/lost"
file_input lost_in "Lost Tone" "$work/half.raw" "$work/tap.raw" >"$work/lost/.asoundrc"
# start_lost_input: a fresh server behind the input, its sink rendering.
start_lost_input() {
  rm -f "$work/tap.raw"
  PULSE_SERVER=$("$tool" start "$work/server" --sink "Pace Sink")
  keep_rendering sink1 || fail "the sink's monitor does not record"
}
start_lost_input
HOME="$work/lost" timeout 20 "$bin/tessaline-devices" --levels 30 >"$work/levels.txt" \
  2>"$work/err.txt" &
levels=$!
wait_for 30 test -s "$work/tap.raw" || fail "lost input: --levels recorded nothing"
"$tool" stop "$work/server"
rc=0
wait "$levels" || rc=$?
cat "$work/levels.txt"
[ "$rc" -eq 0 ] || fail "lost input: --levels exit code $rc: $(cat "$work/err.txt")"
grep -Fxq "  1: Lost Tone  WaveInAddBuffer: $lost_message" "$work/levels.txt" ||
  fail "lost input: --levels shows no message on its line"
[ ! -s "$work/err.txt" ] || fail "lost input: --levels wrote elsewhere: $(cat "$work/err.txt")"

start_lost_input
watch HOME="$work/lost" PULSE_SERVER="$PULSE_SERVER"
wait_for 30 bar "1: Lost Tone" L 0.5 || fail "lost input: --watch shows no meters: $(screen)"
"$tool" stop "$work/server"
lost_row() { screen | grep -Eq "^1: Lost Tone +WaveInAddBuffer: $lost_message\$"; }
wait_for 10 lost_row || fail "lost input: --watch shows no message on its row: $(screen)"
tmux -L "$socket" send-keys -t 0 q
wait_for 10 restored 0 || fail "lost input: --watch did not end on q: $(screen)"
echo "alsa_devices: ok"
