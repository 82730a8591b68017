#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/acm/codec_stream.h"
#include "platform/acm/msacm.h"
#include "platform/sysinfo/win32/system_library.h"

// On Windows the compression manager is the system's, loaded from MSACM32.DLL on
// first use. Where it cannot be loaded (or TESSALINE_ACM=none switches it off),
// the library counts as not installed: acmGetVersion answers 0 and every other
// routine MMSYSERR_NODRIVER, as the components expect of a machine without it.
// The records passed on have the library's own layouts.
//
// Samples stored whole (PCM of any depth, IEEE float, either in the extensible
// header), which the system's manager has no converter for, are converted by
// platform/acm's own decoder, as on Linux, so that both builds give the same
// samples. An extensible header around a compressed format is handed to the
// system as the plain format it stands for.

// A stream is either one of platform/acm's codecs or the system's.
struct HACMSTREAM__ {
  platform::CodecStream own;
  HACMSTREAM system = nullptr;
};

namespace {

struct AcmLibrary {
  DWORD (*getVersion)();
  MMRESULT (*formatSuggest)(HACMDRIVER, const WAVEFORMATEX*, WAVEFORMATEX*, DWORD, DWORD);
  MMRESULT(*streamOpen)
  (LPHACMSTREAM, HACMDRIVER, const WAVEFORMATEX*, const WAVEFORMATEX*, LPWAVEFILTER, DWORD_PTR,
   DWORD_PTR, DWORD);
  MMRESULT (*streamClose)(HACMSTREAM, DWORD);
  MMRESULT (*streamSize)(HACMSTREAM, DWORD, LPDWORD, DWORD);
  MMRESULT (*streamPrepareHeader)(HACMSTREAM, LPACMSTREAMHEADER, DWORD);
  MMRESULT (*streamUnprepareHeader)(HACMSTREAM, LPACMSTREAMHEADER, DWORD);
  MMRESULT (*streamConvert)(HACMSTREAM, LPACMSTREAMHEADER, DWORD);
  MMRESULT (*streamReset)(HACMSTREAM, DWORD);
};

template <class F>
bool Bind(void* library, const char* name, F* function) {
  *function = reinterpret_cast<F>(platform::win32::LibraryFunction(library, name));
  return *function != nullptr;
}

// The library with every routine found, or nullptr; loaded once per process.
const AcmLibrary* Loaded() {
  static const AcmLibrary* library = []() -> const AcmLibrary* {
    void* dll = platform::win32::LoadSystemLibrary("MSACM32.DLL");
    if (!dll) return nullptr;
    static AcmLibrary l;
    const bool complete = Bind(dll, "acmGetVersion", &l.getVersion) &&
                          Bind(dll, "acmFormatSuggest", &l.formatSuggest) &&
                          Bind(dll, "acmStreamOpen", &l.streamOpen) &&
                          Bind(dll, "acmStreamClose", &l.streamClose) &&
                          Bind(dll, "acmStreamSize", &l.streamSize) &&
                          Bind(dll, "acmStreamPrepareHeader", &l.streamPrepareHeader) &&
                          Bind(dll, "acmStreamUnprepareHeader", &l.streamUnprepareHeader) &&
                          Bind(dll, "acmStreamConvert", &l.streamConvert) &&
                          Bind(dll, "acmStreamReset", &l.streamReset);
    return complete ? &l : nullptr;
  }();
  return library;
}

// -1: not read yet; 0: switched off; 1: on.
std::atomic<int> acm_state{-1};

const AcmLibrary* Library() {
  int state = acm_state.load();
  if (state < 0) {
    const char* value = std::getenv("TESSALINE_ACM");
    state = (value != nullptr && std::string(value) == "none") ? 0 : 1;
    acm_state.store(state);
  }
  return state == 1 ? Loaded() : nullptr;
}

// Whether platform/acm converts src itself.
bool Own(const WAVEFORMATEX* src) {
  return src != nullptr && platform::ClassifyAcmSource(*src).route == platform::AcmRoute::Container;
}

bool OwnRoute(platform::AcmRoute route) {
  return route == platform::AcmRoute::Container;
}

// The record the system is given for src: the plain format an extensible header
// around a compressed one stands for, else src itself.
class SystemFormat {
 public:
  explicit SystemFormat(const WAVEFORMATEX* src)
      : plain_(src ? platform::UnwrapExtensible(*src) : std::vector<std::uint8_t>()),
        format_(plain_.empty() ? src : reinterpret_cast<const WAVEFORMATEX*>(plain_.data())) {}
  const WAVEFORMATEX* Get() const { return format_; }

 private:
  std::vector<std::uint8_t> plain_;
  const WAVEFORMATEX* format_;
};

}  // namespace

namespace platform {

void ReloadAcm() {
  acm_state.store(-1);
}

}  // namespace platform

bool ACMInstalled() {
  return Library() != nullptr;
}

DWORD acmGetVersion() {
  const AcmLibrary* l = Library();
  return l ? l->getVersion() : 0;
}

MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst,
                          DWORD cbwfxDst, DWORD fdwSuggest) {
  const AcmLibrary* l = Library();
  if (!l) return MMSYSERR_NODRIVER;
  if (Own(pwfxSrc)) {
    if (had != nullptr) return MMSYSERR_INVALHANDLE;
    return platform::CodecFormatSuggest(pwfxSrc, pwfxDst, cbwfxDst, fdwSuggest, OwnRoute);
  }
  const SystemFormat src(pwfxSrc);
  return l->formatSuggest(had, src.Get(), pwfxDst, cbwfxDst, fdwSuggest);
}

MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, LPWAVEFILTER pwfltr, DWORD_PTR dwCallback,
                       DWORD_PTR dwInstance, DWORD fdwOpen) {
  if (phas != nullptr) *phas = nullptr;
  const AcmLibrary* l = Library();
  if (!l) return MMSYSERR_NODRIVER;
  const bool query = (fdwOpen & ACM_STREAMOPENF_QUERY) != 0;
  if (!query && phas == nullptr) return MMSYSERR_INVALPARAM;
  if (Own(pwfxSrc)) {
    if (had != nullptr) return MMSYSERR_INVALHANDLE;
    if (pwfxDst == nullptr) return MMSYSERR_INVALPARAM;
    if ((fdwOpen &
         ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME)) != 0) {
      return MMSYSERR_INVALFLAG;
    }
    // Conversions are synchronous and unfiltered.
    if (pwfltr != nullptr || (fdwOpen & ACM_STREAMOPENF_ASYNC) != 0 || dwCallback != 0 ||
        dwInstance != 0) {
      return MMSYSERR_NOTSUPPORTED;
    }
    if (!platform::AcmOffers(*pwfxSrc, *pwfxDst)) return ACMERR_NOTPOSSIBLE;
    auto codec = platform::MakeContainerDecoder(*pwfxSrc);
    if (codec == nullptr) return ACMERR_NOTPOSSIBLE;
    if (!query) *phas = new HACMSTREAM__{{std::move(codec), {}}, nullptr};
    return MMSYSERR_NOERROR;
  }
  const SystemFormat src(pwfxSrc);
  HACMSTREAM system = nullptr;
  const MMRESULT result = l->streamOpen(query ? nullptr : &system, had, src.Get(), pwfxDst, pwfltr,
                                        dwCallback, dwInstance, fdwOpen);
  if (result == MMSYSERR_NOERROR && !query) *phas = new HACMSTREAM__{{}, system};
  return result;
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose) {
  const AcmLibrary* l = Library();
  if (!l) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (has->system != nullptr) {
    const MMRESULT result = l->streamClose(has->system, fdwClose);
    if (result == MMSYSERR_NOERROR) delete has;
    return result;
  }
  if (fdwClose != 0) return MMSYSERR_INVALFLAG;
  delete has;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, LPDWORD pdwOutputBytes, DWORD fdwSize) {
  const AcmLibrary* l = Library();
  if (!l) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  return has->system ? l->streamSize(has->system, cbInput, pdwOutputBytes, fdwSize)
                     : platform::CodecStreamSize(has->own, cbInput, pdwOutputBytes, fdwSize);
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare) {
  const AcmLibrary* l = Library();
  if (!l) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  return has->system ? l->streamPrepareHeader(has->system, pash, fdwPrepare)
                     : platform::CodecStreamPrepareHeader(pash, fdwPrepare);
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare) {
  const AcmLibrary* l = Library();
  if (!l) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  return has->system ? l->streamUnprepareHeader(has->system, pash, fdwUnprepare)
                     : platform::CodecStreamUnprepareHeader(pash, fdwUnprepare);
}

MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert) {
  const AcmLibrary* l = Library();
  if (!l) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  return has->system ? l->streamConvert(has->system, pash, fdwConvert)
                     : platform::CodecStreamConvert(has->own, pash, fdwConvert);
}

MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset) {
  const AcmLibrary* l = Library();
  if (!l) return MMSYSERR_NODRIVER;
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  return has->system ? l->streamReset(has->system, fdwReset)
                     : platform::CodecStreamReset(has->own, fdwReset);
}
