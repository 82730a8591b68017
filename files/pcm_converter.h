#pragma once

// The converter that makes sure PCM comes out: with AutoConvert (the default) PCM passes
// through and every other format becomes the PCM the compression manager suggests for it;
// without, the Required parts of the format are those of BitLength, Mode and SampleRate.

#include <cstdint>

#include "devices/mm_types.h"
#include "files/acm_converter.h"

enum TMMRequiredParam : std::uint8_t { rpBits, rpChannels, rpSampleRate };
// A set of TMMRequiredParam, one bit per ordinal.
using TMMRequiredParams = std::uint32_t;
inline constexpr TMMRequiredParams kAllRequiredParams =
    (1u << rpBits) | (1u << rpChannels) | (1u << rpSampleRate);

inline constexpr std::int32_t kPCMConverterMinRate = 8000;
inline constexpr std::int32_t kPCMConverterMaxRate = 88200;

class TMMPCMConverter : public TMMACMConverter {
 public:
  explicit TMMPCMConverter(TComponent* owner);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  bool GetAutoConvert() const { return auto_convert_; }
  void SetAutoConvert(bool value);
  // Limited to 8000 .. 88200.
  std::int32_t GetSampleRate() const { return sample_rate_; }
  void SetSampleRate(std::int32_t value);
  TMMBits GetBitLength() const { return bit_length_; }
  void SetBitLength(TMMBits value);
  // mMono and mStereo; mMultiChannel is ignored.
  TMMMode GetMode() const { return mode_; }
  void SetMode(TMMMode value);
  TMMRequiredParams GetRequired() const { return required_; }
  void SetRequired(TMMRequiredParams value);

  void BuildDestFormat() override;
  // Only supported PCM formats are accepted ("Invalid WaveFormat"), except at design time.
  void SetPWaveFormat(const WAVEFORMATEX* format) override;

 private:
  // The PCM the input becomes: the suggestion, or for an input the compression manager
  // cannot decode, 16-bit PCM at its channels and rate (so that the need to convert shows).
  WAVEFORMATEX SuggestionFor(const WAVEFORMATEX* input) const;

  bool auto_convert_ = true;
  std::int32_t sample_rate_ = 11025;
  TMMBits bit_length_ = b8Bit;
  TMMMode mode_ = mMono;
  TMMRequiredParams required_ = kAllRequiredParams;
};
