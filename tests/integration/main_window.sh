#!/usr/bin/env bash
# The program under a real X server: its window has the right title and client
# size, shows the devices, and closing it with its close button ends the
# program and writes the placement. A stored placement that would make the
# window unusable is not applied. The info window opens centred above it and
# its close button hides it while the program goes on; closing the main window
# ends the program with the info window still open. Without a display the
# program says so.
set -euo pipefail
bin=$1
root=$2
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/script.bash"
begin_test main_window

export XDG_CONFIG_HOME="$work/config"
export TESSALINE_AUDIO="virtual:in=Desk Mic@440:-6:-12|Line In;out=Speakers|Headset|HDMI"

# no_display <message> <environment...>: the program ends with exit code 1
# and that message instead of running unseen.
no_display() {
  local message=$1 code=0
  shift
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" timeout 20 "$bin/tessaline" \
    >"$work/none.log" 2>&1 || code=$?
  [ "$code" = 1 ] || fail "without a display: exit code $code: $(cat "$work/none.log")"
  grep -qxF "$message" "$work/none.log" || fail "without a display: $(cat "$work/none.log")"
}
no_display "tessaline: no display to show the window on (DISPLAY is not set)"
no_display 'tessaline: cannot open the display ":9999"' DISPLAY=:9999
[ ! -e "$XDG_CONFIG_HOME" ] || fail "a run without a display wrote the store"

start_xvfb 1600x1000x24

start_program "$work/out.log"
read -r x y width height <<<"$(window_geometry "TESSALINE AUDIO DRIVER")"
[ "$width" = 719 ] && [ "$height" = 775 ] || fail "client area ${width}x${height}"
[ "$x" = 723 ] && [ "$y" = 129 ] || fail "window at $x,$y instead of the layout's 723,129"

# The counts are drawn in orange where the layout puts them: a screenshot of
# the input count shows orange pixels.
import -window "$wid" -crop 30x24+69+56 +repage "$work/count.png"
orange=$(convert "$work/count.png" -fx 'r>0.8 && g>0.35 && g<0.65 && b<0.2 ? 1 : 0' \
  -format '%[fx:mean*w*h]' info:)
[ "${orange%.*}" -gt 10 ] || fail "no orange count drawn ($orange pixels)"

# The info window: centred above the main window.
check_info_window
close_info_window || fail "the info window's close button did not hide it"
kill -0 "$app" 2>/dev/null || fail "closing the info window ended the program"
[ -n "$(window_id "TESSALINE AUDIO DRIVER")" ] || fail "the main window went with the info window"

# Click the close button in the middle of its face.
end_program "$work/out.log"

store="$XDG_CONFIG_HOME/tessaline/registry"
[ -f "$store" ] || fail "no placement written"
for entry in '"top" = dword:129' '"left" = dword:723' '"wide" = dword:735' '"hei" = dword:814'; do
  grep -qF "$entry" "$store" || fail "placement lacks $entry: $(cat "$store")"
done
grep -qiF '"Quorvane" "Tessaline"' "$store" || fail "placement not under Quorvane\\Tessaline"

# The next start places the window where the store says.
sed -i 's/"left" = dword:723/"left" = dword:40/' "$store"
start_program "$work/out2.log"
read -r x _ <<<"$(window_geometry "TESSALINE AUDIO DRIVER")"
[ "$x" = 40 ] || fail "second start at x=$x, not the stored 40"
# The info window is still open: it goes with the program.
[ -n "$(window_id "$INFO_WINDOW")" ] || fail "no info window on the second start"
end_program "$work/out2.log"
grep -qF '"left" = dword:40' "$store" || fail "second close did not keep x=40: $(cat "$store")"

# A stored placement off every screen and too narrow: the window opens where
# its layout puts it, at full size; the store keeps the values until the
# window closes and writes where it was.
sed -i -e 's/"left" = dword:40/"left" = dword:5000/' -e 's/"wide" = dword:735/"wide" = dword:100/' \
  "$store"
start_program "$work/out3.log"
geometry=$(window_geometry "TESSALINE AUDIO DRIVER")
[ "$geometry" = "723 129 719 775" ] || fail "unusable placement applied: $geometry"
grep -qF '"wide" = dword:100' "$store" || fail "reading changed the store: $(cat "$store")"
end_program "$work/out3.log"
for entry in '"left" = dword:723' '"wide" = dword:735'; do
  grep -qF "$entry" "$store" || fail "third close did not write $entry: $(cat "$store")"
done
echo "main_window: ok"
