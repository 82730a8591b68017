#!/usr/bin/env bash
# tessaline-devices against a private sound server: the server's sources (not
# the monitors of its sinks) and sinks, by description, in the server's order.
# Then with no server reachable: 0 and 0, at once. A back-end that is named but
# cannot be had is an error that says why.
set -euo pipefail
app=$1
root=$2
program="$app/tessaline-devices"
[ -x "$program" ] || { echo "missing $program" >&2; exit 1; }

work=$(mktemp -d /tmp/tessaline-devices.XXXXXX)
cleanup() {
  "$root/tools/sound-server" stop "$work/server" || true
  rm -rf "$work"
}
trap cleanup EXIT

server=$("$root/tools/sound-server" start "$work/server" \
  --sink "Desk Speakers" \
  --sine "Desk Mic" 440 0.5 \
  --sink "USB Headset, Out" \
  --pipe "Line In (rear)" \
  --sine "Webcam Mic ünï" 1000 0.25)

expected="Input Drivers: 3
  1: Desk Mic
  2: Line In (rear)
  3: Webcam Mic ünï
Output Drivers: 2
  1: Desk Speakers
  2: USB Headset, Out"
actual=$(env -u TESSALINE_AUDIO PULSE_SERVER="$server" "$program")
if [ "$actual" != "$expected" ]; then
  echo "with the server: expected" >&2
  echo "$expected" >&2
  echo "got" >&2
  echo "$actual" >&2
  exit 1
fi

# Every device is listed, not only the first nine.
inputs=$(printf 'Mic %s|' $(seq 1 12))
actual=$(TESSALINE_AUDIO="virtual:in=$inputs;out=Only Out" "$program")
[ "$(sed -n 1p <<<"$actual")" = "Input Drivers: 12" ] || { echo "bad count: $actual" >&2; exit 1; }
[ "$(sed -n 13p <<<"$actual")" = "  12: Mic 12" ] || { echo "device 12 missing: $actual" >&2; exit 1; }
[ "$(sed -n 15p <<<"$actual")" = "  1: Only Out" ] || { echo "output missing: $actual" >&2; exit 1; }

# Names that carry control characters are written escaped (as text, and as
# JSON strings), and names longer than the 31 bytes a device record holds are
# cut between two characters as seen: never inside a UTF-8 sequence, before
# a combining accent, after a zero-width joiner or within a flag.
family=$'\U1F468\u200D\U1F469\u200D\U1F467'
flag=$'\U1F1E9\U1F1EA'
c1=$'\xC2\x9B'
a24=$(printf 'a%.0s' $(seq 24))
b29=$(printf 'b%.0s' $(seq 29))
c27=$(printf 'c%.0s' $(seq 27))
names="virtual:in=Two"$'\n'"Lines|Esc"$'\e'"[31mRed|Back\\slash${c1}C1|${a24}${family}|${b29}e"$'\u0301'";out=${c27}${flag}|Tab"$'\t'"Out"
actual=$(TESSALINE_AUDIO="$names" "$program")
expected="Input Drivers: 5
  1: Two\\nLines
  2: Esc\\x1B[31mRed
  3: Back\\\\slash\\xC2\\x9BC1
  4: $a24
  5: $b29
Output Drivers: 2
  1: $c27
  2: Tab\\tOut"
if [ "$actual" != "$expected" ]; then
  printf 'escaped names: expected\n%s\ngot\n%s\n' "$expected" "$actual" >&2
  exit 1
fi
actual=$(TESSALINE_AUDIO="$names" "$program" --json)
expected='{"inputs":[{"index":1,"name":"Two\nLines"},{"index":2,"name":"Esc\u001b[31mRed"},'
expected+='{"index":3,"name":"Back\\slash\u009bC1"},{"index":4,"name":"'$a24'"},'
expected+='{"index":5,"name":"'$b29'"}],"outputs":[{"index":1,"name":"'$c27'"},'
expected+='{"index":2,"name":"Tab\tOut"}]}'
if [ "$actual" != "$expected" ]; then
  printf 'escaped names, JSON: expected\n%s\ngot\n%s\n' "$expected" "$actual" >&2
  exit 1
fi

# No server: an unused socket path and an empty runtime folder.
mkdir -p "$work/empty"
start=$(date +%s%N)
actual=$(env -u TESSALINE_AUDIO -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
  HOME="$work/empty" XDG_RUNTIME_DIR="$work/empty" PULSE_SERVER="unix:$work/empty/native" \
  timeout 20 "$program")
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
expected="Input Drivers: 0
Output Drivers: 0"
if [ "$actual" != "$expected" ]; then
  echo "without a server: got" >&2
  echo "$actual" >&2
  exit 1
fi
[ "$elapsed_ms" -lt 2500 ] || { echo "without a server it took ${elapsed_ms} ms" >&2; exit 1; }

# refused <TESSALINE_AUDIO> <message>: exit code 1, nothing listed, the message.
refused() {
  local code=0
  env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS HOME="$work/empty" XDG_RUNTIME_DIR="$work/empty" \
    PULSE_SERVER="unix:$work/empty/native" TESSALINE_AUDIO="$1" timeout 20 "$program" \
    >"$work/out.txt" 2>"$work/err.txt" || code=$?
  if [ "$code" != 1 ] || [ -s "$work/out.txt" ] || [ "$(cat "$work/err.txt")" != "$2" ]; then
    echo "TESSALINE_AUDIO=$1: exit code $code, output:" >&2
    cat "$work/out.txt" "$work/err.txt" >&2
    exit 1
  fi
}
refused pulse 'tessaline-devices: TESSALINE_AUDIO="pulse": PulseAudio: Connection refused'
refused loud 'tessaline-devices: TESSALINE_AUDIO="loud": unknown audio back-end "loud"'
refused 'virtual:in=Mic;outs=Out' \
  'tessaline-devices: TESSALINE_AUDIO="virtual:in=Mic;outs=Out": virtual device list: unknown part "outs=Out"'
echo "ok"
