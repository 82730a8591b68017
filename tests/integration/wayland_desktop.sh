#!/usr/bin/env bash
# The program on a Wayland desktop. With an X display there as well (as a
# Wayland session's XWayland gives) it runs on X: its window opens at the
# stored position, and a request to end it (SIGTERM) closes it as its close
# button does, writing where the window was. With Wayland alone it runs as a
# Wayland client: its meters run, and closing writes the size but keeps the
# stored position, which the program cannot learn there. An X display that
# does not open leaves Wayland to run on. A Wayland display that cannot be
# opened is reported; one that goes away ends the program with exit code 1.
set -euo pipefail
bin=$1
root=$2
source "$root/tests/integration/lib/display.bash"

work=$(mktemp -d /tmp/tessaline-wayland.XXXXXX)
app=""
cleanup() {
  [ -z "$app" ] || kill -KILL "$app" 2>/dev/null || true
  [ -z "${XVFB_PID:-}" ] || kill "$XVFB_PID" 2>/dev/null || true
  [ -z "${WESTON_PID:-}" ] || kill "$WESTON_PID" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "wayland_desktop: $*" >&2
  exit 1
}

export XDG_CONFIG_HOME="$work/config"
export TESSALINE_AUDIO="virtual:in=Desk Mic@440:-6:-12;out=Speakers"
export TESSALINE_STATS="$work/stats"
export XDG_SESSION_TYPE=wayland
store="$XDG_CONFIG_HOME/tessaline/registry"

# store_placement <top> <left> <wide> <hei>
store_placement() {
  mkdir -p "$(dirname "$store")"
  printf 'tessaline registry 1\n\n[HKEY_CURRENT_USER "Quorvane" "Tessaline"]\n"top" = dword:%s\n"left" = dword:%s\n"wide" = dword:%s\n"hei" = dword:%s\n' \
    "$@" >"$store"
}
# stored <name>: the integer stored under that name.
stored() {
  sed -n "s/^\"$1\" = dword:\(-\?[0-9]*\)\$/\1/p" "$store"
}
# uses_wayland <pid>: whether the program runs as a Wayland client.
uses_wayland() {
  grep -q libQt6WaylandClient "/proc/$1/maps"
}
# slices_shown: how many level slices have reached the meters so far.
slices_shown() {
  [ -s "$TESSALINE_STATS" ] && awk '{print $2}' "$TESSALINE_STATS" || echo 0
}
slices_beyond() {
  [ "$(slices_shown)" -gt "$1" ]
}
# window_at <x> <y>: whether the main window's top left corner is there.
window_at() {
  [ "$(window_geometry "TESSALINE AUDIO DRIVER" | cut -d' ' -f1,2)" = "$1 $2" ]
}
# end_by_request <log>: asks the program to end and waits for a clean end.
end_by_request() {
  kill -TERM "$app"
  wait_for 30 program_ended "$app" || fail "still running 30 s after SIGTERM"
  wait "$app" || fail "exit code $? after SIGTERM: $(cat "$1")"
  app=""
}

start_weston "$work"

# In a ThreadSanitizer build the program is not judged by its reports here:
# the Wayland client, EGL and GL dispatch libraries that a Wayland session
# loads are not instrumented, and their locking reads as misuse. The
# program's own threads are checked by the other tests, which run the same
# code on X and the virtual back-end.
if ldd "$bin/tessaline" 2>/dev/null | grep -q libtsan; then
  export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}report_bugs=0"
fi

# A Wayland display that is not there is reported as such.
code=0
env -u DISPLAY WAYLAND_DISPLAY=tessaline-absent timeout 20 "$bin/tessaline" \
  >"$work/absent.log" 2>&1 || code=$?
[ "$code" = 1 ] || fail "absent Wayland display: exit code $code: $(cat "$work/absent.log")"
grep -qxF 'tessaline: cannot open the display "tessaline-absent"' "$work/absent.log" ||
  fail "absent Wayland display: $(cat "$work/absent.log")"

# (a) Wayland and X: the window opens on X where the store puts it, also in
# a Wayland session; moved, it is closed by SIGTERM and writes where it went.
start_xvfb 1600x1000x24
store_placement 60 40 735 814
"$bin/tessaline" >"$work/x.log" 2>&1 &
app=$!
wait_for 60 window_id "TESSALINE AUDIO DRIVER" || fail "no window on X: $(cat "$work/x.log")"
read -r x y _ <<<"$(window_geometry "TESSALINE AUDIO DRIVER")"
[ "$x,$y" = "40,60" ] || fail "window on X at $x,$y instead of the stored 40,60"
! uses_wayland "$app" || fail "the program runs on Wayland although X is there"
xdotool windowmove "$(window_id "TESSALINE AUDIO DRIVER")" 300 200
wait_for 30 window_at 300 200 ||
  fail "the window did not move: $(window_geometry "TESSALINE AUDIO DRIVER")"
end_by_request "$work/x.log"
[ "$(stored left),$(stored top)" = "300,200" ] ||
  fail "closing on X wrote left,top $(stored left),$(stored top): $(cat "$store")"
kill "$XVFB_PID"
wait_for 30 program_ended "$XVFB_PID" || fail "Xvfb did not end"
XVFB_PID=""

# (b) Wayland alone: the program runs natively, both windows open and its
# meters run. The stored position lies off the compositor's 1024x640 output,
# so the window's own idea of its position is the layout's; closing keeps the
# stored one and writes the stored size it used.
store_placement 60 40 735 800
rm -f "$TESSALINE_STATS"
env -u DISPLAY WAYLAND_DEBUG=client "$bin/tessaline" >"$work/wayland.log" 2>&1 &
app=$!
wait_for 60 slices_beyond 0 || fail "no meter ran on Wayland: $(tail -n 20 "$work/wayland.log")"
uses_wayland "$app" || fail "not a Wayland client"
shown=$(slices_shown)
wait_for 30 slices_beyond "$shown" || fail "the meters stopped on Wayland"
end_by_request "$work/wayland.log"
for title in "TESSALINE AUDIO DRIVER" "$INFO_WINDOW"; do
  grep -qF "set_title(\"$title\")" "$work/wayland.log" || fail "no window \"$title\" on Wayland"
done
[ "$(grep -c '> wl_surface@[0-9]*\.attach(wl_buffer' "$work/wayland.log")" -ge 2 ] ||
  fail "the windows were never drawn on Wayland"
[ "$(stored top),$(stored left),$(stored wide),$(stored hei)" = "60,40,735,800" ] ||
  fail "closing on Wayland wrote $(cat "$store")"

# An X display that is named but gone leaves Wayland to run on; a compositor
# that goes away ends the program with exit code 1.
rm -f "$TESSALINE_STATS"
"$bin/tessaline" >"$work/lost.log" 2>&1 &
app=$!
wait_for 60 slices_beyond 0 || fail "no meter ran with X gone: $(cat "$work/lost.log")"
uses_wayland "$app" || fail "not on Wayland with the X display $DISPLAY gone"
kill "$WESTON_PID"
wait_for 30 program_ended "$app" || fail "still running 30 s after its compositor ended"
code=0
wait "$app" || code=$?
app=""
[ "$code" = 1 ] || fail "exit code $code after its compositor ended: $(cat "$work/lost.log")"
echo "wayland_desktop: ok"
