#!/usr/bin/env bash
# The sound server stops while nine input rows record and a row plays: every
# row closes its device and the window says so in exactly one message box.
# When the server is back, with --follow-devices the window reconnects and
# the meters light again by themselves; without it, Refresh brings them back.
set -euo pipefail
bin=$1
root=$2
tool="$root/tools/sound-server"
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/meters.bash"
source "$root/tests/integration/lib/script.bash"
begin_test server_lost
on_cleanup() {
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
}

export XDG_CONFIG_HOME="$work/config"
unset TESSALINE_AUDIO
start_xvfb 1600x1000x24
title="TESSALINE AUDIO DRIVER"
# The left meter of each input row, then the first output row's.
inputs=(69,88 69,160 69,224 69,291 69,357 69,426 69,490 69,554 69,620)
output=386,88

start_server() {
  local devices=() k
  for k in 1 2 3 4 5 6 7 8 9; do devices+=(--sine "Mic $k" 440 0.5); done
  PULSE_SERVER=$("$tool" start "$work/server" --sink "Out A" "${devices[@]}")
  export PULSE_SERVER PULSE_CLIENTCONFIG="$work/server/client.conf"
  export PULSE_COOKIE="$work/server/cookie"
}
# windows_titled: how many mapped windows carry the program's title (the main
# window and its message boxes).
windows_titled() {
  xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | wc -l
}
box_up() { [ "$(windows_titled)" -ge 2 ]; }
no_box() { [ "$(windows_titled)" = 1 ]; }
# readings: the lit spots of every input row's left meter and of the output's.
readings() {
  import -window "$wid" "$work/shot.png" || return 1
  local point
  for point in "${inputs[@]}" "$output"; do lit "$work/shot.png" ${point/,/ }; done | xargs
}
# inputs_lit: every input row meters its sine (-6 dBFS: about 60 spots).
inputs_lit() {
  local r
  r=$(readings) || return 1
  echo "$r" | awk '{for (i = 1; i <= 9; i++) if ($i < 55) exit 1}'
}
output_lit() {
  import -window "$wid" "$work/shot.png" && [ "$(lit "$work/shot.png" ${output/,/ })" -gt 0 ]
}
all_dark() { [ "$(readings)" = "0 0 0 0 0 0 0 0 0 0" ]; }
# dismiss_box: answers the message box with its default button.
dismiss_box() {
  local box
  for box in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
    [ "$box" = "$wid" ] && continue
    xdotool mousemove --window "$box" 20 20 click 1 key Return 2>/dev/null || true
  done
  wait_for 5 no_box
}

# lose_server <label> <options...>: the server goes while the rows run; one
# box, and every row dark once it is answered.
lose_server() {
  local label=$1
  shift
  start_server
  "$bin/tessaline" "$@" >"$work/$label.log" 2>&1 &
  app=$!
  wait_for 60 window_id "$title" || fail "$label: no main window: $(cat "$work/$label.log")"
  wid=$(window_id "$title")
  close_info_window || fail "$label: the info window did not close"
  wait_for 30 inputs_lit || fail "$label: the inputs do not meter: $(readings)"
  xdotool mousemove --window "$wid" $((639 + 22)) $((88 + 20)) click 1
  wait_for 30 output_lit || fail "$label: the row does not play"
  "$tool" stop "$work/server" >/dev/null
  wait_for 30 box_up || fail "$label: no message box after the server stopped"
  # Each box is counted and answered until every row is dark with no box up:
  # every component has reported by then (each does when it closes).
  local boxes=0 up deadline=$((SECONDS + 30))
  until all_dark && no_box; do
    [ $SECONDS -lt $deadline ] || fail "$label: rows still lit or a box up: $(readings)"
    up=$(($(windows_titled) - 1))
    if [ "$up" -gt 0 ]; then
      boxes=$((boxes + up))
      [ "$boxes" = 1 ] || fail "$label: $boxes message boxes"
      dismiss_box || fail "$label: the message box does not go"
    fi
    sleep 0.1
  done
  [ "$boxes" = 1 ] || fail "$label: $boxes message boxes"
}

lose_server follow --follow-devices
start_server
wait_for 60 inputs_lit || fail "follow: the meters do not come back with the server: $(readings)"
no_box || fail "follow: a message box when the server came back"
end_program "$work/follow.log"
"$tool" stop "$work/server" >/dev/null

lose_server refresh
start_server
# Nothing reconnects by itself without the option (watched for well over the
# back-end's pause between attempts and the follower's); Refresh does.
deadline=$((SECONDS + 3))
while [ $SECONDS -lt $deadline ]; do
  all_dark || fail "refresh: the meters came back without Refresh"
done
xdotool mousemove --window "$wid" $((64 + 100)) $((696 + 16)) click 1
wait_for 60 inputs_lit || fail "refresh: Refresh does not bring the meters back: $(readings)"
end_program "$work/refresh.log"
echo "server_lost: ok"
