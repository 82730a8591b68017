#!/usr/bin/env bash
# The program is asked to end while a message box of its own is up: a row
# plays on a real sound server, the server is stopped (the output's error box
# appears), then SIGTERM comes; in a second run the X server goes instead.
# Each time the program ends without a crash or a sanitizer report, with the
# exit code of that route as without a box (0 for the request, 1 for the lost
# display), and writes the window's placement.
set -euo pipefail
bin=$1
root=$2
tool="$root/tools/sound-server"
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/script.bash"
begin_test close_under_message_box
on_cleanup() {
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
}

export XDG_CONFIG_HOME="$work/config"
store="$XDG_CONFIG_HOME/tessaline/registry"
unset TESSALINE_AUDIO

# windows_titled <title>: how many mapped windows carry that title.
windows_titled() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | wc -l
}
# box_up: a second window with the program's title (its message box) shows.
box_up() {
  [ "$(windows_titled "TESSALINE AUDIO DRIVER")" -ge 2 ]
}

# end_under_box <label> <term|display> <exit code wanted>
end_under_box() {
  local label=$1 how=$2 wanted=$3 code=0
  PULSE_SERVER=$("$tool" start "$work/server" --sink "Out A" --sine "Mic" 440 0.5)
  export PULSE_SERVER PULSE_CLIENTCONFIG="$work/server/client.conf"
  export PULSE_COOKIE="$work/server/cookie"
  start_xvfb 1600x1000x24
  rm -f "$store"
  start_program "$work/$label.log"
  close_info_window || fail "$label: the info window did not close"
  # Row 1's play button; the test sound lasts about two seconds.
  xdotool mousemove --window "$wid" $((639 + 22)) $((88 + 20)) click 1
  sleep 0.3
  "$tool" stop "$work/server" >/dev/null
  wait_for 30 box_up || fail "$label: no message box after the server stopped"
  case $how in
    term) kill -TERM "$app" ;;
    display) kill "$XVFB_PID" ;;
  esac
  wait_for 30 program_ended "$app" || fail "$label: still running 30 s after the request"
  wait "$app" || code=$?
  app=""
  kill "$XVFB_PID" 2>/dev/null || true
  wait "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=""
  if grep -qE "AddressSanitizer|LeakSanitizer|ThreadSanitizer|runtime error" "$work/$label.log"; then
    fail "$label: sanitizer report: $(cat "$work/$label.log")"
  fi
  [ "$code" = "$wanted" ] || fail "$label: exit code $code ($wanted wanted): $(cat "$work/$label.log")"
}

end_under_box term term 0
grep -q '^"wide" = dword:' "$store" || fail "term: no placement written"
end_under_box display display 1
grep -q '^"wide" = dword:' "$store" || fail "display: no placement written"
echo "close_under_message_box: ok"
