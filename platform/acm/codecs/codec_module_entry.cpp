// The codec module's entry point: the table the compression manager reads after opening it.

#include "platform/acm/codec_module.h"
#include "platform/acm/codecs/av_codecs.h"

namespace {

platform::AcmCodec* MakeDecoder(const WAVEFORMATEX* src) {
  return src == nullptr ? nullptr : platform::MakeAvDecoder(*src).release();
}

platform::AcmCodec* MakeResampler(const WAVEFORMATEX* src, const WAVEFORMATEX* dst,
                                  bool highQuality) {
  if (src == nullptr || dst == nullptr) return nullptr;
  return platform::MakePcmResampler(*src, *dst, highQuality).release();
}

constexpr AcmCodecModule kModule = {platform::kAcmCodecModuleVersion, MakeDecoder, MakeResampler};

}  // namespace

extern "C" __attribute__((visibility("default"))) const AcmCodecModule* tessaline_codec_module() {
  return &kModule;
}
