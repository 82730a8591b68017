// Samples stored whole (PCM of any depth, IEEE float) to 16-bit PCM. Every sample is first
// scaled to a 32-bit integer (floats: times 2^31, truncated and limited), then rounded to
// 16 bits, halves upwards, limited at full scale.

#include <cmath>
#include <cstring>

#include "platform/acm/acm_codec.h"
#include "platform/acm/acm_formats.h"

namespace platform {

namespace {

std::int32_t FloatTo32(double x) {
  constexpr double kScale = 2147483648.0;
  if (std::isnan(x)) return 0;
  const double scaled = x * kScale;
  if (scaled <= -kScale) return INT32_MIN;
  if (scaled >= kScale - 1) return INT32_MAX;
  return static_cast<std::int32_t>(scaled);
}

std::int16_t RoundTo16(std::int32_t v) {
  const std::int64_t r = (std::int64_t{v} + 0x8000) >> 16;
  return static_cast<std::int16_t>(r > 32767 ? 32767 : r);
}

class ContainerDecoder final : public AcmCodec {
 public:
  ContainerDecoder(int channels, int sampleBytes, bool isFloat)
      : channels_(channels), bytes_(sampleBytes), float_(isFloat) {}

  std::uint32_t SourceBlock() const override {
    return static_cast<std::uint32_t>(channels_ * bytes_);
  }
  std::uint64_t OutputBound(std::uint64_t sourceBytes) const override {
    return (sourceBytes + SourceBlock() - 1) / SourceBlock() * channels_ * 2;
  }
  std::uint64_t InputFor(std::uint64_t destBytes) const override {
    return destBytes / (channels_ * 2) * SourceBlock();
  }

  bool Convert(const std::uint8_t* src, std::uint32_t bytes, AcmBytes& out) override {
    const std::size_t samples = bytes / bytes_;
    const std::size_t start = out.size();
    out.resize(start + samples * 2);
    std::uint8_t* dst = out.data() + start;
    for (std::size_t i = 0; i < samples; ++i, src += bytes_, dst += 2) {
      const std::int16_t s = RoundTo16(Sample(src));
      dst[0] = static_cast<std::uint8_t>(s & 0xFF);
      dst[1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
    }
    return true;
  }
  bool Flush(const std::uint8_t*, std::uint32_t, AcmBytes&) override { return true; }
  void Restart() override {}

 private:
  // One little-endian sample as a 32-bit integer at full scale.
  std::int32_t Sample(const std::uint8_t* p) const {
    if (float_) {
      if (bytes_ == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return FloatTo32(f);
      }
      double d;
      std::memcpy(&d, p, 8);
      return FloatTo32(d);
    }
    switch (bytes_) {
      case 1:
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0] ^ 0x80) << 24);
      case 2:
        return static_cast<std::int32_t>((std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 24));
      case 3:
        return static_cast<std::int32_t>((std::uint32_t{p[0]} << 8) | (std::uint32_t{p[1]} << 16) |
                                         (std::uint32_t{p[2]} << 24));
      default:
        return static_cast<std::int32_t>(std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
                                         (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24));
    }
  }

  int channels_;
  int bytes_;
  bool float_;
};

}  // namespace

std::unique_ptr<AcmCodec> MakeContainerDecoder(const WAVEFORMATEX& src) {
  const AcmSource s = ClassifyAcmSource(src);
  if (s.route != AcmRoute::Container) return nullptr;
  return std::make_unique<ContainerDecoder>(src.nChannels, s.sampleBytes, s.isFloat);
}

}  // namespace platform
