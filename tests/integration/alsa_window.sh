#!/usr/bin/env bash
# The program on the ALSA back-end under a real X server, without sound
# hardware: a private .asoundrc (HOME) defines two inputs that read known
# signals from files (behind a private sound server for real time). Their rows
# meter them: -6 dBFS lights 60 of the 120 spots, -20 dBFS 12; the second
# input is -6 dBFS left and -20 dBFS right. With --follow-devices a PCM added
# to the configuration while it runs is counted and named in the third row.
# When the server behind the inputs goes away, the program's message box
# shows.
set -euo pipefail
bin=$1
root=$2
source "$root/tests/integration/lib/alsa.bash"
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/meters.bash"
source "$root/tests/integration/lib/script.bash"
tool="$root/tools/sound-server"

begin_test alsa_window
on_cleanup() {
  local pid
  for pid in "${keepers[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
}

PULSE_SERVER=$("$tool" start "$work/server" --sink "Pace Sink")
export PULSE_SERVER
keep_rendering sink1 || fail "the sink's monitor does not record"
sox -n -r 44100 -b 16 -e signed-integer -c 2 -t raw "$work/half.raw" synth 60 sine 440 vol 0.5
sox -n -r 44100 -b 16 -e signed-integer -c 2 -t raw "$work/unequal.raw" \
  synth 60 sine 440 sine 440 remix 1v0.5 2v0.1

mkdir -p "$work/home"
{
  file_input half_in "Half Tone" "$work/half.raw"
  file_input unequal_in "Unequal Tone" "$work/unequal.raw"
} >"$work/home/.asoundrc"
export HOME="$work/home" TESSALINE_AUDIO=alsa XDG_RUNTIME_DIR="$work"
export XDG_CONFIG_HOME="$work/config"
start_xvfb 1600x1000x24

"$bin/tessaline" --follow-devices >"$work/out.log" 2>&1 &
app=$!
wait_for 60 window_id "TESSALINE AUDIO DRIVER" || fail "no main window: $(cat "$work/out.log")"
wid=$(window_id "TESSALINE AUDIO DRIVER")
close_info_window || fail "the info window did not close"

within() { [ "$1" -ge $(($2 - 1)) ] && [ "$1" -le $(($2 + 1)) ]; }
shot="$work/shot.png"
# meters_read <want row 1 L R, row 2 L R, row 3 L R>: waits until they do.
meters_read() {
  local readings point i want=("$@")
  for _ in $(seq 1 100); do
    import -window "$wid" "$shot"
    readings=()
    for point in 69,88 69,118 69,160 69,190 69,224 69,254; do
      readings+=("$(lit "$shot" ${point/,/ })")
    done
    for ((i = 0; i < 6; i++)); do within "${readings[i]}" "${want[i]}" || break; done
    if [ "$i" = 6 ]; then
      echo "alsa_window: meters read ${readings[*]}"
      return 0
    fi
    sleep 0.2
  done
  cp "$shot" /tmp/alsa_window-failed.png 2>/dev/null || true
  fail "meters read ${readings[*]} (want $*); picture in /tmp/alsa_window-failed.png"
}
meters_read 60 60 60 12 0 0

# A third input added to the configuration while the program runs: the input
# count and the third row's label change (the Refresh button's work: rows
# already recording go on, the new one is named).
# snapshot <name>: the input count and the third input row's label.
snapshot() {
  import -window "$wid" -crop 30x24+66+56 +repage "$work/$1-count.png" &&
    import -window "$wid" -crop 240x18+66+236 +repage "$work/$1-row.png"
}
changed_from() {
  snapshot now || return 1
  local part
  for part in count row; do
    [ "$(compare -metric AE "$work/$1-$part.png" "$work/now-$part.png" null: 2>&1)" != 0 ] ||
      return 1
  done
}
snapshot before
file_input third_in "Third Tone" "$work/half.raw" >>"$work/home/.asoundrc"
wait_for 30 changed_from before || fail "the added input does not show"
meters_read 60 60 60 12 0 0
close_main_window "$app" || fail "program still running after its close button"
wait "$app" || fail "program exit code $?: $(cat "$work/out.log")"
app=""

# Inputs that fail while they record (the server behind the PCMs goes away):
# the program's message box, as for a device lost on a sound server; a
# termination request still ends the program as asked.
windows_titled() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | wc -l; }
box_up() { [ "$(windows_titled "TESSALINE AUDIO DRIVER")" -ge 2 ]; }
"$bin/tessaline" >"$work/lost.log" 2>&1 &
app=$!
wait_for 60 window_id "TESSALINE AUDIO DRIVER" || fail "lost: no main window: $(cat "$work/lost.log")"
wid=$(window_id "TESSALINE AUDIO DRIVER")
close_info_window || fail "lost: the info window did not close"
meters_read 60 60 60 12 60 60
"$tool" stop "$work/server"
wait_for 30 box_up || fail "lost: no message box after the inputs' server went away"
kill -TERM "$app"
wait_for 30 program_ended "$app" || fail "lost: still running 30 s after the request"
wait "$app" || fail "lost: exit code $?: $(cat "$work/lost.log")"
app=""
echo "alsa_window: ok"
