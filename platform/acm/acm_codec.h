#pragma once

// The codecs behind the compression manager's streams. One codec converts one stream from
// its source format to a PCM destination; the stream around it (acm.cpp) cuts the source
// into whole blocks and keeps output that does not fit the caller's buffer.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/wave/wave_format_record.h"

namespace platform {

using AcmBytes = std::vector<std::uint8_t>;

class AcmCodec {
 public:
  virtual ~AcmCodec() = default;

  // Source bytes that are converted together; the stream hands over whole blocks only.
  virtual std::uint32_t SourceBlock() const = 0;
  // Destination bytes that `sourceBytes` of source may give at most.
  virtual std::uint64_t OutputBound(std::uint64_t sourceBytes) const = 0;
  // Source bytes that give at most `destBytes` of destination.
  virtual std::uint64_t InputFor(std::uint64_t destBytes) const = 0;

  // Converts `bytes` source bytes (whole blocks) and appends the PCM to `out`. Data the
  // codec cannot decode is skipped; false only when the codec itself failed.
  virtual bool Convert(const std::uint8_t* src, std::uint32_t bytes, AcmBytes& out) = 0;
  // The end of the source: appends what the codec still holds, and what it can decode of
  // the `bytes` (less than a block) that end the source; a codec that cannot use part of a
  // block skips them.
  virtual bool Flush(const std::uint8_t* tail, std::uint32_t bytes, AcmBytes& out) = 0;
  // Forgets everything held: the next Convert starts a new source.
  virtual void Restart() = 0;
};

// The codec for src -> dst, or null when the pair is not offered (see acm_formats.h).
std::unique_ptr<AcmCodec> MakeAcmCodec(const WAVEFORMATEX& src, const WAVEFORMATEX& dst,
                                       bool highQuality);

// The codecs platform/acm runs itself; each returns null when it cannot be set up for the
// formats. The others come from the codec module (codec_module.h).
std::unique_ptr<AcmCodec> MakeContainerDecoder(const WAVEFORMATEX& src);
std::unique_ptr<AcmCodec> MakeAdpcmDecoder(const WAVEFORMATEX& src);

}  // namespace platform
