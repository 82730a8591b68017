#pragma once

// A stream component that turns one wave format into another on the way down a chain,
// through the compression manager. Its destination format comes from BuildDestFormat (the
// base takes the format given to SetPWaveFormat); when the input already has it, or cannot
// be converted, data pass through unchanged. Buffers are pulled (BufferLoad) or pushed
// (BufferReady) on whatever thread drives the chain; the converter takes no lock of its own.

#include <cstdint>

#include "files/acm_conversion.h"
#include "platform/framework/exception.h"
#include "stream/dsp_component.h"

class EMMConverterError : public Exception {
 public:
  using Exception::Exception;
};

// The converter's two refusals.
inline constexpr const char* kMMCannotConvert = "Unable to convert to destination format";
inline constexpr const char* kMMInvalidConverterFormat = "Invalid WaveFormat";

class TMMACMConverter : public TMMDSPComponent {
 public:
  explicit TMMACMConverter(TComponent* owner);
  ~TMMACMConverter() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  TMMConvertQuality GetQuality() const { return quality_; }
  void SetQuality(TMMConvertQuality value);

  // The format delivered: a copy of the requested format when enabled, none otherwise.
  virtual void BuildDestFormat();

  void Loaded() override;
  // Keeps a copy as the requested format and recomputes; none, and any format while
  // loading or being destroyed, is ignored.
  void SetPWaveFormat(const WAVEFORMATEX* format) override;
  void SetInputFormat(const WAVEFORMATEX* format) override;
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Reset() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  const WAVEFORMATEX* InputFormat() const { return input_format_; }
  const WAVEFORMATEX* DestFormat() const { return dest_format_; }
  bool Differ() const { return differ_; }
  bool Convertible() const { return convertible_; }
  // The stages built at open, or null.
  PMMACMConversion Conversion() const { return conversion_; }

 protected:
  // Destination, differ and convertible again; the converter's own format becomes the
  // destination when it can convert, else its input format.
  void Recompute();
  const WAVEFORMATEX* RequestedFormat() const { return requested_format_; }
  void SetDestFormat(const WAVEFORMATEX* format);

 private:
  // A conversion is built and wanted.
  bool Converting() const;
  [[noreturn]] void Refuse();

  bool enabled_ = true;
  TMMConvertQuality quality_ = cqLow;
  bool conv_opened_ = false;
  bool conv_started_ = false;
  std::int32_t chunk_size_ = 0;
  PWaveFormatEx input_format_ = nullptr;
  PWaveFormatEx requested_format_ = nullptr;
  PWaveFormatEx dest_format_ = nullptr;
  bool differ_ = false;
  bool convertible_ = false;
  PMMACMConversion conversion_ = nullptr;
  bool upstream_more_ = false;
  bool input_exhausted_ = false;
  // The codecs gave out all they held after the end of the source.
  bool drained_ = false;
  TMMWaveHdr pull_{};
};
