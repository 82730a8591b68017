#!/usr/bin/env bash
# The program loses its display: first its window is killed (as a window
# manager's "kill" does), then the X server goes away (as when the session
# ends) while its input rows record. Each time it ends at once with exit code
# 1 and no crash (no signal, no sanitizer report), and writes the window's
# placement from where it last knew the window to be. The first run also names an
# audio back-end that does not exist, which the program reports and then runs
# without devices.
set -euo pipefail
bin=$1
root=$2
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/script.bash"
begin_test display_lost

export XDG_CONFIG_HOME="$work/config"
store="$XDG_CONFIG_HOME/tessaline/registry"

# lose_display <windowkill|server>
lose_display() {
  local how=$1 code=0
  start_xvfb 1600x1000x24
  rm -f "$store"
  start_program "$work/$how.log"
  case $how in
    windowkill) xdotool windowkill "$wid" ;;
    server) kill "$XVFB_PID" ;;
  esac
  wait_for 30 program_ended "$app" || fail "$how: still running 30 s after losing its display"
  wait "$app" || code=$?
  app=""
  kill "$XVFB_PID" 2>/dev/null || true
  wait "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=""
  if grep -qE "AddressSanitizer|LeakSanitizer|ThreadSanitizer|runtime error" "$work/$how.log"; then
    fail "$how: sanitizer report: $(cat "$work/$how.log")"
  fi
  [ "$code" = 1 ] || fail "$how: exit code $code (1 wanted): $(cat "$work/$how.log")"
  grep -q '^"wide" = dword:' "$store" || fail "$how: no placement written"
}

export TESSALINE_AUDIO=loud
lose_display windowkill
grep -qxF 'tessaline: TESSALINE_AUDIO="loud": unknown audio back-end "loud"' "$work/windowkill.log" ||
  fail "unknown back-end not reported: $(cat "$work/windowkill.log")"
export TESSALINE_AUDIO="virtual:in=Desk Mic@440:-6:-12|Line In@1000:-20:-3;out=Speakers"
lose_display server
echo "display_lost: ok"
