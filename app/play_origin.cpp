#include "app/play_origin.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <numeric>

namespace {

// A device's clock, with the wall clock counted from `origin`.
double Clock(const std::vector<PositionReading>& readings, double rate, std::int64_t origin,
             double PositionReading::*position, std::int64_t PositionReading::*when) {
  auto value = [&](const PositionReading& reading) {
    return reading.*position - static_cast<double>(reading.*when - origin) / 1e6 * rate;
  };
  auto wait = [&](std::size_t i) { return readings[i].*when - readings[i - 1].*when; };
  if (readings.size() < 2) return value(readings.front());
  std::vector<std::int64_t> waits;
  for (std::size_t i = 1; i < readings.size(); ++i) waits.push_back(wait(i));
  const auto usual = waits.begin() + static_cast<std::ptrdiff_t>(waits.size() / 2);
  std::nth_element(waits.begin(), usual, waits.end());
  std::vector<double> values;
  for (std::size_t i = 1; i < readings.size(); ++i) {
    const bool moved = readings[i].*position != readings[i - 1].*position;
    if (moved && wait(i) <= 2 * *usual) values.push_back(value(readings[i]));
  }
  if (values.empty()) return value(readings.front());
  const auto top = values.end() - static_cast<std::ptrdiff_t>((values.size() + 3) / 4);
  std::nth_element(values.begin(), top, values.end());
  return std::accumulate(top, values.end(), 0.0) / static_cast<double>(values.end() - top);
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
