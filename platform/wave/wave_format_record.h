#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

// The platform's wave format record. Its 18-byte layout is stored byte for byte
// (a RIFF WAVE "fmt " chunk holds exactly these bytes), so it is packed and the
// fields are little-endian; cbSize bytes of format-specific data may follow it.
#pragma pack(push, 1)
struct WAVEFORMATEX {
  std::uint16_t wFormatTag;
  std::uint16_t nChannels;
  std::uint32_t nSamplesPerSec;
  std::uint32_t nAvgBytesPerSec;
  std::uint16_t nBlockAlign;
  std::uint16_t wBitsPerSample;
  std::uint16_t cbSize;
};
#pragma pack(pop)

using PWAVEFORMATEX = WAVEFORMATEX*;
using LPWAVEFORMATEX = WAVEFORMATEX*;
using LPCWAVEFORMATEX = const WAVEFORMATEX*;

// Format tag of uncompressed integer PCM.
inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

static_assert(std::endian::native == std::endian::little,
              "WAVEFORMATEX is stored byte for byte and must be little-endian in memory");
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, wFormatTag) == 0);
static_assert(offsetof(WAVEFORMATEX, nChannels) == 2);
static_assert(offsetof(WAVEFORMATEX, nSamplesPerSec) == 4);
static_assert(offsetof(WAVEFORMATEX, nAvgBytesPerSec) == 8);
static_assert(offsetof(WAVEFORMATEX, nBlockAlign) == 12);
static_assert(offsetof(WAVEFORMATEX, wBitsPerSample) == 14);
static_assert(offsetof(WAVEFORMATEX, cbSize) == 16);
