#include "platform/audio/pulse/pulse_backlog.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

// 44100 Hz 16-bit stereo: 176400 bytes a second, 1764 bytes in 10 ms.
constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kFrame = 4;
constexpr std::uint64_t kStart = 1'000'000'000;  // any wall-clock time, in us

PlaybackTiming Answer(std::int64_t written, std::int64_t read, bool playing,
                      std::uint64_t sink_usec, std::uint64_t at_usec) {
  PlaybackTiming timing;
  timing.write_index = written;
  timing.read_index = read;
  timing.playing = playing;
  timing.sink_usec = sink_usec;
  timing.reported_usec = at_usec;
  return timing;
}

// A timing source that stops the read index 1516 bytes short of the write
// index once the stream ran dry, and reports it not playing from then on.
TEST(PlaybackBacklog, ReadIndexStandingShortWhileNotPlayingIsDrained) {
  PlaybackBacklog backlog(kRate, kFrame);
  backlog.Restart();
  // Playing: the queue and the sink's 20 ms (3528 bytes) wait.
  EXPECT_EQ(backlog.Waiting(Answer(17640, 8820, true, 20000, kStart), kStart, true), 8820u + 3528u);
  EXPECT_EQ(backlog.InSink(), 3528u);
  // An answer 10 ms old: the sink played on from the queue since.
  EXPECT_EQ(backlog.Waiting(Answer(17640, 8820, true, 20000, kStart), kStart + 10000, true),
            8820u - 1764u + 3528u);
  EXPECT_EQ(backlog.InSink(), 3528u);
  // Older than the queue lasts: the sink plays out what it holds.
  EXPECT_EQ(backlog.Waiting(Answer(17640, 8820, true, 20000, kStart), kStart + 60000, true),
            3528u - 1764u);
  EXPECT_EQ(backlog.InSink(), 1764u);
  // Dry, read index short by 1516 bytes (8.6 ms of sound): not drained at once.
  std::uint64_t t = kStart + 100000;
  EXPECT_EQ(backlog.Waiting(Answer(17640, 16124, false, 20000, t), t, true), 1516u + 3528u);
  EXPECT_EQ(backlog.Waiting(Answer(17640, 16124, false, 20000, t + 5000), t + 5000, true),
            1516u + 3528u);
  // Standing still for as long as the 1516 bytes take to play: drained; the
  // sink then plays out its 20 ms from that answer on.
  std::uint64_t drained = t + 8600;
  EXPECT_EQ(backlog.Waiting(Answer(17640, 16124, false, 20000, drained), drained, true), 3528u);
  EXPECT_EQ(
      backlog.Waiting(Answer(17640, 16124, false, 20000, drained + 10000), drained + 10000, true),
      1764u);
  EXPECT_EQ(
      backlog.Waiting(Answer(17640, 16124, false, 20000, drained + 30000), drained + 30000, true),
      0u);
  // More written and played: the queue counts again, from the new indexes.
  t = drained + 50000;
  EXPECT_EQ(backlog.Waiting(Answer(26460, 17640, true, 20000, t), t, true), 8820u + 3528u);
}

// The queue is not given up for played while it may still play: a read
// index that moves, a stream that did not play since it was started or
// flushed, and a paused (corked) stream keep their queue.
TEST(PlaybackBacklog, QueueThatMayStillPlayIsKept) {
  PlaybackBacklog backlog(kRate, kFrame);
  std::uint64_t t = kStart;
  // Started, not yet playing: the server has not begun, however long it takes.
  backlog.Restart();
  EXPECT_EQ(backlog.Waiting(Answer(17640, 0, false, 0, t), t, true), 17640u);
  EXPECT_EQ(backlog.Waiting(Answer(17640, 0, false, 0, t + 500000), t + 500000, true), 17640u);
  // Playing, then a read index that still moves while not reported playing.
  t += 600000;
  backlog.Waiting(Answer(17640, 1764, true, 0, t), t, true);
  EXPECT_EQ(backlog.Waiting(Answer(17640, 3528, false, 0, t + 100000), t + 100000, true), 14112u);
  EXPECT_EQ(backlog.Waiting(Answer(17640, 5292, false, 0, t + 200000), t + 200000, true), 12348u);
  // Paused: the stream is not meant to play; its queue stays, for good.
  t += 300000;
  EXPECT_EQ(backlog.Waiting(Answer(17640, 5292, false, 0, t), t, false), 12348u);
  EXPECT_EQ(backlog.Waiting(Answer(17640, 5292, false, 0, t + 900000), t + 900000, false), 12348u);
  // Started again: what it played before the pause does not count.
  backlog.Restart();
  t += 1000000;
  EXPECT_EQ(backlog.Waiting(Answer(17640, 5292, false, 0, t), t, true), 12348u);
  EXPECT_EQ(backlog.Waiting(Answer(17640, 5292, false, 0, t + 900000), t + 900000, true), 12348u);
  // Ran dry with an empty queue: the sink's 20 ms play out with the time
  // since the first such answer.
  t += 1000000;
  backlog.Waiting(Answer(17640, 17640, true, 20000, t), t, true);
  EXPECT_EQ(backlog.Waiting(Answer(17640, 17640, false, 20000, t + 1000), t + 11000, true), 1764u);
  EXPECT_EQ(backlog.Waiting(Answer(17640, 17640, false, 20000, t + 8000), t + 21000, true), 0u);
}

}  // namespace
}  // namespace platform
