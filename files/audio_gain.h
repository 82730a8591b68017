#pragma once

// Volume and panning as a constant pair of channel gains on PCM data. A gain of 16384 leaves
// samples unchanged, 32768 doubles them, 0 silences them.

#include <cstdint>

#include "devices/wave_format.h"

inline constexpr std::int32_t kMMUnityGain = 16384;

struct TMMGainPair {
  std::int32_t Left = kMMUnityGain;
  std::int32_t Right = kMMUnityGain;
};

// The gains of a level with panning p (-32768 .. 32768): p > 0 lowers the left channel,
// p < 0 the right one.
TMMGainPair PannedGains(std::int32_t level, std::int32_t panning);

// Applies the gains to `bytes` of 8- or 16-bit PCM in place, as factors gain / 16384 in
// 16.16 fixed point, rounded and held at full scale (never wrapping). Even channels take the
// left gain, odd ones the right; one channel takes the larger. Other formats, and unity on
// both channels, are left alone.
void ApplyGains(const WAVEFORMATEX* format, char* data, std::int32_t bytes, TMMGainPair gains);
