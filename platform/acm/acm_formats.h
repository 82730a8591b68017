#pragma once

// Which conversions the compression manager offers, and the formats they produce.

#include <cstdint>
#include <vector>

#include "platform/acm/msacm.h"
#include "platform/wave/wave_format_record.h"

namespace platform {

// How one stream turns a source format into PCM.
enum class AcmRoute : std::uint8_t {
  None,       // not offered
  Resample,   // 8/16-bit PCM, one or two channels: any PCM of that kind at 8000..96000 Hz
  Container,  // PCM of another depth, IEEE float, or the extensible header: 16-bit PCM
  Adpcm,      // Microsoft or IMA ADPCM: 16-bit PCM
  AvCodec,    // another compressed format: 16-bit PCM
};

struct AcmSource {
  AcmRoute route = AcmRoute::None;
  int sampleBytes = 0;   // Container: bytes per sample of one channel
  bool isFloat = false;  // Container: IEEE float samples
};

inline constexpr std::uint32_t kAcmMinResampleRate = 8000;
inline constexpr std::uint32_t kAcmMaxResampleRate = 96000;
inline constexpr int kAcmMaxChannels = 32;

// The subformat's tag of an extensible header, or 0 when the header is not one.
int SubFormatTag(const WAVEFORMATEX& f);
// The speakers an extensible header's channel mask names, or 0 when the header is not one
// (or names none).
std::uint32_t ExtensibleChannelMask(const WAVEFORMATEX& f);
// pcm (plain PCM) in the extensible header: the same shape, every bit of each sample
// valid, and the channel mask given.
WAVEFORMATEXTENSIBLE ExtensiblePcm(const WAVEFORMATEX& pcm, std::uint32_t mask);

// An extensible header decodes as its subformat: the plain tag's record it stands for (the
// tag, and the extra data that follows the extensible fields), or empty when src is not an
// extensible header around a compressed subformat.
std::vector<std::uint8_t> UnwrapExtensible(const WAVEFORMATEX& src);

AcmSource ClassifyAcmSource(const WAVEFORMATEX& src);

// A PCM record of bits, channels and rate (block align and average rate computed).
void MakeAcmPcm(WAVEFORMATEX& pcm, int bits, int channels, std::uint32_t rate);

// Whether pcm is a consistent 8- or 16-bit PCM record the resampler can take or give.
bool IsResamplablePcm(const WAVEFORMATEX& pcm);

// Whether one stream converts src into dst.
bool AcmOffers(const WAVEFORMATEX& src, const WAVEFORMATEX& dst);

}  // namespace platform
