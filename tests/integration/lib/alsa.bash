# Shared by the tests of the ALSA back-end: PCM definitions for a private
# .asoundrc, each behind a private sound server's null sink for real time.

# file_input <pcm> <description> <signal> [tap]: an input that records the
# raw signal (s16le stereo 44100 Hz) from the file, paced by sink1's monitor;
# what it records is also written to the tap file, where one is given.
file_input() {
  cat <<CONF
pcm.$1 {
  type asym
  capture.pcm {
    type file
    slave.pcm { type pulse device "sink1.monitor" }
    file "${4:-/dev/null}"
    infile "$3"
    format raw
  }
  hint { show on description "$2" }
}
CONF
}

# file_output <pcm> <description> <file> <sink>: an output that writes what
# it plays to the file, paced by the sink.
file_output() {
  cat <<CONF
pcm.$1 {
  type asym
  playback.pcm {
    type file
    slave.pcm { type pulse device "$4" }
    file "$3"
    format raw
  }
  hint { show on description "$2" }
}
CONF
}

# keep_rendering <sink...>: an idle null sink renders in blocks of up to two
# seconds, and a stream that records its monitor waits that long for its
# first data; a recorder with a short latency on each sink's monitor keeps it
# rendering in small blocks, as a sound card does. Their pids go to the array
# keepers (the sourcing script kills them in its cleanup); returns once each
# has recorded half a second.
keepers=()
keep_rendering() {
  local sink
  for sink in "$@"; do
    parec --latency-msec=10 -d "$sink.monitor" >"$work/$sink.keep" 2>/dev/null &
    keepers+=($!)
  done
  for sink in "$@"; do
    wait_for 30 eval '[ "$(stat -c %s "$work/'"$sink"'.keep")" -ge 88200 ]' || return 1
  done
}
