#pragma once

#include <cstdint>

// Enumerations shared by the audio components. Each is stored in one byte and numbered
// from 0 in the order written; the value names are also the names stored in component
// properties of the layouts, so they must not be renamed.

// Sample depth: bits per sample = (ordinal + 1) * 8.
enum TMMBits : std::uint8_t { b8Bit, b16Bit };

// Channel layout of a stream.
enum TMMMode : std::uint8_t { mMono, mStereo, mMultiChannel };

// Which channel of a stereo stream a display follows.
enum TMMChannel : std::uint8_t { chBoth, chLeft, chRight };

// How a meter's reading falls back.
enum TMMDecayMode : std::uint8_t { dmNone, dmStepUp, dmExponential, dmUniform };

// Unit in which positions and lengths are reported.
enum TMMTimeFormats : std::uint8_t { tfMillisecond, tfByte, tfSample };

// How a device component receives buffer notifications.
enum TMMCBMode : std::uint8_t { cmWindow, cmCallback, cmThread };

// Analysis window of the spectrum displays.
enum TMMFFTWindow : std::uint8_t {
  fwRectangular,
  fwHamming,
  fwHanning,
  fwBlackman,
  fwGaussian,
  fwWelch,
  fwParzen
};

// Bits per sample of a TMMBits value: 8 or 16.
constexpr int MMBitsToBitCount(TMMBits bits) {
  return (static_cast<int>(bits) + 1) * 8;
}

// TMMBits of a bit count: ordinal = bits div 8 - 1. Counts outside 8..23 are clamped into
// the enumeration (below 8 gives b8Bit, 24 and more b16Bit) so that no value outside it
// is ever produced; callers check the format with IsSupportedPCMFormat first anyway.
constexpr TMMBits BitCountToMMBits(int bits) {
  const int ordinal = bits / 8 - 1;
  if (ordinal <= static_cast<int>(b8Bit)) return b8Bit;
  return b16Bit;
}

// Mode of a channel count: 2 gives mStereo, 3 or more mMultiChannel, anything else
// (1, 0 for "no format", negative) mMono.
constexpr TMMMode ChannelCountToMMMode(int channels) {
  if (channels == 2) return mStereo;
  if (channels >= 3) return mMultiChannel;
  return mMono;
}

// Channel count after setting a mode on a stream that has `current` channels: mMono
// gives 1, mStereo 2; mMultiChannel changes nothing.
constexpr int MMModeToChannelCount(TMMMode mode, int current) {
  switch (mode) {
    case mMono:
      return 1;
    case mStereo:
      return 2;
    case mMultiChannel:
      break;
  }
  return current;
}
