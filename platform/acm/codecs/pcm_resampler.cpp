// PCM to PCM over libswresample: 8 or 16 bits, one or two channels, any rate of the offered
// range. One channel becomes two by copying it; two become one by their mean.

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>

#include "platform/acm/codecs/av_codecs.h"

namespace platform {

namespace {

AVSampleFormat SampleFormat(const WAVEFORMATEX& f) {
  return f.wBitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
}

class PcmResampler final : public AcmCodec {
 public:
  PcmResampler(const WAVEFORMATEX& src, const WAVEFORMATEX& dst) : src_(src), dst_(dst) {}
  ~PcmResampler() override { swr_free(&swr_); }

  bool Open(bool highQuality) {
    AVChannelLayout in;
    AVChannelLayout out;
    av_channel_layout_default(&in, src_.nChannels);
    av_channel_layout_default(&out, dst_.nChannels);
    if (swr_alloc_set_opts2(&swr_, &out, SampleFormat(dst_), static_cast<int>(dst_.nSamplesPerSec),
                            &in, SampleFormat(src_), static_cast<int>(src_.nSamplesPerSec), 0,
                            nullptr) < 0) {
      return false;
    }
    if (highQuality) av_opt_set_int(swr_, "filter_size", 64, 0);
    if (src_.nChannels != dst_.nChannels) {
      static constexpr double kUpmix[2] = {1.0, 1.0};    // two outputs from one input
      static constexpr double kDownmix[2] = {0.5, 0.5};  // one output from two inputs
      const bool up = dst_.nChannels > src_.nChannels;
      if (swr_set_matrix(swr_, up ? kUpmix : kDownmix, up ? 1 : 2) < 0) return false;
    }
    return swr_init(swr_) >= 0;
  }

  std::uint32_t SourceBlock() const override { return src_.nBlockAlign; }

  // The resampler holds back at most a filter's length of input.
  std::uint64_t OutputBound(std::uint64_t sourceBytes) const override {
    const std::uint64_t frames = sourceBytes / src_.nBlockAlign + kHeldBack;
    return (frames * dst_.nSamplesPerSec / src_.nSamplesPerSec + kHeldBack) * dst_.nBlockAlign;
  }
  std::uint64_t InputFor(std::uint64_t destBytes) const override {
    const std::uint64_t frames = destBytes / dst_.nBlockAlign;
    return frames * src_.nSamplesPerSec / dst_.nSamplesPerSec * src_.nBlockAlign;
  }

  bool Convert(const std::uint8_t* src, std::uint32_t bytes, AcmBytes& out) override {
    if (drained_) Restart();
    return Run(src, static_cast<int>(bytes / src_.nBlockAlign), out);
  }

  bool Flush(const std::uint8_t*, std::uint32_t, AcmBytes& out) override {
    if (drained_) return true;
    drained_ = true;
    for (std::size_t before = out.size();; before = out.size()) {
      if (!Run(nullptr, 0, out)) return false;
      if (out.size() == before) return true;
    }
  }

  void Restart() override {
    drained_ = false;
    swr_init(swr_);
  }

 private:
  static constexpr std::uint64_t kHeldBack = 256;

  bool Run(const std::uint8_t* src, int frames, AcmBytes& out) {
    int room = swr_get_out_samples(swr_, frames);
    if (room < 0) return false;
    // Draining: whatever the estimate, room for what a filter holds.
    if (src == nullptr) room = std::max(room, 1024);
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(room) * dst_.nBlockAlign);
    std::uint8_t* outPlanes[1] = {out.data() + start};
    const std::uint8_t* inPlanes[1] = {src};
    const int made = swr_convert(swr_, outPlanes, room, src ? inPlanes : nullptr, frames);
    if (made < 0) {
      out.resize(start);
      return false;
    }
    out.resize(start + static_cast<std::size_t>(made) * dst_.nBlockAlign);
    return true;
  }

  WAVEFORMATEX src_;
  WAVEFORMATEX dst_;
  SwrContext* swr_ = nullptr;
  bool drained_ = false;
};

}  // namespace

std::unique_ptr<AcmCodec> MakePcmResampler(const WAVEFORMATEX& src, const WAVEFORMATEX& dst,
                                           bool highQuality) {
  auto resampler = std::make_unique<PcmResampler>(src, dst);
  if (!resampler->Open(highQuality)) return nullptr;
  return resampler;
}

}  // namespace platform
