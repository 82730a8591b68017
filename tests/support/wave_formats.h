#pragma once

// Wave format records and compressed blocks for the conversion tests.

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/acm/msacm.h"
#include "tests/support/sub_format.h"

namespace wavetest {

// A format record with room for its extra bytes.
struct Format {
  std::vector<std::uint8_t> bytes;
  WAVEFORMATEX* get() { return reinterpret_cast<WAVEFORMATEX*>(bytes.data()); }
  const WAVEFORMATEX* get() const { return reinterpret_cast<const WAVEFORMATEX*>(bytes.data()); }
  WAVEFORMATEX* operator->() { return get(); }
};

inline Format MakeFormat(std::uint16_t tag, int channels, std::uint32_t rate, int bits, int block,
                         int extra = 0) {
  Format f{std::vector<std::uint8_t>(sizeof(WAVEFORMATEX) + extra)};
  WAVEFORMATEX& w = *f.get();
  w.wFormatTag = tag;
  w.nChannels = static_cast<std::uint16_t>(channels);
  w.nSamplesPerSec = rate;
  w.wBitsPerSample = static_cast<std::uint16_t>(bits);
  w.nBlockAlign = static_cast<std::uint16_t>(block);
  w.nAvgBytesPerSec = rate * static_cast<std::uint32_t>(block);
  w.cbSize = static_cast<std::uint16_t>(extra);
  return f;
}

inline Format Pcm(int bits, int channels, std::uint32_t rate) {
  return MakeFormat(WAVE_FORMAT_PCM, channels, rate, bits, bits * channels / 8);
}

// IMA ADPCM, 4 bits, with its samples per block as extra data.
inline Format Ima(int channels, std::uint32_t rate, int block) {
  Format f = MakeFormat(WAVE_FORMAT_IMA_ADPCM, channels, rate, 4, block, 2);
  const int samples = (block - 4 * channels) * 2 / channels + 1;
  f->nAvgBytesPerSec =
      rate * static_cast<std::uint32_t>(block) / static_cast<std::uint32_t>(samples);
  std::memcpy(f.bytes.data() + sizeof(WAVEFORMATEX), &samples, 2);
  return f;
}

// Microsoft ADPCM, 4 bits, with the standard seven coefficient pairs.
inline Format MsAdpcm(int channels, std::uint32_t rate, int block) {
  static const std::int16_t kCoefs[14] = {256, 0,   512, -256, 0,    0,   192,
                                          64,  240, 0,   460,  -208, 392, -232};
  Format f = MakeFormat(WAVE_FORMAT_ADPCM, channels, rate, 4, block, 32);
  const std::uint16_t samples =
      static_cast<std::uint16_t>((block - 7 * channels) * 2 / channels + 2);
  const std::uint16_t count = 7;
  std::uint8_t* extra = f.bytes.data() + sizeof(WAVEFORMATEX);
  std::memcpy(extra, &samples, 2);
  std::memcpy(extra + 2, &count, 2);
  std::memcpy(extra + 4, kCoefs, sizeof kCoefs);
  return f;
}

// The extensible header with a subformat of the given tag.
inline Format Extensible(int bits, int channels, std::uint32_t rate, std::uint16_t subTag) {
  Format f = MakeFormat(WAVE_FORMAT_EXTENSIBLE, channels, rate, bits, bits * channels / 8, 22);
  WAVEFORMATEXTENSIBLE x;
  std::memcpy(&x, f.bytes.data(), sizeof x);
  x.wValidBitsPerSample = static_cast<std::uint16_t>(bits);
  x.dwChannelMask = channels == 2 ? 3 : 0;
  SetSubFormat(x, subTag);
  std::memcpy(f.bytes.data(), &x, sizeof x);
  return f;
}

// IMA ADPCM blocks of varied nibbles; every header holds a valid step index.
inline std::vector<std::uint8_t> ImaBlocks(int channels, int block, int count, int seed = 1) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(block) * count);
  std::uint32_t x = 2463534242u + static_cast<std::uint32_t>(seed);
  for (std::size_t i = 0; i < data.size(); ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    data[i] = static_cast<std::uint8_t>(x);
  }
  for (int b = 0; b < count; ++b) {
    for (int c = 0; c < channels; ++c) data[b * block + 4 * c + 2] %= 89;
  }
  return data;
}

}  // namespace wavetest
