#include "platform/acm/codec_stream.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

// Reserved driver fields of a prepared header: the lengths it was prepared with.
constexpr int kPreparedSrc = 0;
constexpr int kPreparedDst = 1;

bool ValidHeader(const ACMSTREAMHEADER* h) {
  return h != nullptr && h->cbStruct >= sizeof(ACMSTREAMHEADER);
}

}  // namespace

MMRESULT CodecFormatSuggest(const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst, DWORD cbwfxDst,
                            DWORD fdwSuggest, bool (*available)(AcmRoute)) {
  if (pwfxSrc == nullptr || pwfxDst == nullptr || cbwfxDst < sizeof(WAVEFORMATEX)) {
    return MMSYSERR_INVALPARAM;
  }
  if ((fdwSuggest & ~ACM_FORMATSUGGESTF_TYPEMASK) != 0) return MMSYSERR_INVALFLAG;
  const AcmSource source = ClassifyAcmSource(*pwfxSrc);
  if (source.route == AcmRoute::None) return ACMERR_NOTPOSSIBLE;
  // Only PCM is produced.
  if ((fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG) != 0 && pwfxDst->wFormatTag != WAVE_FORMAT_PCM) {
    return ACMERR_NOTPOSSIBLE;
  }
  const bool resampled = source.route == AcmRoute::Resample;
  const int channels =
      (fdwSuggest & ACM_FORMATSUGGESTF_NCHANNELS) != 0 ? pwfxDst->nChannels : pwfxSrc->nChannels;
  const std::uint32_t rate = (fdwSuggest & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) != 0
                                 ? pwfxDst->nSamplesPerSec
                                 : pwfxSrc->nSamplesPerSec;
  const int bits = (fdwSuggest & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) != 0 ? pwfxDst->wBitsPerSample
                   : resampled                                           ? pwfxSrc->wBitsPerSample
                                                                         : 16;
  if (channels < 1 || channels > kAcmMaxChannels || bits < 1 || bits > 32) {
    return ACMERR_NOTPOSSIBLE;
  }
  WAVEFORMATEX suggestion;
  MakeAcmPcm(suggestion, bits, channels, rate);
  if (!AcmOffers(*pwfxSrc, suggestion) || !available(source.route)) return ACMERR_NOTPOSSIBLE;
  std::memcpy(pwfxDst, &suggestion, sizeof suggestion);
  return MMSYSERR_NOERROR;
}

MMRESULT CodecStreamSize(CodecStream& stream, DWORD cbInput, LPDWORD pdwOutputBytes,
                         DWORD fdwSize) {
  if (pdwOutputBytes == nullptr) return MMSYSERR_INVALPARAM;
  std::uint64_t bytes = 0;
  if (fdwSize == ACM_STREAMSIZEF_SOURCE) {
    bytes = stream.codec->OutputBound(cbInput);
  } else if (fdwSize == ACM_STREAMSIZEF_DESTINATION) {
    bytes = stream.codec->InputFor(cbInput);
  } else {
    return MMSYSERR_INVALFLAG;
  }
  if (bytes == 0 || bytes > 0xFFFFFFFFu) return ACMERR_NOTPOSSIBLE;
  *pdwOutputBytes = static_cast<DWORD>(bytes);
  return MMSYSERR_NOERROR;
}

MMRESULT CodecStreamPrepareHeader(LPACMSTREAMHEADER pash, DWORD fdwPrepare) {
  if (!ValidHeader(pash) || pash->pbSrc == nullptr || pash->pbDst == nullptr) {
    return MMSYSERR_INVALPARAM;
  }
  if (fdwPrepare != 0) return MMSYSERR_INVALFLAG;
  pash->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
  pash->dwReservedDriver[kPreparedSrc] = pash->cbSrcLength;
  pash->dwReservedDriver[kPreparedDst] = pash->cbDstLength;
  return MMSYSERR_NOERROR;
}

MMRESULT CodecStreamUnprepareHeader(LPACMSTREAMHEADER pash, DWORD fdwUnprepare) {
  if (!ValidHeader(pash)) return MMSYSERR_INVALPARAM;
  if (fdwUnprepare != 0) return MMSYSERR_INVALFLAG;
  if ((pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0) return ACMERR_UNPREPARED;
  // As the system's own service: only with the lengths it was prepared with.
  if (pash->cbSrcLength != pash->dwReservedDriver[kPreparedSrc] ||
      pash->cbDstLength != pash->dwReservedDriver[kPreparedDst]) {
    return MMSYSERR_INVALPARAM;
  }
  pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT CodecStreamConvert(CodecStream& stream, LPACMSTREAMHEADER pash, DWORD fdwConvert) {
  if (!ValidHeader(pash)) return MMSYSERR_INVALPARAM;
  if ((fdwConvert &
       ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END)) != 0) {
    return MMSYSERR_INVALFLAG;
  }
  if ((pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0) return ACMERR_UNPREPARED;
  if (pash->cbSrcLength > pash->dwReservedDriver[kPreparedSrc] ||
      pash->cbDstLength > pash->dwReservedDriver[kPreparedDst]) {
    return MMSYSERR_INVALPARAM;
  }
  pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
  pash->cbSrcLengthUsed = 0;
  pash->cbDstLengthUsed = 0;
  AcmCodec& codec = *stream.codec;
  if ((fdwConvert & ACM_STREAMCONVERTF_START) != 0) {
    codec.Restart();
    stream.pending.clear();
  }
  // Whole blocks only, but at the end of the source, where a partial last block is decoded
  // as far as it goes. Elsewhere, without block alignment, a trailing part of a block is
  // taken as used; it cannot be converted on its own.
  const bool end = (fdwConvert & ACM_STREAMCONVERTF_END) != 0;
  const std::uint32_t block = codec.SourceBlock();
  const std::uint32_t whole = pash->cbSrcLength / block * block;
  if (!codec.Convert(pash->pbSrc, whole, stream.pending)) return MMSYSERR_ERROR;
  if (end && !codec.Flush(pash->pbSrc + whole, pash->cbSrcLength - whole, stream.pending)) {
    return MMSYSERR_ERROR;
  }
  const std::size_t taken = std::min<std::size_t>(stream.pending.size(), pash->cbDstLength);
  if (taken > 0) std::memcpy(pash->pbDst, stream.pending.data(), taken);
  stream.pending.erase(stream.pending.begin(),
                       stream.pending.begin() + static_cast<std::ptrdiff_t>(taken));
  pash->cbSrcLengthUsed =
      (fdwConvert & ACM_STREAMCONVERTF_BLOCKALIGN) != 0 && !end ? whole : pash->cbSrcLength;
  pash->cbDstLengthUsed = static_cast<DWORD>(taken);
  pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return MMSYSERR_NOERROR;
}

MMRESULT CodecStreamReset(CodecStream& stream, DWORD fdwReset) {
  if (fdwReset != 0) return MMSYSERR_INVALFLAG;
  stream.codec->Restart();
  stream.pending.clear();
  return MMSYSERR_NOERROR;
}

}  // namespace platform
