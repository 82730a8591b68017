#!/usr/bin/env bash
# tessaline-decode against sox: files that sox writes in every encoding the program decodes
# (PCM of 8 to 32 bits and of several rates and channel counts, IEEE float, the extensible
# header, A-law, mu-law, IMA and Microsoft ADPCM, GSM 6.10) must come out as the 16-bit
# samples sox itself decodes, sample for sample and at the same length. MPEG Layer-3, which
# sox cannot write here, is checked against the fixtures' reference decoding (libmpg123;
# tools/make-mp3-waves), within one step of rounding. Then the refusals: a file that is no
# wave, a tag no codec decodes, and the compression manager switched off.
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

[ "$checked" -eq 20 ] || { echo "only $checked files compared" >&2; fail=1; }

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
