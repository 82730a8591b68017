#include "files/mpeg_frames.h"

#include <algorithm>
#include <vector>

namespace {

// Kilobits per second by bit rate index (1..14) of Layer III.
constexpr int kMpeg1Rates[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kMpeg2Rates[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
// Sample rates by index, for MPEG-1, MPEG-2 and MPEG-2.5.
constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

struct Frame {
  std::int64_t bytes = 0;
  int samples = 0;
};

// The frame whose Layer-III header starts at p, or none (bytes 0).
Frame ParseHeader(const std::uint8_t* p) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return {};
  const int version = (p[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5, 1: reserved
  const int layer = (p[1] >> 1) & 3;    // 1: Layer III
  const int rateIndex = p[2] >> 4;
  const int sampleIndex = (p[2] >> 2) & 3;
  if (version == 1 || layer != 1 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3) {
    return {};
  }
  const bool mpeg1 = version == 3;
  const int kbps = (mpeg1 ? kMpeg1Rates : kMpeg2Rates)[rateIndex];
  const int rate = kSampleRates[mpeg1 ? 0 : (version == 2 ? 1 : 2)][sampleIndex];
  const int padding = (p[2] >> 1) & 1;
  return {(mpeg1 ? 144 : 72) * kbps * 1000 / rate + padding, mpeg1 ? 1152 : 576};
}

}  // namespace

void TMpegFrameCounter::Feed(const std::uint8_t* data, std::size_t size) {
  // A header split over the last piece and this one is looked at whole.
  std::vector<std::uint8_t> joined;
  if (carried_ > 0) {
    joined.assign(carry_, carry_ + carried_);
    joined.insert(joined.end(), data, data + size);
    data = joined.data();
    size = joined.size();
    carried_ = 0;
  }
  std::size_t at = 0;
  while (at < size) {
    if (skip_ > 0) {
      const auto step = static_cast<std::size_t>(std::min<std::int64_t>(skip_, size - at));
      skip_ -= static_cast<std::int64_t>(step);
      at += step;
      continue;
    }
    if (size - at < 4) {
      carried_ = size - at;
      std::copy(data + at, data + size, carry_);
      return;
    }
    const Frame frame = ParseHeader(data + at);
    if (frame.bytes == 0) {
      ++at;  // not a header: look for the next one
      continue;
    }
    samples_ += frame.samples;
    skip_ = frame.bytes;
  }
}
