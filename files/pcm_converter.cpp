#include "files/pcm_converter.h"

#include <algorithm>

TMMPCMConverter::TMMPCMConverter(TComponent* owner) : TMMACMConverter(owner) {}

const TClassInfo& TMMPCMConverter::StaticClassInfo() {
  using C = TMMPCMConverter;
  static const TClassInfo info =
      TClassInfoBuilder<C>("TMMPCMConverter", &TMMACMConverter::StaticClassInfo())
          .Creatable()
          .Bool("AutoConvert", &C::GetAutoConvert, &C::SetAutoConvert)
          .Int<std::int32_t>("SampleRate", &C::GetSampleRate, &C::SetSampleRate)
          .Enum<TMMBits>("BitLength", {"b8Bit", "b16Bit"}, &C::GetBitLength, &C::SetBitLength)
          .Enum<TMMMode>("Mode", {"mMono", "mStereo", "mMultiChannel"}, &C::GetMode, &C::SetMode)
          .Set("Required", {"rpBits", "rpChannels", "rpSampleRate"}, &C::GetRequired,
               &C::SetRequired)
          .Build();
  return info;
}

void TMMPCMConverter::SetAutoConvert(bool value) {
  if (value == auto_convert_) return;
  auto_convert_ = value;
  Recompute();
}

void TMMPCMConverter::SetSampleRate(std::int32_t value) {
  value = std::clamp(value, kPCMConverterMinRate, kPCMConverterMaxRate);
  if (value == sample_rate_) return;
  sample_rate_ = value;
  Recompute();
}

void TMMPCMConverter::SetBitLength(TMMBits value) {
  if (value == bit_length_) return;
  bit_length_ = value;
  Recompute();
}

void TMMPCMConverter::SetMode(TMMMode value) {
  if (value == mode_ || value == mMultiChannel) return;
  mode_ = value;
  Recompute();
}

void TMMPCMConverter::SetRequired(TMMRequiredParams value) {
  value &= kAllRequiredParams;
  if (value == required_) return;
  required_ = value;
  Recompute();
}

WAVEFORMATEX TMMPCMConverter::SuggestionFor(const WAVEFORMATEX* input) const {
  WAVEFORMATEX dest;
  SuggestPCM(input, dest);
  if (dest.wFormatTag == 0 && input->wFormatTag != WAVE_FORMAT_PCM) {
    // 8-bit PCM in the extensible header stays 8-bit: its bytes pass as they are.
    const int bits =
        input->wFormatTag == WAVE_FORMAT_EXTENSIBLE && input->wBitsPerSample == 8 ? 8 : 16;
    BuildPCMFormat(dest, bits, input->nChannels, input->nSamplesPerSec);
  }
  return dest;
}

void TMMPCMConverter::BuildDestFormat() {
  if (!GetEnabled()) {
    SetDestFormat(nullptr);
    return;
  }
  const WAVEFORMATEX* input = InputFormat();
  WAVEFORMATEX dest{};
  if (input != nullptr) {
    dest = SuggestionFor(input);
    if (!auto_convert_) {
      const int bits =
          (required_ & (1u << rpBits)) != 0 ? MMBitsToBitCount(bit_length_) : dest.wBitsPerSample;
      const int channels = (required_ & (1u << rpChannels)) != 0
                               ? MMModeToChannelCount(mode_, dest.nChannels)
                               : dest.nChannels;
      const std::uint32_t rate = (required_ & (1u << rpSampleRate)) != 0
                                     ? static_cast<std::uint32_t>(sample_rate_)
                                     : dest.nSamplesPerSec;
      BuildPCMFormat(dest, bits, channels, rate);
    }
  } else {
    BuildPCMFormat(dest, MMBitsToBitCount(bit_length_), MMModeToChannelCount(mode_, 1),
                   static_cast<std::uint32_t>(sample_rate_));
  }
  SetDestFormat(dest.wFormatTag == 0 ? nullptr : &dest);
}

void TMMPCMConverter::SetPWaveFormat(const WAVEFORMATEX* format) {
  if (format != nullptr && !HasState(csDesigning) && !IsSupportedPCMFormat(format)) {
    throw EMMConverterError(kMMInvalidConverterFormat);
  }
  TMMACMConverter::SetPWaveFormat(format);
}
