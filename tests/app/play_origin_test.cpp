#include "app/play_origin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr double kRate = 44100;

struct Devices {
  double piece = 441;       // the input hands on pieces of this many frames
  double burst_ms = 0;      // ... each with the source's next burst, one this often
  double report_ms = 5;     // the output reports what it played this often
  double start_s = 0.25;    // when the output starts, on the input's clock
  double stall_at_s = 0;    // from here the output stalls (runs dry) ...
  double stall_ms = 0;      // ... for this long, which delays all it plays after
  bool both_stall = false;  // the input loses that time too (the system stalled)
  bool steady = false;      // the reader reads every 5 ms, never held up
};

// Devices that report in steps, read at irregular moments. Unless the reader
// is steady, each reading comes 0.5 to 5 ms after the last, and sometimes
// 30 ms late, and the input's read sometimes waits 4 ms (for its lock) and
// gives what it holds at its end, which holds up the next reading too.
std::vector<PositionReading> Readings(const Devices& d, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> gap(d.steady ? 0.005 : 0.0005, d.steady ? 0.0052 : 0.005);
  const double burst_phase = std::uniform_real_distribution<double>(0.0, 1.0)(random);
  std::bernoulli_distribution late(d.steady ? 0.0 : 0.05);
  std::bernoulli_distribution waits(d.steady ? 0.0 : 0.2);
  auto stalled = [&](double t) { return std::clamp(t - d.stall_at_s, 0.0, d.stall_ms / 1000.0); };
  // When each of the input's pieces is handed on, in order.
  std::vector<double> handed;
  for (double filled = d.piece / kRate; filled < d.start_s + 2.5; filled += d.piece / kRate) {
    const double lost = d.both_stall && filled > d.stall_at_s ? d.stall_ms / 1000.0 : 0.0;
    double at = filled + lost;
    if (d.burst_ms > 0) {
      const double every = d.burst_ms / 1000.0;
      at = (std::ceil(at / every - burst_phase) + burst_phase) * every;
    }
    handed.push_back(at);
  }
  std::vector<PositionReading> readings;
  for (double t = d.start_s + 0.01; t < d.start_s + 2.2;) {
    t += gap(random) + (late(random) ? 0.03 : 0.0);
    PositionReading reading;
    reading.played_us = static_cast<std::int64_t>(std::llround(t * 1e6));
    const double read_at = t + (waits(random) ? 0.004 : 0.0);
    reading.recorded_us = static_cast<std::int64_t>(std::llround(read_at * 1e6));
    reading.recorded_frames =
        static_cast<double>(std::upper_bound(handed.begin(), handed.end(), read_at) -
                            handed.begin()) *
        d.piece;
    const double report = std::floor(t * 1000.0 / d.report_ms) * d.report_ms / 1000.0;
    const double heard = std::max(0.0, report - d.start_s - stalled(report)) * kRate;
    reading.played_frames = std::floor(heard / (kRate / 1000.0)) * (kRate / 1000.0);
    readings.push_back(reading);
    t = read_at;  // the next reading starts once this one is done
  }
  return readings;
}

TEST(PlayOrigin, PlacesTheFirstPlayedFrameWithinTwoMillisecondsWhateverTheSteps) {
  struct Case {
    double piece, report_ms, stall_ms;
    bool both_stall;
  };
  // The last: the whole system stalls for 11 ms, and both devices fall behind
  // alike.
  const Case cases[] = {{441, 5, 0, false},    {2048, 5, 0, false},  {441, 23, 0, false},
                        {1024, 23, 15, false}, {480, 10, 40, false}, {4096, 30, 0, false},
                        {1024, 10, 11, true}};
  for (const Case& c : cases) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
      Devices d;
      d.piece = c.piece;
      d.report_ms = c.report_ms;
      d.start_s = 0.25 + seed * 0.013;
      d.stall_at_s = d.start_s + (c.both_stall ? 0.8 : 1.3);
      d.stall_ms = c.stall_ms;
      d.both_stall = c.both_stall;
      const double at = RecordingFrameAtPlayStart(Readings(d, seed), kRate);
      EXPECT_NEAR(at, d.start_s * kRate, 2 * kRate / 1000.0)
          << "pieces " << c.piece << ", reports every " << c.report_ms << " ms, stall "
          << c.stall_ms << " ms" << (c.both_stall ? " of both" : "") << ", seed " << seed;
    }
  }
  EXPECT_TRUE(std::isnan(RecordingFrameAtPlayStart({}, kRate)));
}

// An input whose source sends what it recorded in bursts every 30 ms, at a
// moment that differs from run to run, while the input hands on pieces of
// 46 ms: each piece waits 0 to 30 ms for the burst that completes it. Where
// the sound starts is found as the same frame, within 2 ms, in every run
// (taking the earliest pieces would find it up to 4 ms apart), and between
// the earliest and the latest a piece can come.
TEST(PlayOrigin, AveragesOutAnInputThatDeliversInBursts) {
  Devices d;
  d.piece = 2048;
  d.burst_ms = 30;
  d.steady = true;
  std::vector<double> found;
  for (unsigned seed = 1; seed <= 12; ++seed) {
    found.push_back(RecordingFrameAtPlayStart(Readings(d, seed), kRate));
    EXPECT_GT(found.back(), (d.start_s - 0.032) * kRate) << "seed " << seed;
    EXPECT_LT(found.back(), (d.start_s + 0.002) * kRate) << "seed " << seed;
  }
  const auto [least, most] = std::minmax_element(found.begin(), found.end());
  EXPECT_LE(*most - *least, 2 * kRate / 1000.0);
}

}  // namespace
