#include "platform/audio/channel_map.h"

#include "platform/audio/audio_backend.h"

namespace platform {
namespace {

constexpr unsigned kMaskSpeakers = 18;

std::uint32_t DefaultMask(unsigned channels) {
  // Bits: FL 0, FR 1, FC 2, LFE 3, BL 4, BR 5, BC 8, SL 9, SR 10.
  switch (channels) {
    case 2:
      return 0x3;
    case 3:
      return 0x7;
    case 4:
      return 0x33;
    case 5:
      return 0x37;
    case 6:
      return 0x3F;
    case 7:
      return 0x70F;
    case 8:
      return 0x63F;
    default:
      return (channels >= kMaskSpeakers ? 1u << kMaskSpeakers : 1u << channels) - 1;
  }
}

}  // namespace

std::vector<ChannelPosition> WaveChannelMap(unsigned channels, std::uint32_t mask) {
  // One channel at the front centre is how files mark mono: heard as mono
  // (on every speaker), not as a centre speaker the server mixes down.
  constexpr std::uint32_t kFrontCenterBit = 0x4;
  if (channels == 1 && (mask == 0 || mask == kFrontCenterBit)) return {ChannelPosition::kMono};
  if (mask == 0) mask = DefaultMask(channels);
  std::vector<ChannelPosition> map;
  map.reserve(channels);
  for (unsigned bit = 0; bit < kMaskSpeakers && map.size() < channels; ++bit) {
    if ((mask >> bit) & 1u) map.push_back(static_cast<ChannelPosition>(bit));
  }
  map.resize(channels, ChannelPosition::kAux);
  return map;
}

std::vector<ChannelPosition> ChosenChannelMap(const PcmFormat& format,
                                              const PlaybackOptions& options) {
  if (options.channel_map.size() == format.channels) return options.channel_map;
  return WaveChannelMap(format.channels, 0);
}

}  // namespace platform
