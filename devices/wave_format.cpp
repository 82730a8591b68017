#include "devices/wave_format.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/framework/exception.h"

static_assert(std::numeric_limits<long double>::digits >= 64,
              "MulDiv64 needs an extended-precision long double (64-bit mantissa)");

namespace {

std::int32_t Saturate32(std::int64_t v) {
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

// ((x + align - 1) div align) * align in unsigned 32-bit arithmetic; 0 for align 0.
std::int32_t AlignUp(std::int32_t x, std::uint16_t align) {
  if (align == 0) return 0;
  const std::uint32_t ux = static_cast<std::uint32_t>(x);
  return static_cast<std::int32_t>((ux + align - 1u) / align * align);
}

std::int64_t AlignUp64(std::int64_t x, std::uint16_t align) {
  if (align == 0) return 0;
  const std::uint64_t ux = static_cast<std::uint64_t>(x);
  return static_cast<std::int64_t>((ux + align - 1u) / align * align);
}

// Rates are unsigned in the record; the scaling routines take signed values.
std::int32_t S32(std::uint32_t v) {
  return static_cast<std::int32_t>(v);
}

}  // namespace

void* AllocZeroedBlock(std::size_t size) {
  void* block = std::calloc(size == 0 ? 1 : size, 1);
  if (block == nullptr) throw EOutOfMemory();
  return block;
}

std::int32_t MulDivRound(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return 0;
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  const std::int64_t q = product / c;
  const std::int64_t r = product - q * c;
  return Saturate32(q + (2 * r) / c);
}

std::int32_t MulDivTrunc(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return 0;
  return Saturate32(static_cast<std::int64_t>(a) * b / c);
}

std::int64_t MulDiv64(std::int64_t a, std::int64_t b, std::int64_t c) {
  if (c == 0) return 0;
  const long double q = std::trunc(static_cast<long double>(a) * static_cast<long double>(b) / c);
  // 2^63 is exactly representable; anything at or beyond the range saturates.
  constexpr long double kLimit = 9223372036854775808.0L;
  if (q >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (q <= -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(q);
}

void BuildPCMFormat(WAVEFORMATEX& fmt, int bits, int channels, std::uint32_t sampleRate) {
  fmt.wFormatTag = WAVE_FORMAT_PCM;
  fmt.nChannels = static_cast<std::uint16_t>(channels);
  fmt.nSamplesPerSec = sampleRate;
  fmt.wBitsPerSample = static_cast<std::uint16_t>(bits);
  fmt.nBlockAlign = static_cast<std::uint16_t>(
      (static_cast<std::uint32_t>(bits) * static_cast<std::uint32_t>(channels)) >> 3);
  fmt.nAvgBytesPerSec = static_cast<std::uint32_t>(fmt.nBlockAlign) * sampleRate;
  fmt.cbSize = 0;
}

bool IsSupportedPCMFormat(const WAVEFORMATEX* fmt) {
  if (fmt == nullptr || fmt->wFormatTag != WAVE_FORMAT_PCM) return false;
  if (fmt->wBitsPerSample != 8 && fmt->wBitsPerSample != 16) return false;
  if (fmt->nChannels != 1 && fmt->nChannels != 2 && fmt->nChannels != 4) return false;
  return fmt->nSamplesPerSec >= 4000 && fmt->nSamplesPerSec <= 100000;
}

bool Is8Or16BitPCMFormat(const WAVEFORMATEX* fmt) {
  return fmt != nullptr && fmt->wFormatTag == WAVE_FORMAT_PCM &&
         (fmt->wBitsPerSample == 8 || fmt->wBitsPerSample == 16) && fmt->nChannels > 0;
}

int WaveFormatSize(const WAVEFORMATEX* fmt) {
  if (fmt == nullptr) return 0;
  if (fmt->wFormatTag == WAVE_FORMAT_PCM) return sizeof(WAVEFORMATEX);
  return static_cast<int>(sizeof(WAVEFORMATEX)) + fmt->cbSize;
}

PWaveFormatEx CopyWaveFormat(const WAVEFORMATEX* fmt) {
  const int size = WaveFormatSize(fmt);
  if (size <= 0) return nullptr;
  auto* copy = static_cast<PWaveFormatEx>(AllocZeroedBlock(static_cast<std::size_t>(size)));
  std::memcpy(copy, fmt, static_cast<std::size_t>(size));
  if (copy->wFormatTag == WAVE_FORMAT_PCM) copy->cbSize = 0;
  return copy;
}

TMMMode WaveFormatToMMMode(const WAVEFORMATEX* fmt) {
  return ChannelCountToMMMode(fmt == nullptr ? 0 : fmt->nChannels);
}

std::int32_t BytesToSamples(const WAVEFORMATEX* fmt, std::int32_t bytes) {
  if (fmt == nullptr) return 0;
  return MulDivRound(bytes, S32(fmt->nSamplesPerSec), S32(fmt->nAvgBytesPerSec));
}

std::int32_t SamplesToBytes(const WAVEFORMATEX* fmt, std::int32_t samples) {
  if (fmt == nullptr) return 0;
  return AlignUp(MulDivRound(samples, S32(fmt->nAvgBytesPerSec), S32(fmt->nSamplesPerSec)),
                 fmt->nBlockAlign);
}

std::int32_t BytesToMs(const WAVEFORMATEX* fmt, std::int32_t bytes) {
  if (fmt == nullptr) return 0;
  return MulDivRound(bytes, 1000, S32(fmt->nAvgBytesPerSec));
}

std::int32_t MsToBytes(const WAVEFORMATEX* fmt, std::int32_t ms) {
  if (fmt == nullptr) return 0;
  return AlignUp(MulDivRound(ms, S32(fmt->nAvgBytesPerSec), 1000), fmt->nBlockAlign);
}

std::int32_t SamplesToMs(const WAVEFORMATEX* fmt, std::int32_t samples) {
  if (fmt == nullptr) return 0;
  return MulDivRound(samples, 1000, S32(fmt->nSamplesPerSec));
}

std::int32_t MsToSamples(const WAVEFORMATEX* fmt, std::int32_t ms) {
  if (fmt == nullptr) return 0;
  return MulDivRound(ms, S32(fmt->nSamplesPerSec), 1000);
}

std::int64_t SamplesToBytes64(const WAVEFORMATEX* fmt, std::int64_t samples) {
  if (fmt == nullptr) return 0;
  return AlignUp64(MulDiv64(samples, fmt->nAvgBytesPerSec, fmt->nSamplesPerSec), fmt->nBlockAlign);
}

std::int64_t SamplesToMs64(const WAVEFORMATEX* fmt, std::int64_t samples) {
  if (fmt == nullptr) return 0;
  return MulDiv64(samples, 1000, fmt->nSamplesPerSec);
}

const TWaveFormatTagName WaveFormatTags[WaveFormatTagCount] = {
    {"Unknown", 0x0000},
    {"PCM", 0x0001},
    {"PCM 32", 0x020C},
    {"Microsoft ADPCM", 0x0002},
    {"IEEE Float", 0x0003},
    {"IBM CVSD", 0x0005},
    {"CCITT A-Law", 0x0006},
    {"CCITT mu-Law", 0x0007},
    {"OKI ADPCM", 0x0010},
    {"IMA ADPCM", 0x0011},
    {"DVI ADPCM", 0x0011},
    {"Mediaspace's ADPCM", 0x0012},
    {"Sierra's ADPCM", 0x0013},
    {"CCITT G.723 ADPCM", 0x0014},
    {"Digisound DIGISTD", 0x0015},
    {"Digisound DIGIFIX", 0x0016},
    {"Dialogic OKI ADPCM", 0x0017},
    {"Yamaha ADPCM", 0x0020},
    {"Sonarc", 0x0021},
    {"DSP Group's Truespeech", 0x0022},
    {"Echo SC1", 0x0023},
    {"Audiofile AF36", 0x0024},
    {"Audio Processing Technology", 0x0025},
    {"Audiofile AF10", 0x0026},
    {"Dolby AC2", 0x0030},
    {"Dolby AC2", 0x0209},
    {"GSM 6.10", 0x0031},
    {"Antex ADPCME", 0x0033},
    {"CS IMA ADPCM", 0x0039},
    {"CCITT G.721 ADPCM", 0x0040},
    {"MPEG 1", 0x0050},
    {"MPEG Layer-3", 0x0055},
    {"Creative's ADPCM", 0x0200},
    {"Olivetti's ADPCM", 0x1001},
    {"CDI-C", 0x0204},
    {"CDI-B", 0x0205},
    {"Antex-DVI-OKI ADPCME", 0x0206},
    {"Extensible", 0xFFFE},
    {"*DEVELOPMENT ONLY TAG*", 0xFFFF},
    {"", 0x0000},
};

std::string WaveFormatTagName(const WAVEFORMATEX* fmt) {
  if (fmt != nullptr) {
    for (const TWaveFormatTagName* row = WaveFormatTags; row->Name[0] != '\0'; ++row) {
      if (row->Tag == fmt->wFormatTag) return row->Name;
    }
  }
  return "Unknown";
}
