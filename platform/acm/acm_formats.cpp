#include "platform/acm/acm_formats.h"

#include <cstring>
#include <vector>

#include "platform/acm/msacm.h"

namespace platform {

namespace {

// The GUID of an extensible subformat: its first field is the wave format tag, the rest is
// the same for every tag.
constexpr std::uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool ValidRate(std::uint32_t rate) {
  return rate >= 1 && rate <= 768000;
}

bool ValidChannels(int channels, int most) {
  return channels >= 1 && channels <= most;
}

// Integer or float samples stored whole, interleaved: the block must be one sample of every
// channel.
AcmSource Container(const WAVEFORMATEX& f, int bits, bool isFloat) {
  const bool depthOk =
      isFloat ? (bits == 32 || bits == 64) : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  if (!depthOk || !ValidChannels(f.nChannels, kAcmMaxChannels) || !ValidRate(f.nSamplesPerSec) ||
      f.nBlockAlign != f.nChannels * bits / 8) {
    return {};
  }
  return {AcmRoute::Container, bits / 8, isFloat};
}

AcmSource Extensible(const WAVEFORMATEX& f) {
  const int subTag = SubFormatTag(f);
  if (subTag == WAVE_FORMAT_PCM) return Container(f, f.wBitsPerSample, false);
  if (subTag == WAVE_FORMAT_IEEE_FLOAT) return Container(f, f.wBitsPerSample, true);
  const std::vector<std::uint8_t> plain = UnwrapExtensible(f);
  if (plain.empty()) return {};
  return ClassifyAcmSource(*reinterpret_cast<const WAVEFORMATEX*>(plain.data()));
}

AcmSource Compressed(const WAVEFORMATEX& f, int mostChannels) {
  if (!ValidChannels(f.nChannels, mostChannels) || !ValidRate(f.nSamplesPerSec) ||
      f.nBlockAlign == 0) {
    return {};
  }
  return {AcmRoute::AvCodec, 0, false};
}

// Four bits a sample, one or two channels, and a block that holds the headers and samples.
AcmSource Adpcm(const WAVEFORMATEX& f) {
  const int ch = f.nChannels;
  if (f.wBitsPerSample != 4 || !ValidChannels(ch, 2) || !ValidRate(f.nSamplesPerSec)) return {};
  const bool ima = f.wFormatTag == WAVE_FORMAT_IMA_ADPCM;
  const int header = (ima ? 4 : 7) * ch;
  if (f.nBlockAlign <= header || (ima && (f.nBlockAlign - header) % (4 * ch) != 0)) return {};
  return {AcmRoute::Adpcm, 0, false};
}

}  // namespace

int SubFormatTag(const WAVEFORMATEX& f) {
  if (f.wFormatTag != WAVE_FORMAT_EXTENSIBLE ||
      f.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) {
    return 0;
  }
  WAVEFORMATEXTENSIBLE x;
  std::memcpy(&x, &f, sizeof x);
  if (std::memcmp(x.SubFormat + 2, kSubFormatTail, sizeof kSubFormatTail) != 0) return 0;
  return x.SubFormat[0] | (x.SubFormat[1] << 8);
}

std::uint32_t ExtensibleChannelMask(const WAVEFORMATEX& f) {
  if (SubFormatTag(f) == 0) return 0;
  WAVEFORMATEXTENSIBLE x;
  std::memcpy(&x, &f, sizeof x);
  return x.dwChannelMask;
}

WAVEFORMATEXTENSIBLE ExtensiblePcm(const WAVEFORMATEX& pcm, std::uint32_t mask) {
  WAVEFORMATEXTENSIBLE x{};
  x.Format = pcm;
  x.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  x.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  x.wValidBitsPerSample = pcm.wBitsPerSample;
  x.dwChannelMask = mask;
  x.SubFormat[0] = WAVE_FORMAT_PCM & 0xFF;
  x.SubFormat[1] = WAVE_FORMAT_PCM >> 8;
  std::memcpy(x.SubFormat + 2, kSubFormatTail, sizeof kSubFormatTail);
  return x;
}

std::vector<std::uint8_t> UnwrapExtensible(const WAVEFORMATEX& f) {
  const int subTag = SubFormatTag(f);
  if (subTag == 0 || subTag == WAVE_FORMAT_PCM || subTag == WAVE_FORMAT_IEEE_FLOAT ||
      subTag == WAVE_FORMAT_EXTENSIBLE) {
    return {};
  }
  // The plain tag's extra data follows the extensible fields.
  constexpr std::size_t kExtensibleFields = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  if (f.cbSize < kExtensibleFields) return {};
  const std::size_t extra = f.cbSize - kExtensibleFields;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&f);
  std::vector<std::uint8_t> plain(sizeof(WAVEFORMATEX) + extra);
  std::memcpy(plain.data(), bytes, sizeof(WAVEFORMATEX));
  std::memcpy(plain.data() + sizeof(WAVEFORMATEX), bytes + sizeof(WAVEFORMATEXTENSIBLE), extra);
  WAVEFORMATEX head;
  std::memcpy(&head, plain.data(), sizeof head);
  head.wFormatTag = static_cast<std::uint16_t>(subTag);
  head.cbSize = static_cast<std::uint16_t>(extra);
  std::memcpy(plain.data(), &head, sizeof head);
  return plain;
}

void MakeAcmPcm(WAVEFORMATEX& pcm, int bits, int channels, std::uint32_t rate) {
  pcm = WAVEFORMATEX{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  pcm.nChannels = static_cast<std::uint16_t>(channels);
  pcm.nSamplesPerSec = rate;
  pcm.wBitsPerSample = static_cast<std::uint16_t>(bits);
  pcm.nBlockAlign = static_cast<std::uint16_t>(bits * channels / 8);
  pcm.nAvgBytesPerSec = pcm.nBlockAlign * rate;
}

bool IsResamplablePcm(const WAVEFORMATEX& pcm) {
  return pcm.wFormatTag == WAVE_FORMAT_PCM &&
         (pcm.wBitsPerSample == 8 || pcm.wBitsPerSample == 16) && ValidChannels(pcm.nChannels, 2) &&
         pcm.nSamplesPerSec >= kAcmMinResampleRate && pcm.nSamplesPerSec <= kAcmMaxResampleRate &&
         pcm.nBlockAlign == pcm.nChannels * pcm.wBitsPerSample / 8;
}

AcmSource ClassifyAcmSource(const WAVEFORMATEX& f) {
  switch (f.wFormatTag) {
    case WAVE_FORMAT_PCM:
      if (IsResamplablePcm(f)) return {AcmRoute::Resample, f.wBitsPerSample / 8, false};
      return Container(f, f.wBitsPerSample, false);
    case WAVE_FORMAT_IEEE_FLOAT:
      return Container(f, f.wBitsPerSample, true);
    case WAVE_FORMAT_EXTENSIBLE:
      return Extensible(f);
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
      if (f.nBlockAlign != f.nChannels) return {};
      return Compressed(f, kAcmMaxChannels);
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_IMA_ADPCM:
      return Adpcm(f);
    case WAVE_FORMAT_GSM610:
      return Compressed(f, 1);
    case WAVE_FORMAT_MPEGLAYER3:
      return Compressed(f, 2);
    default:
      return {};
  }
}

bool AcmOffers(const WAVEFORMATEX& src, const WAVEFORMATEX& dst) {
  const AcmSource source = ClassifyAcmSource(src);
  switch (source.route) {
    case AcmRoute::None:
      return false;
    case AcmRoute::Resample:
      return IsResamplablePcm(dst);
    case AcmRoute::Container:
    case AcmRoute::Adpcm:
    case AcmRoute::AvCodec: {
      WAVEFORMATEX decoded;
      MakeAcmPcm(decoded, 16, src.nChannels, src.nSamplesPerSec);
      return dst.wFormatTag == decoded.wFormatTag && dst.nChannels == decoded.nChannels &&
             dst.nSamplesPerSec == decoded.nSamplesPerSec &&
             dst.wBitsPerSample == decoded.wBitsPerSample && dst.nBlockAlign == decoded.nBlockAlign;
    }
  }
  return false;
}

}  // namespace platform
