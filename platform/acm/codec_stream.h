#pragma once

// A conversion stream around one of platform/acm's codecs, behind the compression
// manager's routines: whole source blocks in, output kept until the caller takes it.
// The routines check what is particular to such a stream; the handle and the switch
// are the caller's.

#include <memory>

#include "platform/acm/acm_codec.h"
#include "platform/acm/acm_formats.h"
#include "platform/acm/msacm.h"

namespace platform {

struct CodecStream {
  std::unique_ptr<AcmCodec> codec;
  // Converted bytes the caller has not taken yet.
  AcmBytes pending;
};

// The PCM format a codec makes of src, as acmFormatSuggest answers; `available` says
// whether the codecs of a route are at hand.
MMRESULT CodecFormatSuggest(const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst, DWORD cbwfxDst,
                            DWORD fdwSuggest, bool (*available)(AcmRoute));
MMRESULT CodecStreamSize(CodecStream& stream, DWORD cbInput, LPDWORD pdwOutputBytes, DWORD fdwSize);
MMRESULT CodecStreamPrepareHeader(LPACMSTREAMHEADER pash, DWORD fdwPrepare);
MMRESULT CodecStreamUnprepareHeader(LPACMSTREAMHEADER pash, DWORD fdwUnprepare);
MMRESULT CodecStreamConvert(CodecStream& stream, LPACMSTREAMHEADER pash, DWORD fdwConvert);
MMRESULT CodecStreamReset(CodecStream& stream, DWORD fdwReset);

}  // namespace platform
