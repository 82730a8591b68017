#!/usr/bin/env bash
# Every program answers --help (usage on standard output, exit code 0) and
# --version (its name and the project's version, exit code 0) without a
# display or a sound server, and an option it does not know with its usage on
# standard error and exit code 2.
set -euo pipefail
bin=$1
root=$2
fail() {
  echo "conventions: $*" >&2
  exit 1
}
version=$(sed -n 's/^project(tessaline VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || fail "no version in CMakeLists.txt"

work=$(mktemp -d /tmp/tessaline-conventions.XXXXXX)
trap 'rm -rf "$work"' EXIT
# No display, and a sound server address where none answers.
run() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u TESSALINE_AUDIO PULSE_SERVER="unix:$work/none" \
    XDG_RUNTIME_DIR="$work" timeout 20 "$@" >"$work/out" 2>"$work/err"
}
for program in tessaline tessaline-devices tessaline-decode tessaline-wavinfo; do
  rc=0
  run "$bin/$program" --help || rc=$?
  [ "$rc" -eq 0 ] || fail "$program --help: exit code $rc: $(cat "$work/err")"
  grep -q "^Usage: $program" "$work/out" || fail "$program --help: $(cat "$work/out")"
  [ ! -s "$work/err" ] || fail "$program --help wrote to standard error: $(cat "$work/err")"

  rc=0
  run "$bin/$program" --version || rc=$?
  [ "$rc" -eq 0 ] || fail "$program --version: exit code $rc"
  [ "$(cat "$work/out")" = "$program $version" ] || fail "$program --version: $(cat "$work/out")"

  rc=0
  run "$bin/$program" --no-such-option || rc=$?
  [ "$rc" -eq 2 ] || fail "$program --no-such-option: exit code $rc"
  [ ! -s "$work/out" ] || fail "$program --no-such-option wrote to standard output"
  grep -q "^Usage: $program" "$work/err" || fail "$program --no-such-option: $(cat "$work/err")"
done
# tessaline takes --wave (with no display it gets as far as saying so), and
# tells of it in its usage.
rc=0
run "$bin/tessaline" --wave || rc=$?
[ "$rc" -eq 1 ] && grep -q "no display" "$work/err" || fail "tessaline --wave: exit code $rc: $(cat "$work/err")"
run "$bin/tessaline" --help
grep -q -- "^--wave " "$work/out" || fail "tessaline --help does not tell of --wave"
# A file that looks like an option is reached after "--".
rc=0
run "$bin/tessaline-wavinfo" -- --help || rc=$?
[ "$rc" -eq 1 ] && grep -q '^--help: error ' "$work/out" || fail "wavinfo -- --help: $(cat "$work/out")"
echo "conventions: ok"
