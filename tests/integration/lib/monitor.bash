# Shared by the integration tests that listen to sinks: recording a sink's
# monitor into a raw file (16-bit stereo at 44100 Hz). The sourcing script
# defines fail and kills "${recorders[@]}" in its cleanup.

recorders=()

size() { stat -c %s "$1" 2>/dev/null || echo 0; }
# holds <file> <bytes>: the file has grown to that size.
holds() { [ "$(size "$1")" -ge "$2" ]; }

# record <sink number> <file>: records the sink's monitor until stop_recorders.
# A null sink that has been idle renders in blocks of seconds; once its monitor
# delivers a tenth of a second, it runs with short blocks as a sink in use.
record() {
  parec -d "sink$1.monitor" --format=s16le --rate=44100 --channels=2 --latency-msec=10 >"$2" &
  recorders+=($!)
  wait_for 30 holds "$2" 17640 || fail "the monitor of sink$1 records nothing"
}

stop_recorders() {
  local pid
  for pid in "${recorders[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${recorders[@]}"; do wait "$pid" 2>/dev/null || true; done
  recorders=()
}

# output_flag <output>: sets flag to the programs' option for the output:
# none for sound-buffer, --wave for wave.
output_flag() {
  flag=()
  [ "$1" = wave ] && flag=(--wave)
  return 0
}
