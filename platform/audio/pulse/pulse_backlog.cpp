#include "platform/audio/pulse/pulse_backlog.h"

#include <algorithm>

namespace platform {

void PlaybackBacklog::Restart() {
  played_ = false;
  still_read_ = -1;
  still_since_ = 0;
}

std::uint64_t PlaybackBacklog::UsecOf(std::uint64_t bytes) const {
  std::uint64_t per_second = std::uint64_t{rate_} * frame_bytes_;
  return per_second == 0 ? 0 : bytes * 1000000 / per_second;
}

std::uint64_t PlaybackBacklog::BytesOf(std::uint64_t usec) const {
  return usec * rate_ / 1000000 * frame_bytes_;
}

std::uint64_t PlaybackBacklog::Waiting(const PlaybackTiming& timing, std::uint64_t now_usec,
                                       bool running) {
  auto queued =
      static_cast<std::uint64_t>(std::max<std::int64_t>(0, timing.write_index - timing.read_index));
  std::uint64_t in_sink = timing.sink_usec;
  if (timing.playing) {
    played_ = true;
    still_read_ = -1;
    dry_since_ = 0;
    // Played since the answer: from the queue first, the sink refilling from it.
    std::uint64_t gone =
        now_usec > timing.reported_usec ? BytesOf(now_usec - timing.reported_usec) : 0;
    const std::uint64_t from_queue = std::min(queued, gone);
    queued -= from_queue;
    gone -= from_queue;
    in_sink_ = BytesOf(in_sink);
    in_sink_ -= std::min(in_sink_, gone);
    return queued + in_sink_;
  }
  if (queued > 0 && running && played_) {
    if (timing.read_index != still_read_) {
      still_read_ = timing.read_index;
      still_since_ = timing.reported_usec;
    } else if (timing.reported_usec >= still_since_ + UsecOf(queued)) {
      queued = 0;
    }
  }
  if (queued > 0) {
    in_sink_ = BytesOf(in_sink);
    return queued + in_sink_;
  }
  // Ran dry (or paused): the sink plays out what it held.
  if (dry_since_ == 0 || timing.reported_usec < dry_since_) dry_since_ = timing.reported_usec;
  std::uint64_t passed = now_usec - std::min(now_usec, dry_since_);
  in_sink = in_sink > passed ? in_sink - passed : 0;
  in_sink_ = BytesOf(in_sink);
  return in_sink_;
}

}  // namespace platform
