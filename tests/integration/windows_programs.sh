#!/usr/bin/env bash
# The Windows programs under Wine, in a fresh Wine prefix on an X server of
# their own, against a private sound server whose sinks and sources Wine's
# multimedia library reports as wave devices (the server's default first,
# then one per device): tessaline-devices.exe lists them, reads a -6.02 dBFS
# sine as -6.0 dBFS on both channels, plays a file on the second of two pipe
# sinks through the sound-buffer output and through the wave output (read
# whole: silence, exactly the file's samples, silence; the first sink only
# silence), and ends with its message and exit code 1 when the sink it plays
# on goes away while it plays; tessaline-decode.exe decodes sox's IMA
# ADPCM, Microsoft ADPCM, mu-law and A-law files through Windows' compression
# manager as the Linux build does (the same samples, but for Microsoft ADPCM,
# whose decoders round differently: close, not equal), and float, 24- and
# 32-bit and extensible files through the program's own converter, to the
# same bytes as the Linux build.
# Wine numbers the devices anew in every process, so the sink is played by
# its name.
set -euo pipefail
bin=$1          # the Windows build's app folder
root=$2
linux_bin=$3    # the Linux build's app folder (tessaline-decode)
tool="$root/tools/sound-server"
wine_run="$root/tools/wine-run"
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.bash"
source "$here/lib/monitor.bash"
source "$here/lib/pipe_sinks.bash"

work=$(mktemp -d /tmp/tessaline-wine.XXXXXX)
cleanup() {
  local pid
  for pid in "${recorders[@]}" "${readers[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$wine_run" --stop "$work/prefix" >/dev/null 2>&1 || true
  "$tool" stop "$work/server" >/dev/null 2>&1 || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "windows_programs: $*" >&2
  exit 1
}
wine() { "$wine_run" "$work/prefix" "$@"; }
# heard <raw recording> <byte offset>: a sample beyond the offset is loud.
heard() {
  python3 -c 'import array, sys
data = open(sys.argv[1], "rb").read()[int(sys.argv[2]):]
data = array.array("h", data[: len(data) // 2 * 2])
sys.exit(0 if any(abs(v) > 1000 for v in data) else 1)' "$1" "$2"
}

[ -x "$linux_bin/tessaline-decode" ] || fail "no Linux build in $linux_bin to compare with"
PULSE_SERVER=$("$tool" start "$work/server" --pipe-sink "First Out" --pipe-sink "Second Out" \
  --sine "Sine In" 1000 0.5)
export PULSE_SERVER
unset TESSALINE_AUDIO
start_xvfb 640x480x24 || fail "no X server for Wine"
"$wine_run" --start "$work/prefix" || fail "Wine did not start"

# The device list: the server's default, then every sink (outputs) and every
# source, monitors included (inputs), by description, in any order.
wine "$bin/tessaline-devices.exe" >"$work/list.txt" 2>"$work/err.txt" ||
  fail "devices: exit code $?: $(cat "$work/err.txt")"
cat "$work/list.txt"
names() { sed -n "/^$1 Drivers: /,/^[A-Z]/p" "$work/list.txt" | sed -n 's/^  [0-9]*: //p' | tr -d '\r' | sort; }
[ "$(names Output | grep -vx 'First Out\|Second Out' | wc -l)" -eq 1 ] ||
  fail "outputs are not the default and the two sinks: $(names Output | tr '\n' ',')"
[ "$(names Output | grep -cx 'First Out\|Second Out')" -eq 2 ] ||
  fail "outputs are not the default and the two sinks: $(names Output | tr '\n' ',')"
for source in "Sine In" "Monitor of First Out" "Monitor of Second Out"; do
  names Input | grep -qx "$source" || fail "input \"$source\" missing"
done
[ "$(names Input | wc -l)" -eq 4 ] || fail "inputs are not the default and the three sources"

# Levels: the sine reads -6.0 dBFS (+-0.3) on both channels.
wine "$bin/tessaline-devices.exe" --levels 1 >"$work/levels.txt" 2>"$work/err.txt" ||
  fail "levels: exit code $?: $(cat "$work/err.txt")"
cat "$work/levels.txt"
line=$(grep ': Sine In  ' "$work/levels.txt") || fail "no level for the sine"
python3 - "$line" <<'PY' || fail "the sine does not read -6.0 dBFS: $line"
import re, sys
left, right = (float(v) for v in re.findall(r"[LR] (-?[0-9.]+) dBFS", sys.argv[1]))
sys.exit(0 if abs(left + 6.02) <= 0.3 and abs(right + 6.02) <= 0.3 else 1)
PY

sox -n -r 44100 -b 16 -c 2 "$work/sweep.wav" synth 1.5 sine 200-2000 sine 3000-500 vol 0.5
sox -n -r 44100 -b 16 -c 2 "$work/long.wav" synth 4 sine 300 sine 500 vol 0.5
for output in sound-buffer wave; do
  output_flag "$output"
  mkdir -p "$work/$output"
  read_sinks "$work/$output" "$work/server" 1 2 || fail "$output: the sinks render nothing"
  wine "$bin/tessaline-devices.exe" --play "Second Out" "$work/sweep.wav" "${flag[@]}" \
    >"$work/out.txt" 2>"$work/err.txt" || fail "$output: exit code $?: $(cat "$work/err.txt")"
  cat "$work/out.txt"
  grep -Eq "^Played .*sweep.wav on Second Out: [0-9]+ ms" "$work/out.txt" ||
    fail "$output: unexpected report: $(cat "$work/out.txt")"
  played_exactly "$work/sweep.wav" "$work/$output/sink2.raw" || {
    stop_readers
    cp "$work/$output/sink2.raw" "/tmp/windows_programs-$output-failed.raw" 2>/dev/null || true
    fail "$output: the second sink did not get the file's samples exactly (kept in /tmp/windows_programs-$output-failed.raw)"
  }
  stop_readers
  silent "$work/$output/sink1.raw" || fail "$output: the first sink played"
done

# The sink played on goes away while it plays: a message, exit code 1, no
# hang. A null sink of its own each time (a pipe sink is not removed and
# added again), heard through its monitor.
for output in sound-buffer wave; do
  output_flag "$output"
  "$tool" add-sink "$work/server" sink3 "Going Out"
  record 3 "$work/going.raw"
  start=$(size "$work/going.raw")
  timeout 60 "$wine_run" "$work/prefix" "$bin/tessaline-devices.exe" --play "Going Out" \
    "$work/long.wav" "${flag[@]}" >"$work/out.txt" 2>"$work/err.txt" &
  player=$!
  # Unloaded once the sound is being heard (Wine takes a second or two to
  # start the program, and the monitor records silence until then).
  wait_for 60 heard "$work/going.raw" "$start" || fail "$output: nothing heard on the sink"
  "$tool" remove-sink "$work/server" sink3
  removed=$SECONDS
  rc=0
  wait "$player" || rc=$?
  stop_recorders
  [ "$rc" -eq 1 ] || fail "$output: exit code $rc after the sink went away: $(cat "$work/err.txt")"
  # Both outputs see the sink go away within seconds, as on Linux (not by
  # giving up on a device that stands still), and say what the Linux build
  # says: the sound-buffer output its own message, the wave output the call
  # that failed with the system's text for a device that is gone.
  [ $((SECONDS - removed)) -le 20 ] || fail "$output: it took $((SECONDS - removed)) s to end"
  message="^tessaline-devices: WaveOut(GetPosition|Write): .+"
  [ "$output" = sound-buffer ] && message="^tessaline-devices: DSWaveOutWrite: Unable to write to device$"
  tr -d '\r' <"$work/err.txt" | grep -Eq "$message" ||
    fail "$output: no message: $(cat "$work/err.txt")"
  cat "$work/err.txt"
done

# Decoding through Windows' compression manager, compared with the Linux build.
sox -n -r 22050 -b 16 -c 2 "$work/src.wav" synth 0.7 sine 440 sine 660 vol 0.5
for encoding in ima-adpcm ms-adpcm u-law a-law; do
  sox "$work/src.wav" -e "$encoding" "$work/$encoding.wav"
  wine "$bin/tessaline-decode.exe" "$work/$encoding.wav" "$work/$encoding-win.wav" \
    >"$work/out.txt" 2>"$work/err.txt" || fail "decode $encoding: exit code $?: $(cat "$work/err.txt")"
  "$linux_bin/tessaline-decode" "$work/$encoding.wav" "$work/$encoding-linux.wav" >/dev/null
  tolerance=0
  # Wine's Microsoft ADPCM decoder rounds its predictions its own way: up to
  # about 70 apart here; more than 256 (-42 dBFS) would be another decoding.
  [ "$encoding" = ms-adpcm ] && tolerance=256
  python3 - "$work/$encoding-win.wav" "$work/$encoding-linux.wav" "$tolerance" <<'PY' ||
import sys, wave, array
def samples(path):
    with wave.open(path) as w:
        return w.getparams()[:3], array.array("h", w.readframes(w.getnframes()))
(pw, sw), (pl, sl) = samples(sys.argv[1]), samples(sys.argv[2])
if pw != pl or len(sw) != len(sl):
    sys.exit(f"formats or lengths differ: {pw} {len(sw)} / {pl} {len(sl)}")
worst = max((abs(a - b) for a, b in zip(sw, sl)), default=0)
print(f"{sys.argv[1]}: {len(sw)} samples, largest difference {worst}")
sys.exit(0 if worst <= int(sys.argv[3]) else 1)
PY
    fail "decode $encoding: the samples differ from the Linux build's"
done

# Samples stored whole (IEEE float, 24 and 32 bits, the extensible header sox
# writes for them and for more than two channels) go through the program's
# own converter on both builds: the same bytes.
for options_text in "-b 24 -c 2" "-b 32 -e signed-integer -c 2" "-b 32 -e floating-point -c 2" \
  "-b 64 -e floating-point -c 1" "-b 16 -c 6" "-b 24 -c 6" "-b 32 -e floating-point -c 4"; do
  read -ra options <<<"$options_text"
  sox -n -r 48000 "${options[@]}" "$work/whole.wav" synth 0.4 sine 440 sine 660 vol 0.7
  wine "$bin/tessaline-decode.exe" "$work/whole.wav" "$work/whole-win.wav" \
    >"$work/out.txt" 2>"$work/err.txt" || fail "decode $options_text: exit code $?: $(cat "$work/err.txt")"
  "$linux_bin/tessaline-decode" "$work/whole.wav" "$work/whole-linux.wav" >/dev/null
  cmp -s "$work/whole-win.wav" "$work/whole-linux.wav" ||
    fail "decode $options_text: not the bytes the Linux build writes"
done
echo "windows_programs: ok"
