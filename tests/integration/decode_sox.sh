#!/usr/bin/env bash
# tessaline-decode against sox: files that sox writes in every encoding the program decodes
# (PCM of 8 to 32 bits and of several rates and channel counts, IEEE float, the extensible
# header, A-law, mu-law, IMA and Microsoft ADPCM, GSM 6.10) must come out as the 16-bit
# samples sox itself decodes, sample for sample and at the same length. MPEG Layer-3, which
# sox cannot write here, is checked against the fixtures' reference decoding (libmpg123;
# tools/make-mp3-waves), within one step of rounding; files that ffmpeg writes against
# ffmpeg's decoding (tools/make-foreign-waves). Then PCM with frames larger than a buffer or no
# samples at all, and the refusals: a file that is no wave, PCM whose frames cannot be read, a
# tag no codec decodes, and the compression manager switched off.
set -euo pipefail
app=$1
root=$2
program="$app/tessaline-decode"
[ -x "$program" ] || { echo "missing $program" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/tessaline-decode.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail=0
checked=0

# Compares two raw 16-bit files: same length, no sample further apart than $3.
compare() {
  local want=$1 got=$2 tolerance=$3 what=$4
  if [ "$(stat -c %s "$want")" -ne "$(stat -c %s "$got")" ]; then
    echo "$what: $(stat -c %s "$got") bytes decoded, $(stat -c %s "$want") expected" >&2
    fail=1
    return
  fi
  local worst
  worst=$(paste <(od -An -v -td2 -w2 "$want") <(od -An -v -td2 -w2 "$got") |
    awk '{ d = $1 - $2; if (d < 0) d = -d; if (d > m) m = d } END { print m + 0 }')
  if [ "$worst" -gt "$tolerance" ]; then
    echo "$what: samples differ by up to $worst (allowed $tolerance)" >&2
    fail=1
  fi
  checked=$((checked + 1))
}

# decode NAME SOX-OPTIONS...: writes NAME.wav with sox from a two-tone signal, decodes it and
# compares with sox's own 16-bit decoding (undithered, so that it is deterministic).
decode() {
  local name=$1
  shift
  local in="$work/$name.wav" out="$work/$name.out.wav"
  sox -q -n "$@" "$in" synth 0.77 sine 300 sine 1234 gain -2
  local line
  if ! line=$("$program" "$in" "$out" 2>&1); then
    echo "$name: tessaline-decode failed: $line" >&2
    fail=1
    return
  fi
  sox -D "$in" -e signed -b 16 -t raw "$work/want.raw"
  sox "$out" -e signed -b 16 -t raw "$work/got.raw"
  compare "$work/want.raw" "$work/got.raw" 0 "$name"
  # The line names the delivered format and counts what sox counts.
  local samples
  samples=$(sox "$in" -n stat 2>&1 | sed -n 's/^Samples read: *//p')
  samples=$((samples / $(soxi -c "$in")))
  if ! grep -q " -> PCM [0-9]* bit $(soxi -c "$in") ch $(soxi -r "$in") Hz, $samples samples\$" <<<"$line"; then
    echo "$name: unexpected line '$line' ($samples samples expected)" >&2
    fail=1
  fi
}

decode pcm8_mono_8000 -r 8000 -c 1 -b 8 -e unsigned-integer
decode pcm8_stereo_11025 -r 11025 -c 2 -b 8 -e unsigned-integer
decode pcm16_mono_22050 -r 22050 -c 1 -b 16 -e signed-integer
decode pcm16_stereo_44100 -r 44100 -c 2 -b 16 -e signed-integer
decode pcm16_stereo_48000 -r 48000 -c 2 -b 16 -e signed-integer
decode pcm16_quad_44100 -r 44100 -c 4 -b 16 -e signed-integer
decode pcm24_stereo_44100 -r 44100 -c 2 -b 24 -e signed-integer
decode pcm32_stereo_48000 -r 48000 -c 2 -b 32 -e signed-integer
decode float32_stereo_44100 -r 44100 -c 2 -b 32 -e floating-point
decode float64_mono_22050 -r 22050 -c 1 -b 64 -e floating-point
decode float32_quad_48000 -r 48000 -c 4 -b 32 -e floating-point
decode alaw_mono_8000 -r 8000 -c 1 -e a-law
decode ulaw_stereo_8000 -r 8000 -c 2 -e u-law
decode ima_mono_8000 -r 8000 -c 1 -e ima-adpcm
decode ima_stereo_44100 -r 44100 -c 2 -e ima-adpcm
decode msadpcm_mono_8000 -r 8000 -c 1 -e ms-adpcm
decode msadpcm_stereo_22050 -r 22050 -c 2 -e ms-adpcm
decode gsm_mono_8000 -r 8000 -c 1 -e gsm-full-rate

# The line in full for one file.
line=$("$program" "$work/ima_mono_8000.wav" "$work/again.wav")
want="$work/ima_mono_8000.wav: IMA ADPCM 1 ch 8000 Hz -> PCM 16 bit 1 ch 8000 Hz, 6565 samples"
[ "$line" = "$want" ] || { echo "line '$line', expected '$want'" >&2; fail=1; }

for fixture in "$root"/tests/fixtures/mpeg_layer3/*.wav; do
  out="$work/$(basename "$fixture" .wav).out.wav"
  "$program" "$fixture" "$out" >/dev/null || { echo "$fixture: failed" >&2; fail=1; continue; }
  sox "$out" -t raw "$work/got.raw"
  compare "${fixture%.wav}.raw" "$work/got.raw" 1 "$fixture"
done

# Files other writers made (tools/make-foreign-waves) decode as their writer's own decoder
# decodes them, to the last frame: MPEG Layer-3 from ffmpeg with a frame's sample count as the
# block or with no average rate, the extensible header around compressed subformats (ffmpeg's
# decoding), a plain IEEE float file (sox's).
# against REFERENCE NAME LINE: decodes the fixture NAME, compares with the reference decoder's
# 16-bit samples, and checks the line tessaline-decode prints.
against() {
  local reference=$1 name=$2 want=$3
  local in="$root/tests/fixtures/foreign_waves/$name.wav" out="$work/$name.out.wav" line
  if ! line=$("$program" "$in" "$out" 2>&1); then
    echo "$name: tessaline-decode failed: $line" >&2
    fail=1
    return
  fi
  [ "$line" = "$in: $want" ] || { echo "$name: line '$line', expected '$want'" >&2; fail=1; }
  if [ "$reference" = ffmpeg ]; then
    ffmpeg -hide_banner -loglevel error -y -i "$in" -f s16le "$work/want.raw"
  else
    sox -D "$in" -e signed -b 16 -t raw "$work/want.raw"
  fi
  sox "$out" -t raw "$work/got.raw"
  compare "$work/want.raw" "$work/got.raw" 0 "$name"
}
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed" >&2; exit 1; }
layer3="MPEG Layer-3"
against ffmpeg mp3_cbr "$layer3 2 ch 22050 Hz -> PCM 16 bit 2 ch 22050 Hz, 12672 samples"
against ffmpeg mp3_vbr "$layer3 1 ch 16000 Hz -> PCM 16 bit 1 ch 16000 Hz, 10944 samples"
against ffmpeg mp3_one_frame "$layer3 1 ch 8000 Hz -> PCM 16 bit 1 ch 8000 Hz, 1728 samples"
against ffmpeg mulaw_6ch "Extensible 6 ch 8000 Hz -> PCM 16 bit 6 ch 8000 Hz, 800 samples"
against ffmpeg msadpcm_96k "Extensible 2 ch 96000 Hz -> PCM 16 bit 2 ch 96000 Hz, 3036 samples"
against sox float_stereo "IEEE Float 2 ch 8000 Hz -> PCM 16 bit 2 ch 8000 Hz, 480 samples"

[ "$checked" -eq 26 ] || { echo "only $checked files compared" >&2; fail=1; }

# pcm IN CHANNELS BITS DATA-BYTES: a PCM header (with wrong sums, as hand-made ones have)
# followed by DATA-BYTES bytes of noise.
le32() { printf '\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
le16() { printf '\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)); }
pcm() {
  {
    printf "RIFF$(le32 $((36 + $4)))WAVEfmt $(le32 16)$(le16 1)$(le16 "$2")$(le32 8000)"
    printf "$(le32 0)$(le16 0)$(le16 "$3")data$(le32 "$4")"
    head -c "$4" /dev/urandom
  } >"$1"
}
# A frame of 10000 bytes, larger than the buffers the player asks for, passes whole.
pcm "$work/wide.wav" 5000 16 20000
line=$("$program" "$work/wide.wav" "$work/wide.out.wav") || fail=1
want="$work/wide.wav: PCM 16 bit 5000 ch 8000 Hz -> PCM 16 bit 5000 ch 8000 Hz, 2 samples"
[ "$line" = "$want" ] || { echo "line '$line', expected '$want'" >&2; fail=1; }
cmp -s <(tail -c +45 "$work/wide.wav") <(tail -c +45 "$work/wide.out.wav") ||
  { echo "the 10000-byte frames differ" >&2; fail=1; }
# No samples in, no samples out: OUT is a header with an empty "data" chunk.
pcm "$work/none.wav" 2 16 0
line=$("$program" "$work/none.wav" "$work/none.out.wav") || fail=1
[ "$line" = "$work/none.wav: PCM 16 bit 2 ch 8000 Hz -> PCM 16 bit 2 ch 8000 Hz, 0 samples" ] ||
  { echo "no samples: '$line'" >&2; fail=1; }
[ "$(soxi -s "$work/none.out.wav")" = 0 ] && [ "$(stat -c %s "$work/none.out.wav")" = 44 ] ||
  { echo "no samples: OUT holds $(stat -c %s "$work/none.out.wav") bytes" >&2; fail=1; }

# refuse IN MESSAGE [ENV...]: decoding IN fails with the system's message and writes nothing.
refuse() {
  local in=$1 message=$2
  shift 2
  local out="$work/refused.wav" status=0 text
  rm -f "$out"
  text=$(env "$@" "$program" "$in" "$out" 2>&1) || status=$?
  if [ "$status" -eq 0 ] || [ "$text" != "$in: $message" ] || [ -e "$out" ]; then
    echo "$in ($*): exit $status, '$text'" >&2
    fail=1
  fi
}
printf 'not a wave file at all' >"$work/junk.wav"
refuse "$work/junk.wav" "This is not a valid Audiofile"
# PCM that cannot be read frame by frame: 2 channels of 40000 bits, more than 32 bits, a frame
# that wraps the 16-bit block alignment.
refuse "$root/tests/fixtures/foreign_waves/pcm_40000bit.wav" "This is not a valid Audiofile"
pcm "$work/deep.wav" 2 40 20
refuse "$work/deep.wav" "This is not a valid Audiofile"
pcm "$work/wrapped.wav" 65535 32 20
refuse "$work/wrapped.wav" "This is not a valid Audiofile"
# A wave whose tag no codec decodes: the IMA file with the tag of OKI ADPCM (0x0010).
cp "$work/ima_mono_8000.wav" "$work/oki.wav"
printf '\x10\x00' | dd of="$work/oki.wav" bs=1 seek=20 conv=notrunc status=none
refuse "$work/oki.wav" "Unable to convert to destination format"
# Without the compression manager only PCM plays.
refuse "$work/ima_mono_8000.wav" "Unable to convert to destination format" TESSALINE_ACM=none
TESSALINE_ACM=none "$program" "$work/pcm16_stereo_44100.wav" "$work/plain.wav" >/dev/null ||
  { echo "PCM without the compression manager failed" >&2; fail=1; }
cmp -s "$work/plain.wav" "$work/pcm16_stereo_44100.out.wav" ||
  { echo "PCM without the compression manager differs" >&2; fail=1; }

exit "$fail"
