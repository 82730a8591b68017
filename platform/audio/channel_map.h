#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// Where a channel of a stream is heard. The first eighteen are the speakers of
// a wave file's channel mask, in the order of its bits.
enum class ChannelPosition : std::uint8_t {
  kFrontLeft,
  kFrontRight,
  kFrontCenter,
  kLowFrequency,
  kBackLeft,
  kBackRight,
  kFrontLeftOfCenter,
  kFrontRightOfCenter,
  kBackCenter,
  kSideLeft,
  kSideRight,
  kTopCenter,
  kTopFrontLeft,
  kTopFrontCenter,
  kTopFrontRight,
  kTopBackLeft,
  kTopBackCenter,
  kTopBackRight,
  kMono,  // a single channel for every speaker
  kAux,   // a channel with no speaker of its own
};

// The positions of a wave stream's interleaved channels. With a channel mask,
// the speakers its bits name, lowest bit first (a single channel marked front
// centre is mono); channels beyond them are
// auxiliary, and bits beyond the channel count are ignored. Without one (0),
// the usual layout for the count: mono; FL FR; FL FR FC; FL FR BL BR;
// FL FR FC BL BR; FL FR FC LFE BL BR; FL FR FC LFE BC SL SR;
// FL FR FC LFE BL BR SL SR; more channels follow the mask's bit order.
std::vector<ChannelPosition> WaveChannelMap(unsigned channels, std::uint32_t mask);

}  // namespace platform
