#!/usr/bin/env bash
# tessaline.exe under Wine, in a fresh Wine prefix on an X server of its own,
# against a private sound server with two pipe sinks and two sine sources:
# the main window opens with its title at its layout's place and size, the
# info window centred above it, whose close button hides it; the meters of
# the -6 dBFS sine's row light 60 of their 120 spots and those of the
# -20 dBFS sine's row 12, as on Linux; a press of a row's play button puts
# the test sound's samples on that row's pipe sink bit for bit (silence,
# exactly the file's samples, silence), nothing on the other, and lights that
# row's meters; closing the window ends the program
# and leaves the placement in the user's registry, and a stored placement is
# used at the next start; the info window's links are opened through the
# shell's "open".
# Wine lists its default device first in each list, then the server's
# devices: output row 2 is the first pipe sink, row 3 the second.
# Wine draws the window's frame itself (there is no window manager): its
# X window is the outer frame, 3 pixels of border around the client area and
# a caption of 19 above it.
set -euo pipefail
bin=$1 # the Windows build's app folder
root=$2
tool="$root/tools/sound-server"
wine_run="$root/tools/wine-run"
lib="$root/tests/integration/lib"
sound="$root/app/assets/YesLR.wav"
source "$lib/display.bash"
source "$lib/meters.bash"
source "$lib/script.bash"
source "$lib/pipe_sinks.bash"
begin_test windows_window
on_cleanup() {
  local pid
  for pid in "${readers[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$wine_run" --stop "$work/prefix" >/dev/null 2>&1 || true
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
}
wine() { "$wine_run" "$work/prefix" "$@"; }
# The client area's origin in the X window.
fx=3
fy=19
tessaline_exe() { "$wine_run" "$work/prefix" "$bin/tessaline.exe"; }
# click_at <x> <y>: clicks the main window's client area there. Wine takes a
# click only once it has seen the pointer arrive: the click follows the move
# after a moment, as a hand's would.
click_at() {
  xdotool mousemove --window "$wid" $((fx + $1)) $((fy + $2))
  sleep 0.3
  xdotool click 1
}
# close_main: clicks the main window's close button (384,696 in the client
# area, 200 x 32) and waits for the program to end.
close_main() {
  click_at $((384 + 100)) $((696 + 16))
  wait_for 30 program_ended "$app"
}

PULSE_SERVER=$("$tool" start "$work/server" --pipe-sink "Pipe One" --pipe-sink "Pipe Two" \
  --sine "Half Scale" 440 0.5 --sine "Tenth Scale" 1000 0.1)
export PULSE_SERVER
unset TESSALINE_AUDIO
start_xvfb 1600x1000x24 || fail "no X server for Wine"
"$wine_run" --start "$work/prefix" || fail "Wine did not start"

# The links lead to the README (this build names no web address); the shell
# opens a "file://" address with the program registered for its file type:
# for the test, a stand-in that notes what it was asked to open.
opened="$work/prefix/drive_c/opened.txt"
wine reg add 'HKCR\.md' /ve /d tessaline.test.document /f >/dev/null 2>&1 &&
  wine reg add 'HKCR\tessaline.test.document\shell\open\command' /ve /f \
    /d 'C:\windows\system32\cmd.exe /c echo %1>>C:\opened.txt' >/dev/null 2>&1 ||
  fail "cannot register the stand-in opener"

start_program "$work/out.log" tessaline_exe
read -r x y width height <<<"$(window_geometry "TESSALINE AUDIO DRIVER")"
[ "$width" = $((719 + 2 * fx)) ] && [ "$height" = $((775 + fy + fx)) ] ||
  fail "window ${width}x${height}, not a client area of 719x775 in Wine's frame"
[ "$x" = 723 ] && [ "$y" = 129 ] || fail "window at $x,$y instead of the layout's 723,129"

# The info window: centred above the main window.
check_info_window
# Its documentation link (Label12, at 332,129) opens the README through the shell.
click_until 360 137 30 test -s "$opened" || fail "the documentation link opened nothing"
grep -q 'README\.md' "$opened" || fail "the link opened $(cat "$opened")"
close_info_window || fail "the info window's close button did not hide it"
kill -0 "$app" 2>/dev/null || fail "closing the info window ended the program"

# Inputs: Wine's default, the sinks' monitors, the two sines, in rows 1 to 5.
# Every row reads 60/60 (the -6 dBFS sine), 12/12 (the -20 dBFS sine) or
# nothing; both sines show.
within() { [ "$1" -ge $(($2 - 1)) ] && [ "$1" -le $(($2 + 1)) ]; }
row_reads() {
  within "$1" "$3" && within "$2" "$3"
}
meters_right() {
  local shot=$work/shot.png half=0 tenth=0 row l r
  import -window "$wid" -crop 719x775+$fx+$fy +repage "$shot"
  readings=""
  for row in 88 160 224 291 357; do
    l=$(lit "$shot" 69 "$row")
    r=$(lit "$shot" 69 $((row + 30)))
    readings+="$l/$r "
    if row_reads "$l" "$r" 60; then
      half=1
    elif row_reads "$l" "$r" 12; then
      tenth=1
    elif [ "$l" != 0 ] || [ "$r" != 0 ]; then
      return 1
    fi
  done
  [ "$half" = 1 ] && [ "$tenth" = 1 ]
}
readings=""
wait_for 30 meters_right || fail "input meters read $readings (want 60/60 and 12/12, the rest 0/0)"

# play <row> <sink> <other sink>: a press of the row's play button plays the
# test sound's samples exactly on that pipe sink and nothing on the other,
# and the row's meters light.
play() {
  local row=$1 sink=$2 other=$3
  local top=$((160 + (row - 2) * 64))
  read_sinks "$work" "$work/server" "$sink" "$other" || fail "row $row: the sinks render nothing"
  click_at $((639 + 22)) $((top + 20))
  local deadline=$((SECONDS + 30)) left=0 right=0 shot=$work/row.png
  until [ "$left" != 0 ] && [ "$right" != 0 ]; do
    [ $SECONDS -lt $deadline ] || fail "row $row: its meters did not light ($left/$right)"
    import -window "$wid" -crop 719x775+$fx+$fy +repage "$shot"
    [ "$left" != 0 ] || left=$(lit "$shot" 386 "$top")
    [ "$right" != 0 ] || right=$(lit "$shot" 386 $((top + 30)))
  done
  wait_for 60 ended "$work/sink$sink.raw" || fail "row $row: the sound did not come to its end"
  stop_readers
  python3 "$lib/exact_sound.py" "$sound" "$work/sink$sink.raw" || {
    cp "$work/sink$sink.raw" /tmp/windows_window-failed.raw 2>/dev/null || true
    fail "row $row: pipe sink $sink did not get the test sound's samples exactly (in /tmp/windows_window-failed.raw)"
  }
  silent "$work/sink$other.raw" || fail "row $row: pipe sink $other played too"
}
play 2 1 2
play 3 2 1

close_main || fail "the program went on running after its close button"
wait "$app" || fail "program exit code $?: $(cat "$work/out.log")"
app=""

# The placement in the user's registry: the layout's place, the client size
# with the nominal frame (16 x 39), as on Linux.
query() {
  wine reg query 'HKCU\Quorvane\Tessaline' /v "$1" 2>/dev/null | tr -d '\r' |
    awk -v name="$1" '$1 == name && $2 == "REG_DWORD" {print $3}' | xargs -r printf '%d'
}
for entry in top=129 left=723 wide=735 hei=814; do
  [ "$(query "${entry%=*}")" = "${entry#*=}" ] ||
    fail "registry holds ${entry%=*}=$(query "${entry%=*}"), not ${entry#*=}"
done

# The next start places the window where the registry says.
wine reg add 'HKCU\Quorvane\Tessaline' /v left /t REG_DWORD /d 40 /f >/dev/null 2>&1 ||
  fail "cannot change the stored placement"
start_program "$work/out2.log" tessaline_exe
read -r x _ <<<"$(window_geometry "TESSALINE AUDIO DRIVER")"
[ "$x" = 40 ] || fail "second start at x=$x, not the stored 40"
close_main || fail "the second run went on after its close button"
wait "$app" || fail "second run exit code $?: $(cat "$work/out2.log")"
app=""
[ "$(query left)" = 40 ] || fail "second close did not keep left=40"

# The session ends while the program runs: its window closes as its close
# button closes it, and the placement is kept.
wine reg delete 'HKCU\Quorvane\Tessaline' /f >/dev/null 2>&1 || fail "cannot remove the stored placement"
start_program "$work/out3.log" tessaline_exe
wine wineboot --end-session --shutdown >/dev/null 2>&1 || true
wait_for 30 program_ended "$app" || fail "the program went on after the session ended"
app=""
for entry in top=129 left=723 wide=735 hei=814; do
  [ "$(query "${entry%=*}")" = "${entry#*=}" ] ||
    fail "after the session ended the registry holds ${entry%=*}=$(query "${entry%=*}"), not ${entry#*=}"
done
echo "windows_window: ok"
