#include "app/play_origin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr double kRate = 44100;

// Devices that report in steps, read at irregular moments: the input hands
// on pieces of `piece` frames as they fill, the output reports what it has
// played every `report_ms`; the output starts at `start_s` on the input's
// clock and may stall (run dry) for `stall_ms` at `stall_at_s`, which delays
// everything it plays after that. Each reading comes 0.5 to 5 ms after the
// last, and sometimes 30 ms late; the input's read sometimes waits 4 ms (for
// its lock) and gives what it holds at its end.
std::vector<PositionReading> Readings(double piece, double report_ms, double start_s,
                                      double stall_at_s, double stall_ms, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> gap(0.0005, 0.005);
  std::bernoulli_distribution late(0.05);
  std::bernoulli_distribution waits(0.2);
  auto played_by = [&](double t) {
    double heard = t - start_s;
    if (t > stall_at_s) heard -= std::min(t - stall_at_s, stall_ms / 1000.0);
    return std::max(0.0, heard) * kRate;
  };
  std::vector<PositionReading> readings;
  for (double t = start_s + 0.01; t < start_s + 2.2;) {
    t += gap(random) + (late(random) ? 0.03 : 0.0);
    PositionReading reading;
    reading.played_us = static_cast<std::int64_t>(std::llround(t * 1e6));
    const double read_at = t + (waits(random) ? 0.004 : 0.0);
    reading.recorded_us = static_cast<std::int64_t>(std::llround(read_at * 1e6));
    reading.recorded_frames = std::floor(read_at * kRate / piece) * piece;
    const double report = std::floor(t * 1000.0 / report_ms) * report_ms / 1000.0;
    reading.played_frames = std::floor(played_by(report) / (kRate / 1000.0)) * (kRate / 1000.0);
    readings.push_back(reading);
  }
  return readings;
}

TEST(PlayOrigin, PlacesTheFirstPlayedFrameWithinTwoMillisecondsWhateverTheSteps) {
  struct Case {
    double piece, report_ms, stall_ms;
  };
  const Case cases[] = {{441, 5, 0},    {2048, 5, 0},  {441, 23, 0},
                        {1024, 23, 15}, {480, 10, 40}, {4096, 30, 0}};
  for (const Case& c : cases) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
      const double start_s = 0.25 + seed * 0.013;
      const double at = RecordingFrameAtPlayStart(
          Readings(c.piece, c.report_ms, start_s, start_s + 1.3, c.stall_ms, seed), kRate);
      EXPECT_NEAR(at, start_s * kRate, 2 * kRate / 1000.0)
          << "pieces " << c.piece << ", reports every " << c.report_ms << " ms, stall "
          << c.stall_ms << " ms, seed " << seed;
    }
  }
  EXPECT_TRUE(std::isnan(RecordingFrameAtPlayStart({}, kRate)));
}

}  // namespace
