// The compression manager's routines: the process-wide switch, handles, and the streams
// around platform/acm's codecs (codec_stream.h).

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/acm/acm_codec.h"
#include "platform/acm/acm_formats.h"
#include "platform/acm/codec_module.h"
#include "platform/acm/codec_stream.h"
#include "platform/acm/msacm.h"

struct HACMSTREAM__ {
  platform::CodecStream stream;
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
  return platform::CodecFormatSuggest(pwfxSrc, pwfxDst, cbwfxDst, fdwSuggest, RouteAvailable);
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
  *phas = new HACMSTREAM__{{std::move(codec), {}}};
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
  return platform::CodecStreamSize(has->stream, cbInput, pdwOutputBytes, fdwSize);
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare) {
  if (!Present()) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  return platform::CodecStreamPrepareHeader(pash, fdwPrepare);
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare) {
  if (!Present()) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  return platform::CodecStreamUnprepareHeader(pash, fdwUnprepare);
}

MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert) {
  if (!Present()) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  return platform::CodecStreamConvert(has->stream, pash, fdwConvert);
}

MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset) {
  if (!Present()) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  return platform::CodecStreamReset(has->stream, fdwReset);
}
