#!/usr/bin/env bash
# tessaline --follow-devices on a real sound server under a real X server: a
# sink added while it runs appears as the third output row with the output
# count 3, and when it is removed the row and the count are as before. Without
# the option, the window stays as the first showing wrote it.
set -euo pipefail
bin=$1
root=$2
tool="$root/tools/sound-server"
source "$root/tests/integration/lib/display.bash"

work=$(mktemp -d /tmp/tessaline-follow.XXXXXX)
app=""
cleanup() {
  [ -z "$app" ] || kill "$app" 2>/dev/null || true
  [ -z "${XVFB_PID:-}" ] || kill "$XVFB_PID" 2>/dev/null || true
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "follow_devices: $*" >&2
  exit 1
}

PULSE_SERVER=$("$tool" start "$work/server" --sink "Out A" --sink "Out B")
export PULSE_SERVER PULSE_CLIENTCONFIG="$work/server/client.conf" PULSE_COOKIE="$work/server/cookie"
export XDG_CONFIG_HOME="$work/config"
unset TESSALINE_AUDIO
start_xvfb 1600x1000x24

# snapshot <name>: the output count and the third output row's label.
snapshot() {
  local wid
  wid=$(window_id "TESSALINE AUDIO DRIVER")
  import -window "$wid" -crop 30x24+386+56 +repage "$work/$1-count.png" &&
    import -window "$wid" -crop 240x18+386+236 +repage "$work/$1-row.png"
}
# same <a> <b>: both snapshots show the same pixels.
same() {
  local part
  for part in count row; do
    [ "$(compare -metric AE "$work/$1-$part.png" "$work/$2-$part.png" null: 2>&1)" = 0 ] ||
      return 1
  done
}
# matches <name>: a new snapshot shows what that one showed.
matches() {
  snapshot now && same "$1" now
}
# settles <name>: takes snapshots until two in a row agree.
settles() {
  snapshot "$1-a" && snapshot "$1" && same "$1-a" "$1"
}
add_sink() {
  pactl load-module module-null-sink sink_name=sink3 rate=44100 \
    "sink_properties=device.description=OutC" >/dev/null
}
remove_sink() {
  pactl list short modules | awk '/sink_name=sink3( |$)/ {print $1}' | xargs -r -n1 pactl unload-module
}
# changed_from <name>: a new snapshot differs from that one in both parts.
changed_from() {
  snapshot now || return 1
  local part
  for part in count row; do
    [ "$(compare -metric AE "$work/$1-$part.png" "$work/now-$part.png" null: 2>&1)" != 0 ] ||
      return 1
  done
}

run() {
  "$bin/tessaline" "$@" >"$work/out.log" 2>&1 &
  app=$!
  wait_for 60 window_id "TESSALINE AUDIO DRIVER" || fail "no window: $(cat "$work/out.log")"
  close_info_window || fail "the info window did not close"
  wait_for 30 settles before || fail "the window does not settle"
}

run --follow-devices
add_sink
wait_for 30 changed_from before || fail "the added sink does not show"
remove_sink
wait_for 30 matches before || fail "the window is not as before after the sink went"
close_main_window "$app" || fail "still running after its close button"
app=""

# Without the option a sink that comes changes nothing. Nothing happens to
# wait for, so the window is watched for well over the follower's pause.
run
add_sink
wait_for 10 bash -c "pactl list short sinks | grep -q sink3"
deadline=$((SECONDS + 2))
while [ $SECONDS -lt $deadline ]; do
  matches before || fail "without --follow-devices the window changed"
done
close_main_window "$app" || fail "still running after its close button"
app=""
echo "follow_devices: ok"
