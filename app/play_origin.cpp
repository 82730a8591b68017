#include "app/play_origin.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Readings of one window: long enough to hold a few of any device's steps.
constexpr double kWindowSeconds = 0.1;

// The value below which `share` of `values` lie.
double Quantile(std::vector<double> values, double share) {
  const auto at = static_cast<std::ptrdiff_t>(static_cast<double>(values.size() - 1) * share);
  std::nth_element(values.begin(), values.begin() + at, values.end());
  return values[static_cast<std::size_t>(at)];
}

// A device's clock: its position less the frames the wall clock counts, at
// its freshest in each window, as the upper quartile over the windows.
double Clock(const std::vector<PositionReading>& readings, double rate,
             double PositionReading::*position) {
  const std::int64_t origin = readings.front().when_us;
  std::vector<double> freshest;
  std::int64_t window = -1;
  for (const PositionReading& reading : readings) {
    const double seconds = static_cast<double>(reading.when_us - origin) / 1e6;
    const double value = reading.*position - seconds * rate;
    const auto index = static_cast<std::int64_t>(seconds / kWindowSeconds);
    if (index != window) {
      freshest.push_back(value);
      window = index;
    } else {
      freshest.back() = std::max(freshest.back(), value);
    }
  }
  return Quantile(std::move(freshest), 0.75);
}

}  // namespace

double RecordingFrameAtPlayStart(const std::vector<PositionReading>& readings, double rate) {
  if (readings.empty()) return std::numeric_limits<double>::quiet_NaN();
  return Clock(readings, rate, &PositionReading::recorded_frames) -
         Clock(readings, rate, &PositionReading::played_frames);
}
