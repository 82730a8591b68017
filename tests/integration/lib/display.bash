# Shared by the integration tests: a private X server and waiting helpers.

# wait_for <seconds> <command...>: runs the command until it succeeds.
wait_for() {
  local limit=$1
  shift
  local deadline=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}

# start_xvfb <WxHxD>: starts Xvfb on a free display, exports DISPLAY and
# XVFB_PID. The server does not reset when its last client leaves, so that a
# program started right after the readiness check can always connect.
start_xvfb() {
  local fd_file
  fd_file=$(mktemp)
  Xvfb -displayfd 9 -screen 0 "$1" -nolisten tcp -noreset 9>"$fd_file" >/dev/null 2>&1 &
  XVFB_PID=$!
  wait_for 30 test -s "$fd_file" || { echo "Xvfb did not start" >&2; return 1; }
  DISPLAY=":$(head -n 1 "$fd_file")"
  export DISPLAY XVFB_PID
  rm -f "$fd_file"
  wait_for 30 xdpyinfo
}

# window_id <title>: the id of a mapped top-level window with that title;
# false while there is none (so that wait_for window_id waits for it).
window_id() {
  local id
  id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
  [ -n "$id" ] && echo "$id"
}

# window_geometry <title>: "x y width height" of that window on the screen.
window_geometry() {
  xwininfo -id "$(window_id "$1")" | awk '/Absolute upper-left X:/ {x = $4}
    /Absolute upper-left Y:/ {y = $4} /^  Width:/ {w = $2} /^  Height:/ {h = $2}
    END {print x, y, w, h}'
}

program_ended() {
  ! kill -0 "$1" 2>/dev/null
}

# close_main_window <pid>: clicks the main window's close button and waits
# for the program to end (at most 30 s); false if it goes on running.
close_main_window() {
  xdotool mousemove --window "$(window_id "TESSALINE AUDIO DRIVER")" $((384 + 100)) $((696 + 16)) \
    click 1
  wait_for 30 program_ended "$1"
}

# The program's info window, which opens above the main window at start-up.
INFO_WINDOW="Programm Info"

# check_info_window: the info window opens, 525 x 290, centred on the
# 1600 x 1000 screen, above the main window: where both lie, its gray face
# shows. Fails the test otherwise.
check_info_window() {
  wait_for 60 window_id "$INFO_WINDOW" || fail "no info window"
  [ "$(window_geometry "$INFO_WINDOW")" = "537 355 525 290" ] ||
    fail "info window at $(window_geometry "$INFO_WINDOW")"
  local face
  face=$(import -window root -crop 1x1+$((537 + 270))+$((355 + 150)) +repage -depth 8 txt:- |
    awk 'NR == 2 {print $3}')
  [ "$face" = "#808080" ] || fail "the info window is not above the main window ($face)"
}

info_window_gone() {
  [ -z "$(window_id "$INFO_WINDOW")" ]
}

# click_until <x> <y> <seconds> <command...>: clicks the info window at (x, y)
# until the command succeeds (a click that arrives while the program is still
# putting up its windows can be lost), for at most that many seconds.
click_until() {
  local x=$1 y=$2 limit=$3
  shift 3
  local deadline=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || return 1
    xdotool mousemove --window "$(window_id "$INFO_WINDOW")" "$x" "$y" click 1 2>/dev/null || true
    wait_for 2 "$@" && return 0
  done
}

# close_info_window: clicks the info window's close button until the window
# is gone, so that it covers nothing of the main window.
close_info_window() {
  wait_for 60 window_id "$INFO_WINDOW" || return 1
  click_until $((383 + 60)) $((248 + 12)) 30 info_window_gone
}

# start_weston <folder>: starts a headless Wayland compositor with its own
# runtime folder (and its log) in that folder; exports XDG_RUNTIME_DIR,
# WAYLAND_DISPLAY and WESTON_PID.
start_weston() {
  XDG_RUNTIME_DIR="$1/runtime"
  WAYLAND_DISPLAY="tessaline-$$"
  mkdir -p "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  export XDG_RUNTIME_DIR WAYLAND_DISPLAY
  weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 \
    >"$1/weston.log" 2>&1 &
  WESTON_PID=$!
  export WESTON_PID
  wait_for 30 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ||
    { echo "weston did not start: $(cat "$1/weston.log")" >&2; return 1; }
}
