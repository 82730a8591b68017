#!/usr/bin/env bash
# Names in any language under Wine: the zip unpacked into a folder whose
# name is not ASCII (C:\users\Jürgen\Documents\Ordner ü\Tessä line), in a
# fresh Wine prefix, against a private sound server whose pipe sink is
# named "Ausgang Ü Zwei" and whose sine source "Eingang ß Eins".
# tessaline-devices.exe lists the names as they are,
# in its listing and in --json; it plays the folder's test sound on the
# sink by that name exactly; tessaline-decode.exe reads and writes files
# with ASCII and non-ASCII names (each the same bytes as the Linux build's
# output); tessaline.exe started from the folder finds its test sound there:
# its play button puts the sound's samples on the sink exactly, and its
# rows' names read back through the window's accessible object
# (accessible_probe.exe) are the devices' names exactly.
set -euo pipefail
build=$(cd "$1" && pwd)        # the Windows build folder
root=$(cd "$2" && pwd)
linux_bin=$(cd "$3" && pwd)    # the Linux build's app folder (tessaline-decode)
probe_exe=$4                   # accessible_probe.exe
tool="$root/tools/sound-server"
wine_run="$root/tools/wine-run"
lib="$root/tests/integration/lib"
source "$lib/display.bash"
source "$lib/script.bash"
source "$lib/pipe_sinks.bash"
begin_test windows_unicode
on_cleanup() {
  local pid
  for pid in "${readers[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$wine_run" --stop "$work/prefix" >/dev/null 2>&1 || true
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
}
wine() { "$wine_run" "$work/prefix" "$@"; }
sink="Ausgang Ü Zwei"
source_name="Eingang ß Eins"

[ -x "$linux_bin/tessaline-decode" ] || fail "no Linux build in $linux_bin to compare with"
(cd "$build" && cpack -G ZIP -B "$work/cpack" >"$work/cpack.log" 2>&1) ||
  fail "cpack failed: $(tail -5 "$work/cpack.log")"
PULSE_SERVER=$("$tool" start "$work/server" --pipe-sink "$sink" --pipe-sink "Pipe Two" \
  --sine "$source_name" 440 0.5)
export PULSE_SERVER
unset TESSALINE_AUDIO
start_xvfb 1600x1000x24 || fail "no X server for Wine"
"$wine_run" --start "$work/prefix" || fail "Wine did not start"
folder="$work/prefix/drive_c/users/Jürgen/Documents/Ordner ü/Tessä line"
mkdir -p "$folder"
unzip -q "$work"/cpack/tessaline-*-windows-x64.zip -d "$work/unpacked"
cp -r "$work"/unpacked/tessaline-*/. "$folder/"
win_folder='C:\users\Jürgen\Documents\Ordner ü\Tessä line'
cd "$folder"

# The devices' names, as the listing and --json give them.
wine "$folder/tessaline-devices.exe" >"$work/list.txt" 2>"$work/err.txt" ||
  fail "devices: exit code $?: $(cat "$work/err.txt")"
for name in "$sink" "$source_name"; do
  grep -qx "  [0-9]*: $name" <(tr -d '\r' <"$work/list.txt") ||
    fail "the listing lacks \"$name\": $(cat "$work/list.txt")"
done
wine "$folder/tessaline-devices.exe" --json >"$work/list.json" 2>"$work/err.txt" ||
  fail "devices --json: exit code $?: $(cat "$work/err.txt")"
python3 - "$work/list.json" "$sink" "$source_name" <<'PY' || fail "--json names: $(cat "$work/list.json")"
import json, sys
text = open(sys.argv[1], "rb").read().decode("utf-8")  # strictly UTF-8
dumped = json.dumps(json.loads(text), ensure_ascii=False)
sys.exit(0 if all(name in dumped for name in sys.argv[2:]) else 1)
PY

# The test sound from the folder, on the sink named by its name.
read_sinks "$work" "$work/server" 1 2 || fail "the sinks render nothing"
wine "$folder/tessaline-devices.exe" --play "$sink" "$win_folder\\YesLR.wav" \
  >"$work/out.txt" 2>"$work/err.txt" || fail "play: exit code $?: $(cat "$work/err.txt")"
tr -d '\r' <"$work/out.txt" | grep -q "on $sink: " || fail "play said: $(cat "$work/out.txt")"
played_exactly "$folder/YesLR.wav" "$work/sink1.raw" || fail "the sink did not get the test sound exactly"
stop_readers
silent "$work/sink2.raw" || fail "the other sink played"

# Files with ASCII and non-ASCII names, read and written; the same bytes as
# the Linux build makes of them.
sox -n -r 44100 -b 32 -e floating-point -c 2 "$work/float.wav" synth 0.3 sine 440 sine 660 vol 0.5
"$linux_bin/tessaline-decode" "$work/float.wav" "$work/linux.wav" >/dev/null
for name in "a b" "Grüße ü 日本"; do
  cp "$work/float.wav" "$folder/$name.wav"
  wine "$folder/tessaline-decode.exe" "$name.wav" "$name out.wav" >"$work/out.txt" 2>"$work/err.txt" ||
    fail "decode \"$name.wav\": exit code $?: $(cat "$work/err.txt")"
  tr -d '\r' <"$work/out.txt" | grep -q "^$name.wav: " || fail "decode said: $(cat "$work/out.txt")"
  cmp -s "$work/linux.wav" "$folder/$name out.wav" || fail "decode \"$name.wav\": not the Linux build's bytes"
done

# tessaline.exe from the folder finds its test sound there: a play button
# puts the sound's samples exactly on the sink of its row. Which sink row 2
# is depends on the order Wine lists the devices in; the check is that the
# folder's sound is played exactly, on whichever sink the row names.
fx=3
fy=19
tessaline_exe() { "$wine_run" "$work/prefix" "$folder/tessaline.exe"; }
read_sinks "$work" "$work/server" 1 2 || fail "the sinks render nothing"
start_program "$work/app.log" tessaline_exe
close_info_window || fail "the info window's close button did not hide it"
# The rows' names as a screen reader reads them from the window: each
# device's name exactly, as one row's text.
rows_named() {
  "$wine_run" "$work/prefix" "$probe_exe" dump "TESSALINE AUDIO DRIVER" | tr -d '\r' \
    >"$work/main.tree" || return 1
  local name
  for name in "$@"; do
    awk -F'\t' -v name="$name" '$1 == "text" && $2 == name { found = 1 } END { exit !found }' \
      "$work/main.tree" || return 1
  done
}
wait_for 30 rows_named "$sink" "$source_name" ||
  fail "the rows' names read back: $(awk -F'\t' '$1 == "text" { print $2 }' "$work/main.tree")"
# A click that arrives while the program is still putting up its windows can
# be lost: pressed until a sink hears something.
heard() { ! silent "$work/sink1.raw" || ! silent "$work/sink2.raw"; }
deadline=$((SECONDS + 60))
until heard; do
  [ $SECONDS -lt $deadline ] || fail "the play button played nothing: $(cat "$work/app.log")"
  xdotool mousemove --window "$wid" $((fx + 639 + 22)) $((fy + 160 + 20))
  sleep 0.3
  xdotool click 1
  wait_for 5 heard || true
done
played=$work/sink1.raw
silent "$work/sink1.raw" && played=$work/sink2.raw
played_exactly "$folder/YesLR.wav" "$played" ||
  fail "the play button did not play the test sound exactly: $(cat "$work/app.log")"
stop_readers
echo "windows_unicode: ok"
