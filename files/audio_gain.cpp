#include "files/audio_gain.h"

#include <algorithm>

namespace {

// Sample times factor (16.16), rounded halves up, limited to [low, high].
inline std::int32_t Scale(std::int32_t sample, std::int64_t factor, std::int32_t low,
                          std::int32_t high) {
  const std::int64_t v = (sample * factor + 0x8000) >> 16;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, low, high));
}

}  // namespace

TMMGainPair PannedGains(std::int32_t level, std::int32_t panning) {
  TMMGainPair g{level, level};
  if (panning > 0) {
    g.Left = static_cast<std::int32_t>(std::int64_t{level} * (32768 - panning) / 32768);
  } else {
    g.Right = static_cast<std::int32_t>(std::int64_t{level} * (32768 + panning) / 32768);
  }
  return g;
}

void ApplyGains(const WAVEFORMATEX* format, char* data, std::int32_t bytes, TMMGainPair gains) {
  if (format == nullptr || data == nullptr || bytes <= 0 || format->wFormatTag != WAVE_FORMAT_PCM ||
      (format->wBitsPerSample != 8 && format->wBitsPerSample != 16) || format->nChannels == 0) {
    return;
  }
  if (gains.Left == kMMUnityGain && gains.Right == kMMUnityGain) return;
  const int channels = format->nChannels;
  std::int64_t factors[2] = {std::int64_t{gains.Left} * 4, std::int64_t{gains.Right} * 4};
  if (channels == 1) factors[0] = factors[1] = std::max(factors[0], factors[1]);
  if (format->wBitsPerSample == 8) {
    auto* p = reinterpret_cast<std::uint8_t*>(data);
    for (std::int32_t i = 0; i < bytes; ++i) {
      const std::int64_t f = factors[(i % channels) & 1];
      p[i] = static_cast<std::uint8_t>(Scale(p[i] - 128, f, -128, 127) + 128);
    }
    return;
  }
  auto* p = reinterpret_cast<std::uint8_t*>(data);
  const std::int32_t samples = bytes / 2;
  for (std::int32_t i = 0; i < samples; ++i, p += 2) {
    const std::int64_t f = factors[(i % channels) & 1];
    const auto s = static_cast<std::int16_t>(p[0] | (p[1] << 8));
    const std::int32_t v = Scale(s, f, -32768, 32767);
    p[0] = static_cast<std::uint8_t>(v & 0xFF);
    p[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
  }
}
