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
double Clock(const std::vector<PositionReading>& readings, double rate, std::int64_t origin,
             double PositionReading::*position, std::int64_t PositionReading::*when) {
  std::vector<double> freshest;
  std::int64_t window = -1;
  for (const PositionReading& reading : readings) {
    const double seconds = static_cast<double>(reading.*when - origin) / 1e6;
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
  const std::int64_t origin = readings.front().recorded_us;
  return Clock(readings, rate, origin, &PositionReading::recorded_frames,
               &PositionReading::recorded_us) -
         Clock(readings, rate, origin, &PositionReading::played_frames,
               &PositionReading::played_us);
}
