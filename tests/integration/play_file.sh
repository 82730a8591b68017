#!/usr/bin/env bash
# tessaline-devices --play K FILE on a real sound server with two pipe sinks,
# read whole, through the sound-buffer output and through the wave output
# (--wave): the second sink renders silence, exactly the file's samples (left
# stays left), silence; the first only silence. Files of four and six
# channels, one tone per channel, are heard on their speakers on a stereo and
# a six-channel pipe sink (on the stereo one as the server mixes correctly
# placed channels down), and files at 176.4 and 192 kHz play for their own
# length at their own pitch. A sink unloaded while it plays ends the program
# with the system's message.
set -euo pipefail
bin=$1
root=$2
tool="$root/tools/sound-server"
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.bash"
source "$here/lib/monitor.bash"
source "$here/lib/pipe_sinks.bash"

work=$(mktemp -d /tmp/tessaline-play.XXXXXX)
cleanup() {
  local pid
  for pid in "${recorders[@]}" "${readers[@]}" "${keepers[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
  "$tool" stop "$work/six" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "play_file: $*" >&2
  exit 1
}

PULSE_SERVER=$("$tool" start "$work/server" --pipe-sink "First Out" --pipe-sink "Second Out")
export PULSE_SERVER
unset TESSALINE_AUDIO
# PipeWire renders a pipe sink only while a stream plays, and now and then
# loses the first 1024 frames a sink renders after it was idle; a stream of
# silence keeps both sinks running, as PulseAudio's always are.
keepers=()
if [ "${TESSALINE_SOUND_SERVER:-}" = pipewire ]; then
  for n in 1 2; do
    pacat --playback --raw --device="pipesink$n" /dev/zero >/dev/null 2>&1 &
    keepers+=($!)
  done
fi

# Two sweeps in different bands, one per channel.
sox -n -r 44100 -b 16 -c 2 "$work/sweep.wav" synth 1.5 sine 200-2000 sine 3000-500 vol 0.5
sox -n -r 44100 -b 16 -c 2 "$work/long.wav" synth 6 sine 300 sine 500 vol 0.5

for output in sound-buffer wave; do
  output_flag "$output"
  mkdir -p "$work/$output"
  read_sinks "$work/$output" "$work/server" 1 2 || fail "$output: the sinks render nothing"
  "$bin/tessaline-devices" --play 2 "$work/sweep.wav" "${flag[@]}" >"$work/out.txt" \
    2>"$work/err.txt" || fail "$output: exit code $?: $(cat "$work/err.txt")"
  cat "$work/out.txt"
  grep -Eq "^Played $work/sweep.wav on Second Out: [0-9]+ ms\$" "$work/out.txt" ||
    fail "$output: unexpected report: $(cat "$work/out.txt")"
  played_exactly "$work/sweep.wav" "$work/$output/sink2.raw" ||
    fail "$output: the second sink did not get the file's samples exactly"
  stop_readers
  silent "$work/$output/sink1.raw" || fail "$output: the first sink played"
done

# One tone per channel: a quad file with no mask (the wave order: front-left,
# front-right, back-left, back-right), a 5.1 file with its mask, and a
# four-channel file whose mask names front-left, front-right, front-center and
# LFE; stereo at 176.4 and 192 kHz.
tones="$here/lib/tones.py"
hz=(500 700 900 100 1100 1300)
python3 "$tones" make "$work/quad.wav" 44100 0.6 plain 500 700 1100 1300
python3 "$tones" make "$work/five.wav" 44100 0.6 0x3F 500 700 900 100 1100 1300
python3 "$tones" make "$work/front.wav" 44100 0.6 0xF 500 700 900 100
python3 "$tones" make "$work/fast176.wav" 176400 1 plain 1000 1500
python3 "$tones" make "$work/fast192.wav" 192000 1 plain 1000 1500

# play_tones <output> <file> <sink N> <its channels>: plays the file on pipe
# sink N through the output and waits until the sink has rendered all of it;
# measure then looks at what it rendered meanwhile. The sink's reader runs
# without a break from before the first sound (read_sinks into $tone_dir): one
# stopped while a sink renders may leave part of a frame in its FIFO, and what
# the next one read would have every channel shifted.
play_tones() {
  local output=$1 name=$2 n=$3 channels=$4
  raw="$tone_dir/sink$n.raw"
  from=$(size "$raw")
  output_flag "$output"
  "$bin/tessaline-devices" --play "$n" "$work/$name.wav" "${flag[@]}" >"$work/out.txt" \
    2>"$work/err.txt" || fail "$output: $name: exit code $?: $(cat "$work/err.txt")"
  wait_for 30 python3 "$tones" --from "$from" ended "$raw" "$tone_dir/sink$n.times" \
    "$channels" || fail "$output: $name did not come to its end on sink $n"
}
# measure <command> <arguments...>: tones.py's command on what the sink rendered.
measure() { python3 "$tones" --from "$from" "$1" "$raw" "${@:2}"; }

tone_dir="$work/stereo"
mkdir -p "$tone_dir"
read_sinks "$tone_dir" "$work/server" 2 || fail "the second sink renders nothing"
for output in sound-buffer wave; do
  # Each side hears its front and back channels only; the centre equally on
  # both sides, the LFE equally or not at all.
  play_tones "$output" quad 2 2
  measure levels 2 "${hz[@]}" -- 0:500 0:1100 1:700 1:1300 ||
    fail "$output: the quad file on the stereo sink"
  play_tones "$output" five 2 2
  measure levels 2 "${hz[@]}" -- 0:500 0:1100 1:700 1:1300 0:900 1:900 =900 0:100? 1:100? \
    =100 || fail "$output: the 5.1 file on the stereo sink"
  for rate in 176 192; do
    play_tones "$output" "fast$rate" 2 2
    measure pitch 2 1000 1000 1500 || fail "$output: the $rate kHz file"
  done
done
stop_readers

# The sink played on goes away while it plays: a message, exit code 1, no
# hang. A null sink of its own each time (a pipe sink is not removed and
# added again), heard through its monitor.
for output in sound-buffer wave; do
  output_flag "$output"
  "$tool" add-sink "$work/server" sink3 "Going Out"
  record 3 "$work/going.raw"
  start=$(size "$work/going.raw")
  timeout 30 "$bin/tessaline-devices" --play "Going Out" "$work/long.wav" "${flag[@]}" >"$work/out.txt" \
    2>"$work/err.txt" &
  player=$!
  # Unloaded once the sound is being heard.
  wait_for 30 holds "$work/going.raw" $((start + 88200)) ||
    fail "$output: nothing recorded"
  "$tool" remove-sink "$work/server" sink3
  rc=0
  wait "$player" || rc=$?
  stop_recorders
  [ "$rc" -eq 1 ] || fail "$output: exit code $rc after the sink went away: $(cat "$work/err.txt")"
  grep -Eq "^tessaline-devices: [A-Za-z]+: .+" "$work/err.txt" ||
    fail "$output: no message: $(cat "$work/err.txt")"
  cat "$work/err.txt"
done
# A 5.1 pipe sink, on a server of its own: beside it, PipeWire's pipe sinks now
# and then lose a period of what they render, which the exact comparisons
# above would not let pass. Every channel of a 5.1 file is heard on its own;
# the centre and LFE of a quad file are the server's to fill, and so are the
# back channels of a file that has none.
PULSE_SERVER=$("$tool" start "$work/six" --pipe-sink-channels 6 "Six Out")
tone_dir="$work/surround"
mkdir -p "$tone_dir"
read_sinks "$tone_dir" "$work/six" 1 || fail "the six-channel sink renders nothing"
for output in sound-buffer wave; do
  play_tones "$output" quad 1 6
  measure levels 6 "${hz[@]}" -- 0:500 1:700 4:1100 5:1300 2:* 3:* ||
    fail "$output: the quad file on the six-channel sink"
  play_tones "$output" five 1 6
  measure levels 6 "${hz[@]}" -- 0:500 1:700 2:900 3:100 4:1100 5:1300 ||
    fail "$output: the 5.1 file on the six-channel sink"
  play_tones "$output" front 1 6
  measure levels 6 "${hz[@]}" -- 0:500 1:700 2:900 3:100 4:500? 5:700? ||
    fail "$output: the front four-channel file on the six-channel sink"
done
stop_readers
echo "play_file: ok"
