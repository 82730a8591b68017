#!/usr/bin/env bash
# tessaline-devices --play K FILE on a real sound server with two pipe sinks,
# read whole, through the sound-buffer output and through the wave output
# (--wave): the second sink renders silence, exactly the file's samples (left
# stays left), silence; the first only silence. A sink unloaded while it
# plays ends the program with the system's message.
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
  for pid in "${recorders[@]}" "${readers[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
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
echo "play_file: ok"
