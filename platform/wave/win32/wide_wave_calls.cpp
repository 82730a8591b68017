#include <string>

#include "platform/text/win32/native_wide_text.h"
#include "platform/wave/win32/system_wave_calls.h"

// Device names and error texts come from the multimedia library's wide-character
// calls and are handed on as UTF-8, cut at a whole character to the record's field.

namespace platform::winmm {
namespace {

// The library's wide records: the narrow ones with 16-bit name characters.
struct WAVEINCAPSW {
  WORD wMid;
  WORD wPid;
  MMVERSION vDriverVersion;
  wchar_t szPname[MAXPNAMELEN];
  DWORD dwFormats;
  WORD wChannels;
  WORD wReserved1;
};

struct WAVEOUTCAPSW {
  WORD wMid;
  WORD wPid;
  MMVERSION vDriverVersion;
  wchar_t szPname[MAXPNAMELEN];
  DWORD dwFormats;
  WORD wChannels;
  WORD wReserved1;
  DWORD dwSupport;
};

static_assert(sizeof(WAVEINCAPSW) == 80);
static_assert(sizeof(WAVEOUTCAPSW) == 84);

}  // namespace

extern "C" {
MMRESULT waveInGetDevCapsW(UINT_PTR id, WAVEINCAPSW* caps, UINT size);
MMRESULT waveOutGetDevCapsW(UINT_PTR id, WAVEOUTCAPSW* caps, UINT size);
MMRESULT waveInGetErrorTextW(MMRESULT error, wchar_t* text, UINT size);
MMRESULT waveOutGetErrorTextW(MMRESULT error, wchar_t* text, UINT size);
}

}  // namespace platform::winmm

namespace platform::system_wave {
namespace {

template <typename Narrow, typename Wide>
void CopyCaps(const Wide& wide, Narrow* caps) {
  caps->wMid = wide.wMid;
  caps->wPid = wide.wPid;
  caps->vDriverVersion = wide.vDriverVersion;
  CopyUtf8Field(win32::Utf8FromWideField(wide.szPname, MAXPNAMELEN).c_str(), caps->szPname,
                sizeof caps->szPname);
  caps->dwFormats = wide.dwFormats;
  caps->wChannels = wide.wChannels;
  caps->wReserved1 = wide.wReserved1;
}

template <typename Call>
MMRESULT ErrorText(Call call, MMRESULT error, LPSTR text, UINT size) {
  if (text == nullptr || size == 0) return call(error, nullptr, 0);
  wchar_t wide[MAXERRORLENGTH] = {};
  const MMRESULT result = call(error, wide, MAXERRORLENGTH);
  if (result != MMSYSERR_NOERROR) return result;
  CopyUtf8Field(win32::Utf8FromWideField(wide, MAXERRORLENGTH).c_str(), text, size);
  return result;
}

}  // namespace

MMRESULT waveInGetDevCapsA(UINT_PTR id, WAVEINCAPSA* caps, UINT size) {
  if (caps == nullptr || size < sizeof(WAVEINCAPSA)) return MMSYSERR_INVALPARAM;
  winmm::WAVEINCAPSW wide{};
  const MMRESULT result = winmm::waveInGetDevCapsW(id, &wide, sizeof wide);
  if (result == MMSYSERR_NOERROR) CopyCaps(wide, caps);
  return result;
}

MMRESULT waveOutGetDevCapsA(UINT_PTR id, WAVEOUTCAPSA* caps, UINT size) {
  if (caps == nullptr || size < sizeof(WAVEOUTCAPSA)) return MMSYSERR_INVALPARAM;
  winmm::WAVEOUTCAPSW wide{};
  const MMRESULT result = winmm::waveOutGetDevCapsW(id, &wide, sizeof wide);
  if (result != MMSYSERR_NOERROR) return result;
  CopyCaps(wide, caps);
  caps->dwSupport = wide.dwSupport;
  return result;
}

MMRESULT waveInGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
  return ErrorText(winmm::waveInGetErrorTextW, error, text, size);
}

MMRESULT waveOutGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
  return ErrorText(winmm::waveOutGetErrorTextW, error, text, size);
}

}  // namespace platform::system_wave
