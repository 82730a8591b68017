#!/usr/bin/env bash
# tools/sound-server: exact sine levels, pipe sources that pass data through,
# pipe sinks whose FIFO gives exactly what they rendered, a reader-paced pipe
# sink whose reported latency is real, a six-channel pipe sink in the 5.1
# layout, descriptions kept, sinks added and
# removed while it runs, and a clean stop.
# TESSALINE_SOUND_SERVER=pipewire runs it against PipeWire, which takes no
# quotes in a description and says so.
set -euo pipefail
root=$2
tool="$root/tools/sound-server"

work=$(mktemp -d /tmp/tessaline-sound-server.XXXXXX)
writer=""
reader=""
cleanup() {
  [ -z "$writer" ] || kill "$writer" 2>/dev/null || true
  [ -z "$reader" ] || kill "$reader" 2>/dev/null || true
  "$tool" stop "$work/server" || true
  "$tool" stop "$work/six" || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "sound_server: $*" >&2
  exit 1
}

"$tool" --help | grep -q -- "--sine" || fail "no usage text"
"$tool" --help | grep -q -- "--pipe-sink-channels <N> <description>" ||
  fail "no usage of --pipe-sink-channels"
message=$("$tool" start "$work/server" --pipe-sink-channels 9 "Nine" 2>&1) &&
  fail "a nine-channel pipe sink was made"
[ "$message" = "sound-server: bad channel count (1 ... 8): 9" ] || fail "unexpected refusal: $message"

feed='Test Feed, "quoted"'
if [ "${TESSALINE_SOUND_SERVER:-}" = pipewire ]; then
  message=$("$tool" start "$work/server" --pipe "$feed" 2>&1) && fail "a quoted description was taken"
  [ "$message" = "sound-server: PipeWire takes no quotes or backslashes in a description: $feed" ] ||
    fail "unexpected refusal: $message"
  feed="Test Feed, (plain)"
  message=$("$tool" start "$work/server" --paced-pipe-sink "Paced" 2>&1) && fail "a paced pipe sink was made"
  [ "$message" = "sound-server: --paced-pipe-sink needs PulseAudio" ] ||
    fail "unexpected refusal: $message"
  paced=()
else
  paced=(--paced-pipe-sink "Paced Out")
fi
server=$("$tool" start "$work/server" --sink "Null Out" --sine "Half Scale" 440 0.5 \
  --sine "Quarter Scale" 1000 0.25 --pipe "$feed" --pipe-sink "Pipe Out" "${paced[@]}")
export PULSE_SERVER=$server
[ "$server" = "unix:$work/server/native" ] || fail "unexpected server string $server"
[ -S "$work/server/native" ] || fail "no socket"
pid=$(cat "$work/server/server.pid")

descriptions=$(pactl list sources | sed -n 's/^\s*Description: //p')
for d in "Half Scale" "Quarter Scale" "$feed"; do
  grep -qxF "$d" <<<"$descriptions" || fail "source \"$d\" missing: $descriptions"
done
pactl info | grep -q "^Default Source: sine1$" || fail "first source is not the default"
pactl info | grep -q "^Default Sink: sink1$" || fail "first sink is not the default"
pactl list sinks | grep -qx $'\tDescription: Pipe Out' || fail "the pipe sink is missing"
[ -p "$work/server/sinkpipe1" ] || fail "no FIFO for the pipe sink"

# The pipe sink writes what it plays to its FIFO bit for bit: the test sound
# played on it, the FIFO read whole, holds silence, the sound and silence.
cat "$work/server/sinkpipe1" >"$work/sink.raw" &
reader=$!
timeout 30 paplay --device=pipesink1 "$root/app/assets/YesLR.wav" || fail "paplay failed"
exact() { python3 "$root/tests/integration/lib/exact_sound.py" "$@" --quiet; }
deadline=$((SECONDS + 30))
until exact "$root/app/assets/YesLR.wav" "$work/sink.raw"; do
  [ $SECONDS -lt $deadline ] ||
    fail "the pipe sink: $(python3 "$root/tests/integration/lib/exact_sound.py" \
      "$root/app/assets/YesLR.wav" "$work/sink.raw" 2>&1)"
  sleep 0.1
done
kill "$reader"
wait "$reader" 2>/dev/null || true
reader=""

# The paced pipe sink, read in real time, reports what its FIFO holds as its
# latency (over 100 ms), the sound reaches the reader no sooner than that
# after it was played, and bit for bit (its muted keep-running loop adds
# nothing).
if [ ${#paced[@]} -gt 0 ]; then
  pactl list sinks | grep -qx $'\tDescription: Paced Out' || fail "the paced pipe sink is missing"
  python3 "$root/tests/integration/lib/sink_reader.py" --paced "$work/server/sinkpipe2" \
    "$work/paced.raw" "$work/paced.times" &
  reader=$!
  latency() {
    pactl list sinks | awk '/^\tName:/ {n = $2} n == "pipesink2" && /^\tLatency:/ {print $2}'
  }
  deadline=$((SECONDS + 30))
  until [ "$(latency)" -gt 100000 ]; do
    [ $SECONDS -lt $deadline ] || fail "the paced pipe sink reports $(latency) us"
    sleep 0.1
  done
  played=$(python3 -c 'import time; print(time.monotonic_ns())')
  timeout 30 paplay --device=pipesink2 "$root/app/assets/YesLR.wav" || fail "paplay failed"
  deadline=$((SECONDS + 30))
  until exact "$root/app/assets/YesLR.wav" "$work/paced.raw"; do
    [ $SECONDS -lt $deadline ] ||
      fail "the paced pipe sink: $(python3 "$root/tests/integration/lib/exact_sound.py" \
        "$root/app/assets/YesLR.wav" "$work/paced.raw" 2>&1)"
    sleep 0.1
  done
  delay=$(python3 - "$root/tests/integration/lib" "$work/paced" "$played" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
from rendered import Rendered
r = Rendered(sys.argv[2] + ".raw", sys.argv[2] + ".times")
first = next(i for i in range(len(r.left)) if r.left[i] or r.right[i])
print((r.time_of(first) - int(sys.argv[3])) // 1_000_000)
PY
  )
  [ "$delay" -ge 100 ] || fail "the paced pipe sink rendered the sound $delay ms after it was played"
  kill "$reader"
  wait "$reader" 2>/dev/null || true
  reader=""
fi

# A sink added while the server runs is listed with its description, and is
# gone once removed; removing it twice says so.
"$tool" add-sink "$work/server" late "Late Out ünï"
pactl list sinks | grep -qx $'\tDescription: Late Out ünï' || fail "the added sink is missing"
"$tool" remove-sink "$work/server" late
! pactl list short sinks | grep -qw late || fail "the removed sink is still there"
message=$("$tool" remove-sink "$work/server" late 2>&1) && fail "a missing sink was removed"
[ "$message" = "sound-server: no sink named late" ] || fail "unexpected message: $message"

# Records one second at 44100 Hz, 16-bit stereo from source $1 into file $2.
record() {
  timeout 30 parec --raw --device="$1" --format=s16le --rate=44100 --channels=2 \
    --latency-msec=20 2>/dev/null | head -c 176400 >"$2" || true
}

# The peak level of each channel over the second half of a recording, in dBFS
# ("none" when the recording is short or silent).
peak_levels() {
  tail -c 88200 "$1" | od -An -v -t d2 -w4 | awk '
    { l = $1 < 0 ? -$1 : $1; r = $2 < 0 ? -$2 : $2; if (l > pl) pl = l; if (r > pr) pr = r; n++ }
    END {
      if (n < 22050 || pl == 0 || pr == 0) { print "none none"; exit }
      printf "%.2f %.2f\n", 20 * log(pl / 32768) / log(10), 20 * log(pr / 32768) / log(10)
    }'
}

# Passes when the two levels are within 0.3 dB of the expected left and right.
check_levels() {
  local what=$1 left=$2 right=$3 levels=$4
  awk -v el="$left" -v er="$right" -v l="$levels" 'BEGIN {
      if (split(l, v, " ") != 2 || v[1] == "none") exit 1
      dl = v[1] - el; dr = v[2] - er
      exit !(dl > -0.3 && dl < 0.3 && dr > -0.3 && dr < 0.3)
    }' || fail "$what: expected $left / $right dBFS, measured $levels"
}

record sine1 "$work/half.raw"
check_levels "sine at 0.5" -6.02 -6.02 "$(peak_levels "$work/half.raw")"
record sine2 "$work/quarter.raw"
check_levels "sine at 0.25" -12.04 -12.04 "$(peak_levels "$work/quarter.raw")"

# The pipe source passes on what is written, as soon as it is written: start
# recording first, then write two seconds of left 8192 (-12.04 dBFS) and right
# -16384 (-6.02 dBFS).
record pipe1 "$work/pipe.raw" &
recorder=$!
deadline=$((SECONDS + 30))
until [ -n "$(pactl list short source-outputs)" ]; do
  [ $SECONDS -lt $deadline ] || fail "the recording did not start"
  sleep 0.05
done
for ((i = 0; i < 4410; i++)); do printf '\000\040\000\300'; done >"$work/block"
(for ((i = 0; i < 20; i++)); do cat "$work/block"; done >"$work/server/pipe1") &
writer=$!
wait "$recorder"
check_levels "pipe source" -12.04 -6.02 "$(peak_levels "$work/pipe.raw")"
kill "$writer" 2>/dev/null || true
wait "$writer" 2>/dev/null || true
writer=""

"$tool" stop "$work/server"
! kill -0 "$pid" 2>/dev/null || fail "server still running after stop"
[ ! -e "$work/server/native" ] || fail "socket left behind"
[ ! -e "$work/server/pipe1" ] || fail "pipe left behind"
[ ! -e "$work/server/sinkpipe1" ] || fail "sink FIFO left behind"
! pactl info >/dev/null 2>&1 || fail "server still answers after stop"

# A six-channel pipe sink (on a server of its own: beside it PipeWire's pipe
# sinks now and then lose a period) has the 5.1 layout, and a six-channel
# sound played on it with that layout is heard with each channel on its own:
# on PulseAudio bit for bit.
PULSE_SERVER=$("$tool" start "$work/six" --pipe-sink-channels 6 "Six Out")
sink_field() {
  pactl list sinks | awk -v field="$1" '
    /^\tName:/ { n = $2 } n == "pipesink1" && index($0, "\t" field ": ") == 1 { sub("^\t" field ": ", ""); print }'
}
[ "$(sink_field Description)" = "Six Out" ] || fail "the six-channel pipe sink is missing"
format=$(pactl list short sinks | awk -F '\t' '$2 == "pipesink1" { print $4 }')
[ "$format" = "s16le 6ch 44100Hz" ] || fail "the six-channel pipe sink renders $format"
five_one=front-left,front-right,front-center,lfe,rear-left,rear-right
[ "$(sink_field "Channel Map")" = "$five_one" ] ||
  fail "the six-channel pipe sink's map is $(sink_field "Channel Map")"
tones="$root/tests/integration/lib/tones.py"
hz=(300 400 500 100 700 800)
python3 "$tones" make "$work/six.wav" 44100 0.5 plain "${hz[@]}"
python3 "$root/tests/integration/lib/sink_reader.py" "$work/six/sinkpipe1" "$work/six.raw" \
  "$work/six.times" &
reader=$!
deadline=$((SECONDS + 30))
until [ -e "$work/six.times" ]; do
  [ $SECONDS -lt $deadline ] || fail "the six-channel pipe sink's FIFO does not open"
  sleep 0.05
done
timeout 30 paplay --device=pipesink1 --channel-map="$five_one" "$work/six.wav" ||
  fail "paplay failed on six channels"
deadline=$((SECONDS + 30))
until python3 "$tones" ended "$work/six.raw" "$work/six.times" 6; do
  [ $SECONDS -lt $deadline ] || fail "the six-channel sound did not come to its end"
  sleep 0.1
done
kill "$reader"
wait "$reader" 2>/dev/null || true
reader=""
python3 "$tones" levels "$work/six.raw" 6 "${hz[@]}" -- 0:300 1:400 2:500 3:100 4:700 5:800 ||
  fail "the six-channel pipe sink moved a channel"
if [ "${TESSALINE_SOUND_SERVER:-}" != pipewire ]; then
  python3 "$root/tests/integration/lib/exact_sound.py" "$work/six.wav" "$work/six.raw" ||
    fail "the six-channel pipe sink changed the sound"
fi
"$tool" stop "$work/six"
echo "ok"
