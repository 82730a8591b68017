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

# window_id <title>: the id of a mapped top-level window with that title.
window_id() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1
}
