#pragma once

// What a playback stream has written but not yet made audible, worked out
// from the server's timing answers. Plain numbers only, so that any timing
// source can drive it.

#include <cstdint>

namespace platform {

// One timing answer of the server about a playback stream.
struct PlaybackTiming {
  std::int64_t write_index = 0;     // bytes written to the server's queue
  std::int64_t read_index = 0;      // bytes the server took from its queue
  bool playing = false;             // the server is taking data from the queue
  std::uint64_t sink_usec = 0;      // what the sink holds beyond the queue
  std::uint64_t reported_usec = 0;  // when the answer was made (wall clock)
};

class PlaybackBacklog {
 public:
  PlaybackBacklog(std::uint32_t rate, std::uint32_t frame_bytes)
      : rate_(rate), frame_bytes_(frame_bytes) {}

  // The stream was started (uncorked) or flushed: what it did before says
  // nothing about the queue from now on.
  void Restart();

  // Bytes written but not yet audible after `timing`, at `now_usec` on the
  // answers' clock. `running` says the stream is meant to play (not corked).
  //
  // Bytes still in the queue count as waiting, those in the sink as waiting
  // until the sink has had the time to play them since the stream ran dry.
  // A stream that played and then ran dry may be reported not playing with
  // its read index standing short of the write index for good: once the read
  // index stood still, not playing, for as long as the queue would take to
  // play, the queue counts as drained. A playing answer is carried forward
  // to `now_usec`: the sink went on playing since it was made.
  std::uint64_t Waiting(const PlaybackTiming& timing, std::uint64_t now_usec, bool running);
  // Of the bytes the last Waiting counted, those in the sink (the device's own
  // latency) rather than in the queue.
  std::uint64_t InSink() const { return in_sink_; }

 private:
  std::uint64_t UsecOf(std::uint64_t bytes) const;
  std::uint64_t BytesOf(std::uint64_t usec) const;

  const std::uint32_t rate_;
  const std::uint32_t frame_bytes_;
  bool played_ = false;            // reported playing since the last restart
  std::int64_t still_read_ = -1;   // the read index last seen standing, not playing
  std::uint64_t still_since_ = 0;  // when it was first seen there
  std::uint64_t dry_since_ = 0;    // when the queue was first seen empty (0: not dry)
  std::uint64_t in_sink_ = 0;      // see InSink
};

}  // namespace platform
