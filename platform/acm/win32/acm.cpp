#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/acm/msacm.h"
#include "platform/sysinfo/win32/system_library.h"

// On Windows the compression manager is the system's, loaded from MSACM32.DLL on
// first use. Where it cannot be loaded (or TESSALINE_ACM=none switches it off),
// the library counts as not installed: acmGetVersion answers 0 and every other
// routine MMSYSERR_NODRIVER, as the components expect of a machine without it.
// The records passed on have the library's own layouts.

namespace {

struct AcmLibrary {
  DWORD (*getVersion)();
  MMRESULT (*formatSuggest)(HACMDRIVER, const WAVEFORMATEX*, WAVEFORMATEX*, DWORD, DWORD);
  MMRESULT (*streamOpen)
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
  return l ? l->formatSuggest(had, pwfxSrc, pwfxDst, cbwfxDst, fdwSuggest) : MMSYSERR_NODRIVER;
}

MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, LPWAVEFILTER pwfltr, DWORD_PTR dwCallback,
                       DWORD_PTR dwInstance, DWORD fdwOpen) {
  const AcmLibrary* l = Library();
  return l ? l->streamOpen(phas, had, pwfxSrc, pwfxDst, pwfltr, dwCallback, dwInstance, fdwOpen)
           : MMSYSERR_NODRIVER;
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose) {
  const AcmLibrary* l = Library();
  return l ? l->streamClose(has, fdwClose) : MMSYSERR_NODRIVER;
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, LPDWORD pdwOutputBytes, DWORD fdwSize) {
  const AcmLibrary* l = Library();
  return l ? l->streamSize(has, cbInput, pdwOutputBytes, fdwSize) : MMSYSERR_NODRIVER;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare) {
  const AcmLibrary* l = Library();
  return l ? l->streamPrepareHeader(has, pash, fdwPrepare) : MMSYSERR_NODRIVER;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare) {
  const AcmLibrary* l = Library();
  return l ? l->streamUnprepareHeader(has, pash, fdwUnprepare) : MMSYSERR_NODRIVER;
}

MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert) {
  const AcmLibrary* l = Library();
  return l ? l->streamConvert(has, pash, fdwConvert) : MMSYSERR_NODRIVER;
}

MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset) {
  const AcmLibrary* l = Library();
  return l ? l->streamReset(has, fdwReset) : MMSYSERR_NODRIVER;
}
