# Shared by the integration tests that read pipe sinks whole (sound-server
# --pipe-sink): a reader per sink FIFO (sink_reader.py) from before the sound
# until after it. The sourcing script kills "${readers[@]}" in its cleanup.

readers=()

# read_sinks <folder> <server folder> <N...>: reads pipe sink N's FIFO into
# <folder>/sinkN.raw (and .times) for each N. On PulseAudio the sinks render
# silence while idle, and what nobody reads is lost: it waits until every
# reader reads. On PipeWire a sink renders only while a stream plays: it
# waits until every reader has its FIFO open (and made room in it).
read_sinks() {
  local out=$1 server=$2 n
  shift 2
  for n in "$@"; do
    python3 "$(dirname "${BASH_SOURCE[0]}")/sink_reader.py" "$server/sinkpipe$n" \
      "$out/sink$n.raw" "$out/sink$n.times" &
    readers+=($!)
  done
  local test=-s
  [ "${TESSALINE_SOUND_SERVER:-}" != pipewire ] || test=-e
  for n in "$@"; do
    wait_for 30 test "$test" "$out/sink$n.times" || return 1
  done
}

stop_readers() {
  local pid
  for pid in "${readers[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${readers[@]}"; do wait "$pid" 2>/dev/null || true; done
  readers=()
}

# silent <raw file>: it holds nothing but zeros.
silent() { [ -z "$(tr -d '\000' <"$1" | head -c 1)" ]; }

# ended <raw file>: it holds sound, and its last two seconds are silent.
ended() {
  ! silent "$1" && [ "$(stat -c %s "$1")" -gt 352800 ] &&
    [ -z "$(tail -c 352800 "$1" | tr -d '\000' | head -c 1)" ]
}

# played_exactly <wave> <raw file>: waits (at most 30 s) until the sink's
# file holds silence, exactly the wave's samples and silence; says what
# differs when it does not come to that.
played_exactly() {
  local exact
  exact="$(dirname "${BASH_SOURCE[0]}")/exact_sound.py"
  wait_for 30 python3 "$exact" "$1" "$2" --quiet || python3 "$exact" "$1" "$2"
}

# only_sink_played <wave> <folder> <sink N> <other N>: waits (at most 60 s)
# for the sound on pipe sink N to end, stops the readers, and holds when sink N
# got exactly the wave's samples and the other sink nothing; says what differs.
only_sink_played() {
  local wave=$1 out=$2 sink=$3 other=$4
  if ! wait_for 60 ended "$out/sink$sink.raw"; then
    stop_readers
    echo "no sound came to its end on pipe sink $sink" >&2
    return 1
  fi
  stop_readers
  python3 "$(dirname "${BASH_SOURCE[0]}")/exact_sound.py" "$wave" "$out/sink$sink.raw" || return 1
  silent "$out/sink$other.raw" || { echo "pipe sink $other played too" >&2; return 1; }
}
