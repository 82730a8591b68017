#!/usr/bin/env bash
# tessaline-devices --check over paths built like rooms and long chains: a
# streaming effect chain (sox) between a pipe sink and a pipe source mixes the
# far speaker into each channel with reverb (ok, and swapped with the cables
# crossed), delays the sound by 1.5 s (ok with that delay), reverses one
# channel's polarity (ok with a note) or clips it (ok, clipped); five runs on
# one path give delays within 4 ms of each other.
set -euo pipefail
bin=$1
root=$2
tool="$root/tools/sound-server"

work=$(mktemp -d /tmp/tessaline-rooms.XXXXXX)
chains=()
cleanup() {
  local pid
  # sox finishes its output on a polite signal, which blocks once no one reads.
  for pid in "${chains[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "loopback_rooms: $*" >&2
  exit 1
}

# One pipe sink and one pipe source per path (a chain is never restarted: a
# pipe source on PipeWire does not take a new writer).
paths=(Room Crossed Long Inverted Clipped)
devices=()
for name in "${paths[@]}"; do devices+=(--pipe-sink "$name" --pipe "$name mic"); done
PULSE_SERVER=$("$tool" start "$work/server" "${devices[@]}")
export PULSE_SERVER PULSE_CLIENTCONFIG="$work/server/client.conf" PULSE_COOKIE="$work/server/cookie"
unset TESSALINE_AUDIO

# path <n> <sox effects...>: what sink n plays reaches source n through these
# effects.
path() {
  local n=$1 raw=(-t raw -r 44100 -e signed -b 16 -c 2)
  shift
  sox -q --buffer 2048 "${raw[@]}" "$work/server/sinkpipe$n" "${raw[@]}" "$work/server/pipe$n" \
    "$@" 2>/dev/null &
  chains+=($!)
}
# A stereo microphone in a room: each channel hears the far speaker 6 dB down,
# and the room's reverb; then the same with the cables crossed.
room=(reverb 50 50 80 100 0 -4)
path 1 remix 1v0.6,2v0.3 2v0.6,1v0.3 "${room[@]}"
path 2 remix 2v0.6,1v0.3 1v0.6,2v0.3 "${room[@]}"
# A long chain: the sound arrives 1.5 s late.
path 3 remix 1v0.6,2v0.3 2v0.6,1v0.3 delay 1.5 1.5
# One channel's wire the wrong way round; far too much gain.
path 4 remix 1v1 2v-1
path 5 remix 1v1 2v1 gain 20

# check <name> <expected verdict> <python condition on doc> <path>
# [options...]: one run from the path's sink to its source (by their names),
# in JSON, kept as <name>.json.
check() {
  local name=$1 want=$2 condition=$3 path=$4 rc=0
  shift 4
  "$bin/tessaline-devices" --check "$path" "$path mic" --json "$@" >"$work/$name.json" \
    2>"$work/$name.err" || rc=$?
  python3 - "$work/$name.json" "$want" "$rc" "$condition" <<'PY' ||
import json, sys
doc = json.load(open(sys.argv[1]))
want, rc, condition = sys.argv[2], int(sys.argv[3]), sys.argv[4]
assert doc["verdict"] == want, doc
assert rc == (0 if want == "ok" else 3), rc
assert doc["thresholds"] == {"detection_db": 20, "mono_db": 2}, doc
left, right = doc["words"]["left"], doc["words"]["right"]
# PulseAudio's pipe sink hands what it plays to the chain up to some 25 ms
# before its clock says it was heard: a delay a little below 0 is right there.
if want != "silent":
    assert doc["delay_ms"] is not None and doc["delay_ms"] > -50, doc
assert eval(" ".join(condition.split())), doc
PY
    fail "$name: expected $want and $condition: $(cat "$work/$name.json" "$work/$name.err")"
  cat "$work/$name.json"
}

check room ok 'left["heard"] == ["left"] and right["heard"] == ["right"] and
  -9 < left["crosstalk_db"] < -3 and -9 < right["crosstalk_db"] < -3' Room --max-delay 1
for run in 1 2 3 4 5; do
  check "run$run" ok 'True' Room --max-delay 1
done
# PulseAudio's pipe source hands on what the chain writes in pieces of 46 ms,
# each 0 to 30 ms after its place on the clock while a stream plays on the
# pipe sink: the check averages that out.
python3 - "$work" <<'PY' || fail "delays spread: $(cat "$work"/run*.json)"
import json, sys
delays = [json.load(open(f"{sys.argv[1]}/run{n}.json"))["delay_ms"] for n in range(1, 6)]
print("delays", delays)
assert max(delays) - min(delays) <= 4, delays
PY
check crossed swapped 'left["heard"] == ["right"] and right["heard"] == ["left"] and
  -9 < left["crosstalk_db"] < -3' Crossed --max-delay 1
# A stream of silence keeps the long chain's sink running (on PipeWire a pipe
# sink renders only while a stream plays), so that its tail comes out after
# the sound has ended; only meanwhile, since it moves the sink's latency.
pacat --playback --raw --device=pipesink3 /dev/zero >/dev/null 2>&1 &
chains+=($!)
check long ok '1450 <= doc["delay_ms"] < 1700' Long
# ... and beyond a shorter search: silent, saying why.
check short silent 'doc["delay_ms"] is None and left["heard"] == right["heard"] == [] and
  doc["reason"] == "nothing matched within 1 s; --max-delay extends the search"' Long \
  --max-delay 1
check inverted ok 'right["inverted"] == ["right"] and left["inverted"] == [] and
  len(doc["notes"]) == 1' Inverted --max-delay 1
check clipped ok 'doc["clipped"] and left["clipped"] == ["left"] and
  right["clipped"] == ["right"] and left["level_dbfs"]["left"] <= 0' Clipped --max-delay 1
echo "loopback_rooms: ok"
