#pragma once

// The codecs of the codec module (see platform/acm/codec_module.h). Each returns null when it
// cannot be set up for the formats; the caller has checked that the pair is offered.

#include <memory>

#include "platform/acm/acm_codec.h"

namespace platform {

std::unique_ptr<AcmCodec> MakeAvDecoder(const WAVEFORMATEX& src);
std::unique_ptr<AcmCodec> MakePcmResampler(const WAVEFORMATEX& src, const WAVEFORMATEX& dst,
                                           bool highQuality);

}  // namespace platform
