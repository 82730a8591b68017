#pragma once

// The codecs that run over the system's codec libraries (the compressed formats other than
// ADPCM, and PCM resampling) live in a shared module of their own, modules/tessaline-codecs.so.
// Linking those libraries would load them, and the many libraries they depend on, into every
// program at start; the module is opened only when a conversion first needs it, so that a
// program that converts nothing, or only what platform/acm decodes itself, never maps them.
//
// The module is looked for in modules/ beside the program, and then in modules/ of the
// installed programs' folder as seen from the command-line tools' folder (which is also where
// the build tree puts it as seen from its programs', tests' and benchmarks' folders). It is
// opened once per process and stays loaded.

#include <cstdint>

#include "platform/acm/acm_codec.h"

extern "C" {

// What the module offers: a narrow table of factories. Each returns a new codec (deleted by
// its owner through the AcmCodec interface), or null when the codec cannot be set up for the
// formats. The caller has checked that the pair is offered (AcmOffers).
struct AcmCodecModule {
  std::uint32_t version;  // kAcmCodecModuleVersion of the module's build
  // MPEG Layer-3, A-law, mu-law, GSM 6.10 to 16-bit PCM (AcmRoute::AvCodec).
  platform::AcmCodec* (*makeDecoder)(const WAVEFORMATEX* src);
  // PCM to PCM of another depth, channel count or rate (AcmRoute::Resample).
  platform::AcmCodec* (*makeResampler)(const WAVEFORMATEX* src, const WAVEFORMATEX* dst,
                                       bool highQuality);
};

// The module's one exported entry point (defined in the module only, looked up by name).
const AcmCodecModule* tessaline_codec_module();
using AcmCodecModuleEntry = decltype(&tessaline_codec_module);
}

namespace platform {

// Raised whenever AcmCodec or AcmCodecModule change: a module of another build is refused.
inline constexpr std::uint32_t kAcmCodecModuleVersion = 2;
inline constexpr char kAcmCodecModuleEntryName[] = "tessaline_codec_module";

// The module's table, opened on the first call; null when the module cannot be found or
// loaded (the system's codec libraries missing, a module of another build): the conversions
// it offers are then not offered. Safe from any thread.
const AcmCodecModule* LoadAcmCodecModule();

}  // namespace platform
