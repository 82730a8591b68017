# Shared by the tests of tessaline-devices --watch: the program in a private
# tmux server's terminal (socket name in $socket), read with capture-pane.
# Needs $bin and $work; the sourcing script kills the tmux server in its
# cleanup.

# watch <environment...>: runs the program in a fresh 100x30 terminal; the
# shell prints "ENDED <code>" after it.
watch() {
  tmux -L "$socket" kill-server 2>/dev/null || true
  printf '%q ' env "$@" "$bin/tessaline-devices" --watch >"$work/command"
  tmux -L "$socket" new-session -d -x 100 -y 30 \
    "bash -c '$(cat "$work/command"); echo ENDED \$?; sleep 600'"
}
screen() { tmux -L "$socket" capture-pane -p -t 0; }
shows() { screen | grep -Fq -- "$1"; }
# lit <line's start> [which]: the '#' in the bar of the first line that starts
# so (which=R: of the line after it).
lit() {
  screen | awk -v start="$1" -v which="${2:-L}" '
    index($0, start) == 1 { found = NR + (which == "R") }
    NR == found { n = gsub(/#/, "#"); print n; exit }'
}
# bar <line's start> <which> <fraction of the bar>: lit within one cell.
bar() {
  local n width
  n=$(lit "$1" "$2")
  width=$(screen | awk -v start="$1" 'index($0, start) == 1 {
    a = index($0, "["); b = index($0, "]"); print b - a - 1; exit }')
  [ -n "$n" ] && [ -n "$width" ] &&
    awk -v n="$n" -v w="$width" -v f="$3" 'BEGIN { d = n - w * f; exit !(d >= -1 && d <= 1) }'
}
# restored <code>: the program ended with that code and the terminal is the
# shell's again: the main screen, the cursor shown, and nothing on it but the
# shell's line.
restored() {
  shows "ENDED $1" &&
    [ "$(tmux -L "$socket" display -p -t 0 '#{alternate_on} #{cursor_flag}')" = "0 1" ] &&
    [ "$(screen | grep -c .)" = 1 ]
}
