# Shared by the integration tests: a scratch folder, the failure report and
# the clean-up at exit.

# begin_test <name>: sets work (a scratch folder) and app (the program's pid,
# "" while none runs); at exit the program is ended (and waited for: it
# writes its placement into the folder as it closes), then the script's own
# on_cleanup runs (where it defines one) with the exit status, then the
# monitor recorders and the X server are ended and the folder removed.
begin_test() {
  test_name=$1
  work=$(mktemp -d "/tmp/tessaline-$1.XXXXXX")
  app=""
  trap end_test EXIT
}

end_test() {
  local status=$?
  if [ -n "$app" ]; then
    kill "$app" 2>/dev/null || true
    wait_for 30 program_ended "$app" || true
  fi
  if declare -F on_cleanup >/dev/null; then on_cleanup "$status"; fi
  if declare -F stop_recorders >/dev/null; then stop_recorders; fi
  [ -z "${XVFB_PID:-}" ] || kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$work"
}

# fail <message>: reports the failure under the test's name and ends it.
fail() {
  echo "$test_name: $*" >&2
  exit 1
}

# start_program <log> [command]: starts the program (or that command) and
# waits for its main window; app is its pid and wid the window's id.
start_program() {
  "${2:-$bin/tessaline}" >"$1" 2>&1 &
  app=$!
  wait_for 60 window_id "TESSALINE AUDIO DRIVER" || fail "no main window: $(cat "$1")"
  wid=$(window_id "TESSALINE AUDIO DRIVER")
}

# end_program <log>: closes the main window with its close button and waits
# for a clean end.
end_program() {
  close_main_window "$app" || fail "program still running after its close button"
  wait "$app" || fail "program exit code $?: $(cat "$1")"
  app=""
}
