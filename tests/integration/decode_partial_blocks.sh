#!/usr/bin/env bash
# tessaline-decode on ADPCM files whose last block is cut short (tests/fixtures/partial_blocks,
# written by sox and then cut: IMA mono, 1.5 blocks of 256 bytes; Microsoft ADPCM stereo,
# 1.59 blocks of 512 bytes). The partial block decodes as far as its bytes go: the result
# equals sox's decoding sample for sample, and ffmpeg's in length (ffmpeg's ADPCM arithmetic
# differs from the reference's by a few steps, so its samples are compared within a bound).
set -euo pipefail
app=$1
root=$2
program="$app/tessaline-decode"
[ -x "$program" ] || { echo "missing $program" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is not installed" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/tessaline-partial.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail=0

# worst A.raw B.raw: the largest difference between two raw 16-bit files' samples.
worst() {
  paste <(od -An -v -td2 -w2 "$1") <(od -An -v -td2 -w2 "$2") |
    awk '{ d = $1 - $2; if (d < 0) d = -d; if (d > m) m = d } END { print m + 0 }'
}

# check FIXTURE SAMPLES: decodes the fixture, which must give SAMPLES frames.
check() {
  local in="$root/tests/fixtures/partial_blocks/$1" frames=$2
  local out="$work/$1" line
  if ! line=$("$program" "$in" "$out" 2>&1); then
    echo "$1: tessaline-decode failed: $line" >&2
    fail=1
    return
  fi
  [[ "$line" == *", $frames samples" ]] || { echo "$1: '$line', $frames samples expected" >&2; fail=1; }
  sox "$out" -t raw "$work/got.raw"
  sox -D "$in" -e signed -b 16 -t raw "$work/sox.raw"
  cmp -s "$work/sox.raw" "$work/got.raw" ||
    { echo "$1: differs from sox ($(stat -c %s "$work/got.raw") bytes, sox $(stat -c %s "$work/sox.raw"))" >&2; fail=1; }
  ffmpeg -v error -y -i "$in" -f s16le -acodec pcm_s16le "$work/ffmpeg.raw"
  if [ "$(stat -c %s "$work/ffmpeg.raw")" -ne "$(stat -c %s "$work/got.raw")" ]; then
    echo "$1: $(stat -c %s "$work/got.raw") bytes, ffmpeg $(stat -c %s "$work/ffmpeg.raw")" >&2
    fail=1
  elif [ "$(worst "$work/ffmpeg.raw" "$work/got.raw")" -gt 64 ]; then
    echo "$1: samples differ from ffmpeg's by $(worst "$work/ffmpeg.raw" "$work/got.raw")" >&2
    fail=1
  fi
}

# 505 + 249 samples; 500 + 288 samples a channel.
check ima_mono_partial_block.wav 754
check msadpcm_stereo_partial_block.wav 788

exit "$fail"
