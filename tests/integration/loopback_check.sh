#!/usr/bin/env bash
# tessaline-devices --check OUT IN on a real sound server whose inputs are
# loopback cables made of remapped sink monitors: a straight cable is ok, a
# swapped one swapped, a downmix mono, a cable with a dead channel left-only or
# right-only, and a cable from another sink silent; each with its exit code,
# through both outputs, and the same with --json; devices by name, a name two
# inputs share, usage errors as JSON, and no sound server (exit code 1).
set -euo pipefail
bin=$1
root=$2
tool="$root/tools/sound-server"

work=$(mktemp -d /tmp/tessaline-check.XXXXXX)
cleanup() {
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "loopback_check: $*" >&2
  exit 1
}

PULSE_SERVER=$("$tool" start "$work/server" --sink "Speakers" --sink "Elsewhere")
export PULSE_SERVER PULSE_CLIENTCONFIG="$work/server/client.conf" PULSE_COOKIE="$work/server/cookie"
unset TESSALINE_AUDIO

# cable <description> <module arguments...>: an input that records sink1's
# monitor (or what the arguments name) through a channel map.
cable() {
  local description=$1
  shift
  pactl load-module module-remap-source "source_name=cable$((++cables))" "$@" \
    "source_properties=device.description=$description" >/dev/null
}
cables=0
cable Straight master=sink1.monitor
cable Swapped master=sink1.monitor master_channel_map=front-right,front-left \
  channel_map=front-left,front-right remix=no
cable Mono master=sink1.monitor channels=1 channel_map=mono
cable LeftOnly master=sink1.monitor master_channel_map=front-left,aux0 \
  channel_map=front-left,front-right remix=no
cable RightOnly master=sink1.monitor master_channel_map=aux0,front-right \
  channel_map=front-left,front-right remix=no
cable Other master=sink2.monitor
cable Twin master=sink1.monitor
cable Twin master=sink2.monitor

"$bin/tessaline-devices" >"$work/list.txt" 2>/dev/null
grep -q "^Input Drivers: 8$" "$work/list.txt" || fail "unexpected inputs: $(cat "$work/list.txt")"

verdicts=(ok swapped mono left-only right-only silent)
for output in sound-buffer wave; do
  flag=()
  [ "$output" = wave ] && flag=(--wave)
  inputs=(1 2 3 4 5 6)
  # The wave output shares everything past the device with the other one.
  [ "$output" = wave ] && inputs=(1 2 6)
  for input in "${inputs[@]}"; do
    want=${verdicts[$((input - 1))]}
    want_code=3
    [ "$want" = ok ] && want_code=0
    rc=0
    "$bin/tessaline-devices" --check 1 "$input" --max-delay 0.5 "${flag[@]}" >"$work/out.txt" \
      2>"$work/err.txt" || rc=$?
    cat "$work/out.txt"
    grep -Eq "^  verdict: $want( \(.*\))?\$" "$work/out.txt" ||
      fail "$output, input $input: expected $want: $(cat "$work/out.txt" "$work/err.txt")"
    [ "$rc" -eq "$want_code" ] || fail "$output, input $input: exit code $rc for $want"
  done
done

# The same in JSON: one document with the devices, both words, the delay and
# the verdict.
for input in 1 2 6; do
  rc=0
  "$bin/tessaline-devices" --check 1 "$input" --max-delay 0.5 --json >"$work/out.json" \
    2>"$work/err.txt" || rc=$?
  python3 - "$work/out.json" "$input" "$rc" <<'PY' || fail "json, input $input: $(cat "$work/out.json")"
import json, math, sys
doc = json.load(open(sys.argv[1]))
inp, rc = int(sys.argv[2]), int(sys.argv[3])
want = {1: "ok", 2: "swapped", 6: "silent"}[inp]
assert doc["verdict"] == want, doc
assert rc == (0 if want == "ok" else 3), rc
assert doc["output"] == {"index": 1, "name": "Speakers"}, doc
assert doc["input"]["index"] == inp, doc
left, right = doc["words"]["left"], doc["words"]["right"]
assert doc["thresholds"] == {"detection_db": 20, "mono_db": 2}, doc
assert doc["max_delay_ms"] == 500 and doc["notes"] == [] and doc["clipped"] is False, doc
if want == "silent":
    assert doc["delay_ms"] is None and left["heard"] == [] and right["heard"] == [], doc
    assert doc["reason"] == "the input recorded only silence", doc
else:
    # A cable adds no delay of its own: the sound arrives within what the
    # server buffers.
    assert -3 < doc["delay_ms"] < 500, doc
    near = lambda v, ref: v is not None and abs(v - ref) < 3
    heard_left = "left" if want == "ok" else "right"
    heard_right = "right" if want == "ok" else "left"
    assert left["heard"] == [heard_left] and right["heard"] == [heard_right], doc
    assert near(left["level_dbfs"][heard_left], -3.1), doc
    assert left["level_dbfs"][heard_right] is None, doc
    # A cable carries nothing across: no crosstalk at all.
    assert left["crosstalk_db"] is None and right["crosstalk_db"] is None, doc
    assert left["clipped"] == left["inverted"] == [], doc
PY
done
# Through either output, whose position counts what was heard, a monitor
# records the sound just when the output's clock says it was heard: a delay
# within a few milliseconds of 0, on either side, and never "not found".
for flag in "" --wave; do
  for run in 1 2 3; do
    "$bin/tessaline-devices" --check 1 1 --max-delay 0.5 --json $flag >"$work/heard.json" \
      2>"$work/err.txt" ||
      fail "${flag:-sound-buffer} run $run: exit code $?: $(cat "$work/heard.json" "$work/err.txt")"
    python3 - "$work/heard.json" <<'PY' || fail "${flag:-sound-buffer} json: $(cat "$work/heard.json")"
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["verdict"] == "ok", doc
assert doc["delay_ms"] is not None and -3 < doc["delay_ms"] < 3, doc
PY
  done
done

# The listing, the levels and a play run in JSON too.
"$bin/tessaline-devices" --json --levels 0.3 >"$work/list.json" 2>/dev/null ||
  fail "listing in JSON: exit code $?"
"$bin/tessaline-devices" --json --play 2 "$bin/YesLR.wav" >"$work/play.json" 2>/dev/null ||
  fail "play in JSON: exit code $?"
"$bin/tessaline-devices" --json --play 3 "$bin/YesLR.wav" >"$work/bad.json" 2>/dev/null &&
  fail "play on a device that does not exist succeeded"
python3 - "$work" "$bin/YesLR.wav" <<'PY' || fail "JSON: $(cat "$work"/*.json)"
import json, sys
work, sound = sys.argv[1], sys.argv[2]
listing = json.load(open(work + "/list.json"))
assert [d["name"] for d in listing["outputs"]] == ["Speakers", "Elsewhere"], listing
assert [d["index"] for d in listing["inputs"]] == [1, 2, 3, 4, 5, 6, 7, 8], listing
assert listing["inputs"][0]["name"] == "Straight", listing
# Nothing plays: every cable is silent, which JSON writes as null.
assert all(d["peak_dbfs"] == {"left": None, "right": None} for d in listing["inputs"]), listing
play = json.load(open(work + "/play.json"))
assert play["file"] == sound and play["output"] == {"index": 2, "name": "Elsewhere"}, play
assert 2000 <= play["played_ms"] < 10000, play
assert json.load(open(work + "/bad.json"))["error"].startswith("there is no output device 3"), play
PY

# Devices by their names as listed.
rc=0
"$bin/tessaline-devices" --check Speakers Swapped --max-delay 0.5 >"$work/out.txt" 2>&1 || rc=$?
grep -q "^Check: output 1 Speakers -> input 2 Swapped$" "$work/out.txt" &&
  grep -q "^  verdict: swapped$" "$work/out.txt" && [ "$rc" -eq 3 ] ||
  fail "by names: exit code $rc: $(cat "$work/out.txt")"

# Usage errors: exit code 2, and under --json a document that says why.
for args in "--check 1" "--check 1 9" "--check 0 1" "--check 1 1 --levels" \
  "--check 1 1 --max-delay 11" "--check 1 Nowhere" "--check Speakers Twin" "--max-delay 2"; do
  rc=0
  # shellcheck disable=SC2086
  "$bin/tessaline-devices" $args --json >"$work/usage.json" 2>"$work/usage.err" || rc=$?
  [ "$rc" -eq 2 ] || fail "$args: exit code $rc, expected 2"
  python3 -c 'import json, sys; assert json.load(open(sys.argv[1]))["error"]' "$work/usage.json" ||
    fail "$args: no JSON error: $(cat "$work/usage.json")"
done
# A name two inputs share names both.
"$bin/tessaline-devices" --check Speakers Twin >/dev/null 2>"$work/twin.err" || true
grep -q 'more than one input device is named "Twin": 7 and 8' "$work/twin.err" ||
  fail "the shared name: $(cat "$work/twin.err")"

# No sound server answering: exit code 1 with the server's message.
rc=0
PULSE_SERVER="unix:$work/nothing" "$bin/tessaline-devices" --check 1 1 --json >"$work/none.json" \
  2>/dev/null || rc=$?
[ "$rc" -eq 1 ] || fail "without a server: exit code $rc"
grep -q '^{"error":"PulseAudio: ' "$work/none.json" || fail "without a server: $(cat "$work/none.json")"
echo "loopback_check: ok"
