// The compression manager's routines: argument checks, the process-wide switch, and the
// stream around one codec (whole source blocks in, output kept until the caller takes it).

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/acm/acm_codec.h"
#include "platform/acm/acm_formats.h"
#include "platform/acm/codec_module.h"
#include "platform/acm/msacm.h"

struct HACMSTREAM__ {
  std::unique_ptr<platform::AcmCodec> codec;
  // Converted bytes the caller has not taken yet.
  platform::AcmBytes pending;
};

namespace {

// -1: not read yet; 0: switched off; 1: present.
std::atomic<int> acm_state{-1};

bool Present() {
  int state = acm_state.load();
  if (state < 0) {
    const char* value = std::getenv("TESSALINE_ACM");
    state = (value != nullptr && std::string(value) == "none") ? 0 : 1;
    acm_state.store(state);
  }
  return state == 1;
}

// Reserved driver fields of a prepared header: the lengths it was prepared with.
constexpr int kPreparedSrc = 0;
constexpr int kPreparedDst = 1;

bool ValidHeader(const ACMSTREAMHEADER* h) {
  return h != nullptr && h->cbStruct >= sizeof(ACMSTREAMHEADER);
}

// Whether the codecs of the route are at hand; the codec module is opened for the routes
// that need it.
bool RouteAvailable(platform::AcmRoute route) {
  if (route != platform::AcmRoute::Resample && route != platform::AcmRoute::AvCodec) return true;
  return platform::LoadAcmCodecModule() != nullptr;
}

std::unique_ptr<platform::AcmCodec> Own(platform::AcmCodec* codec) {
  return std::unique_ptr<platform::AcmCodec>(codec);
}

}  // namespace

namespace platform {

void ReloadAcm() {
  acm_state.store(-1);
}

std::unique_ptr<AcmCodec> MakeAcmCodec(const WAVEFORMATEX& src, const WAVEFORMATEX& dst,
                                       bool highQuality) {
  const std::vector<std::uint8_t> plain = UnwrapExtensible(src);
  if (!plain.empty()) {
    return MakeAcmCodec(*reinterpret_cast<const WAVEFORMATEX*>(plain.data()), dst, highQuality);
  }
  if (!AcmOffers(src, dst)) return nullptr;
  const AcmRoute route = ClassifyAcmSource(src).route;
  if (!RouteAvailable(route)) return nullptr;
  switch (route) {
    case AcmRoute::Resample:
      return Own(LoadAcmCodecModule()->makeResampler(&src, &dst, highQuality));
    case AcmRoute::Container:
      return MakeContainerDecoder(src);
    case AcmRoute::Adpcm:
      return MakeAdpcmDecoder(src);
    case AcmRoute::AvCodec:
      return Own(LoadAcmCodecModule()->makeDecoder(&src));
    case AcmRoute::None:
      break;
  }
  return nullptr;
}

}  // namespace platform

bool ACMInstalled() {
  return Present();
}

DWORD acmGetVersion() {
  return Present() ? ACM_VERSION_2_00 : 0;
}

MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst,
                          DWORD cbwfxDst, DWORD fdwSuggest) {
  if (!Present()) return MMSYSERR_NODRIVER;
  if (had != nullptr) return MMSYSERR_INVALHANDLE;
  if (pwfxSrc == nullptr || pwfxDst == nullptr || cbwfxDst < sizeof(WAVEFORMATEX)) {
    return MMSYSERR_INVALPARAM;
  }
  if ((fdwSuggest & ~ACM_FORMATSUGGESTF_TYPEMASK) != 0) return MMSYSERR_INVALFLAG;
  const platform::AcmSource source = platform::ClassifyAcmSource(*pwfxSrc);
  if (source.route == platform::AcmRoute::None) return ACMERR_NOTPOSSIBLE;
  // Only PCM is produced.
  if ((fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG) != 0 && pwfxDst->wFormatTag != WAVE_FORMAT_PCM) {
    return ACMERR_NOTPOSSIBLE;
  }
  const bool resampled = source.route == platform::AcmRoute::Resample;
  const int channels =
      (fdwSuggest & ACM_FORMATSUGGESTF_NCHANNELS) != 0 ? pwfxDst->nChannels : pwfxSrc->nChannels;
  const std::uint32_t rate = (fdwSuggest & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) != 0
                                 ? pwfxDst->nSamplesPerSec
                                 : pwfxSrc->nSamplesPerSec;
  const int bits = (fdwSuggest & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) != 0 ? pwfxDst->wBitsPerSample
                   : resampled                                           ? pwfxSrc->wBitsPerSample
                                                                         : 16;
  if (channels < 1 || channels > platform::kAcmMaxChannels || bits < 1 || bits > 32) {
    return ACMERR_NOTPOSSIBLE;
  }
  WAVEFORMATEX suggestion;
  platform::MakeAcmPcm(suggestion, bits, channels, rate);
  if (!platform::AcmOffers(*pwfxSrc, suggestion) || !RouteAvailable(source.route)) {
    return ACMERR_NOTPOSSIBLE;
  }
  std::memcpy(pwfxDst, &suggestion, sizeof suggestion);
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, LPWAVEFILTER pwfltr, DWORD_PTR dwCallback,
                       DWORD_PTR dwInstance, DWORD fdwOpen) {
  if (phas != nullptr) *phas = nullptr;
  if (!Present()) return MMSYSERR_NODRIVER;
  if (had != nullptr) return MMSYSERR_INVALHANDLE;
  if (pwfxSrc == nullptr || pwfxDst == nullptr) return MMSYSERR_INVALPARAM;
  if ((fdwOpen & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME)) !=
      0) {
    return MMSYSERR_INVALFLAG;
  }
  // Conversions are synchronous and unfiltered.
  if (pwfltr != nullptr || (fdwOpen & ACM_STREAMOPENF_ASYNC) != 0 || dwCallback != 0 ||
      dwInstance != 0) {
    return MMSYSERR_NOTSUPPORTED;
  }
  const bool query = (fdwOpen & ACM_STREAMOPENF_QUERY) != 0;
  if (!query && phas == nullptr) return MMSYSERR_INVALPARAM;
  auto codec =
      platform::MakeAcmCodec(*pwfxSrc, *pwfxDst, (fdwOpen & ACM_STREAMOPENF_NONREALTIME) != 0);
  if (codec == nullptr) return ACMERR_NOTPOSSIBLE;
  if (query) return MMSYSERR_NOERROR;
  *phas = new HACMSTREAM__{std::move(codec), {}};
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose) {
  if (!Present()) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (fdwClose != 0) return MMSYSERR_INVALFLAG;
  delete has;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, LPDWORD pdwOutputBytes, DWORD fdwSize) {
  if (!Present()) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (pdwOutputBytes == nullptr) return MMSYSERR_INVALPARAM;
  std::uint64_t bytes = 0;
  if (fdwSize == ACM_STREAMSIZEF_SOURCE) {
    bytes = has->codec->OutputBound(cbInput);
  } else if (fdwSize == ACM_STREAMSIZEF_DESTINATION) {
    bytes = has->codec->InputFor(cbInput);
  } else {
    return MMSYSERR_INVALFLAG;
  }
  if (bytes == 0 || bytes > 0xFFFFFFFFu) return ACMERR_NOTPOSSIBLE;
  *pdwOutputBytes = static_cast<DWORD>(bytes);
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare) {
  if (!Present()) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (!ValidHeader(pash) || pash->pbSrc == nullptr || pash->pbDst == nullptr) {
    return MMSYSERR_INVALPARAM;
  }
  if (fdwPrepare != 0) return MMSYSERR_INVALFLAG;
  pash->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
  pash->dwReservedDriver[kPreparedSrc] = pash->cbSrcLength;
  pash->dwReservedDriver[kPreparedDst] = pash->cbDstLength;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare) {
  if (!Present()) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (!ValidHeader(pash)) return MMSYSERR_INVALPARAM;
  if (fdwUnprepare != 0) return MMSYSERR_INVALFLAG;
  if ((pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0) return ACMERR_UNPREPARED;
  pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert) {
  if (!Present()) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
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
  platform::AcmCodec& codec = *has->codec;
  if ((fdwConvert & ACM_STREAMCONVERTF_START) != 0) {
    codec.Restart();
    has->pending.clear();
  }
  // Whole blocks only, but at the end of the source, where a partial last block is decoded
  // as far as it goes. Elsewhere, without block alignment, a trailing part of a block is
  // taken as used; it cannot be converted on its own.
  const bool end = (fdwConvert & ACM_STREAMCONVERTF_END) != 0;
  const std::uint32_t block = codec.SourceBlock();
  const std::uint32_t whole = pash->cbSrcLength / block * block;
  if (!codec.Convert(pash->pbSrc, whole, has->pending)) return MMSYSERR_ERROR;
  if (end && !codec.Flush(pash->pbSrc + whole, pash->cbSrcLength - whole, has->pending)) {
    return MMSYSERR_ERROR;
  }
  const std::size_t taken = std::min<std::size_t>(has->pending.size(), pash->cbDstLength);
  if (taken > 0) std::memcpy(pash->pbDst, has->pending.data(), taken);
  has->pending.erase(has->pending.begin(),
                     has->pending.begin() + static_cast<std::ptrdiff_t>(taken));
  pash->cbSrcLengthUsed =
      (fdwConvert & ACM_STREAMCONVERTF_BLOCKALIGN) != 0 && !end ? whole : pash->cbSrcLength;
  pash->cbDstLengthUsed = static_cast<DWORD>(taken);
  pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset) {
  if (!Present()) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (fdwReset != 0) return MMSYSERR_INVALFLAG;
  has->codec->Restart();
  has->pending.clear();
  return MMSYSERR_NOERROR;
}
