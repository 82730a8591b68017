#!/usr/bin/env bash
# tessaline-wavinfo against files written by sox: for every PCM layout sox writes, the
# sample count, rate, channel count and bit depth must be those soxi reports. Then info
# tags appended to such a file (one list, then two merged ones with a missing pad byte and
# control characters), a sox file whose sizes were never written, and a file that is no wave.
set -euo pipefail
app=$1
program="$app/tessaline-wavinfo"
[ -x "$program" ] || { echo "missing $program" >&2; exit 1; }
command -v sox >/dev/null && command -v soxi >/dev/null || { echo "sox is not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/tessaline-wavinfo.XXXXXX)
trap 'rm -rf "$work"' EXIT

fail=0
# Value of key=... in a wavinfo line.
field() { sed -n "s/.* $1=\([0-9]*\).*/\1/p" <<<"$2"; }

layouts=0
for rate in 8000 7350 11025 22050 44100 96000; do
  for channels in 1 2 4; do
    for enc in "8 unsigned-integer" "16 signed-integer"; do
      set -- $enc
      bits=$1
      # An odd length, so that 8-bit mono data has an odd size and a pad byte.
      file="$work/t_${rate}_${channels}_${bits}.wav"
      sox -q -n -r "$rate" -c "$channels" -b "$bits" -e "$2" "$file" synth 0.3131 sine 440
      line=$("$program" "$file")
      want_samples=$(soxi -s "$file")
      want_rate=$(soxi -r "$file")
      want_channels=$(soxi -c "$file")
      want_bits=$(soxi -b "$file")
      got="$(field samples "$line") $(field rate "$line") $(field ch "$line") $(field bits "$line")"
      want="$want_samples $want_rate $want_channels $want_bits"
      if [ "$got" != "$want" ]; then
        echo "$file: wavinfo says '$line'; soxi says samples/rate/channels/bits $want" >&2
        fail=1
      fi
      # The data size is whole frames and agrees with the sample count.
      block=$(field block "$line")
      data=$(field data "$line")
      if [ -z "$block" ] || [ "$block" -ne $((channels * bits / 8)) ] ||
         [ "$data" -ne $((want_samples * block)) ]; then
        echo "$file: block/data wrong in '$line'" >&2
        fail=1
      fi
      layouts=$((layouts + 1))
    done
  done
done
[ "$layouts" -eq 36 ] || { echo "only $layouts layouts checked" >&2; fail=1; }

# Info tags: a LIST/INFO chunk appended to a sox file (16-bit mono, so "data" is even).
le32() {
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) \
    $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))"
}
tagged="$work/tagged.wav"
sox -q -n -r 22050 -c 1 -b 16 -e signed-integer "$tagged" synth 0.1 sine 440
{
  printf 'LIST'; le32 30; printf 'INFO'
  printf 'INAM'; le32 5; printf 'Tone\0\0'
  printf 'ICMT'; le32 4; printf 'abc\0'
} >>"$tagged"
size=$(stat -c %s "$tagged")
le32 $((size - 8)) | dd of="$tagged" bs=1 seek=4 conv=notrunc status=none
expected="$tagged: PCM ch=1 rate=22050 bits=16 block=2 avg=44100 data=4410 samples=2205 offset=44
  ICMT = abc
  INAM = Tone"
actual=$("$program" "$tagged")
if [ "$actual" != "$expected" ]; then
  printf 'tagged file: expected\n%s\ngot\n%s\n' "$expected" "$actual" >&2
  fail=1
fi
# The same in JSON, with a file that is no wave beside it: one document, exit code 1.
echo "no wave" >"$work/text.wav"
if "$program" --json "$tagged" "$work/text.wav" >"$work/info.json" ||
  ! python3 - "$work/info.json" "$tagged" "$work/text.wav" <<'PY'; then
import json, sys
doc = json.load(open(sys.argv[1]))
tagged, text = doc["files"]
assert tagged == {"file": sys.argv[2], "format": {"tag": 1, "name": "PCM", "channels": 1,
                  "rate": 22050, "bits": 16, "block_align": 2, "avg_bytes_per_second": 44100},
                  "data_bytes": 4410, "samples": 2205, "data_offset": 44,
                  "info": {"INAM": "Tone", "ICMT": "abc"}}, tagged
assert text["file"] == sys.argv[3] and text["error"] > 0 and "format" not in text, text
PY
  echo "wavinfo --json: $(cat "$work/info.json")" >&2
  fail=1
fi

# Two LIST/INFO chunks merge (the later one wins per tag); an odd-sized tag without its pad
# byte hides nothing behind it; control characters in a tag are written as escapes.
merged="$work/merged.wav"
sox -q -n -r 22050 -c 1 -b 16 -e signed-integer "$merged" synth 0.1 sine 440
{
  printf 'LIST'; le32 29; printf 'INFO'
  printf 'IART'; le32 5; printf 'Band\0'
  printf 'ICMT'; le32 4; printf 'old\0'
  printf '\0'
  printf 'LIST'; le32 36; printf 'INFO'
  printf 'INAM'; le32 12; printf 'Red\x1b[31m\n\tx\0'
  printf 'ICMT'; le32 4; printf 'new\0'
} >>"$merged"
size=$(stat -c %s "$merged")
le32 $((size - 8)) | dd of="$merged" bs=1 seek=4 conv=notrunc status=none
expected="$merged: PCM ch=1 rate=22050 bits=16 block=2 avg=44100 data=4410 samples=2205 offset=44
  IART = Band
  ICMT = new
  INAM = Red\\x1B[31m\\n\\tx"
actual=$("$program" "$merged")
if [ "$actual" != "$expected" ]; then
  printf 'merged tags: expected\n%s\ngot\n%s\n' "$expected" "$actual" >&2
  fail=1
fi

# A recording that was interrupted before its sizes were written (RIFF and "data" sizes 0):
# every sample sox wrote is read.
interrupted="$work/interrupted.wav"
sox -q -n -r 44100 -c 2 -b 16 -e signed-integer "$interrupted" synth 0.5 sine 440
want_samples=$(soxi -s "$interrupted")
le32 0 | dd of="$interrupted" bs=1 seek=4 conv=notrunc status=none
le32 0 | dd of="$interrupted" bs=1 seek=40 conv=notrunc status=none
line=$("$program" "$interrupted")
if [ "$(field samples "$line")" != "$want_samples" ]; then
  echo "interrupted recording: wavinfo says '$line'; sox wrote $want_samples samples" >&2
  fail=1
fi

# A file that is no wave: an error line, and exit code 1 even when another file was read.
printf 'not a wave file at all' >"$work/junk.wav"
status=0
actual=$("$program" "$tagged" "$work/junk.wav" "$work/missing.wav") || status=$?
if [ "$status" -ne 1 ] || ! grep -qx "$work/junk.wav: error 106" <<<"$actual" ||
   ! grep -qx "$work/missing.wav: error 106" <<<"$actual" ||
   ! grep -q "^$tagged: PCM " <<<"$actual"; then
  printf 'bad files: exit %s, output\n%s\n' "$status" "$actual" >&2
  fail=1
fi

exit "$fail"
