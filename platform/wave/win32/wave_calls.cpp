#include "platform/audio/audio_backend.h"
#include "platform/wave/standin.h"
#include "platform/wave/win32/winmm.h"

// On Windows each wave call goes to the system's multimedia library, or, while the
// process's audio back-end is not the system's (the virtual devices, or none), to
// the stand-in over that back-end.

UINT waveInGetNumDevs() {
  return platform::UsesSystemAudio() ? platform::winmm::waveInGetNumDevs()
                                     : platform::standin::waveInGetNumDevs();
}

UINT waveOutGetNumDevs() {
  return platform::UsesSystemAudio() ? platform::winmm::waveOutGetNumDevs()
                                     : platform::standin::waveOutGetNumDevs();
}

MMRESULT waveInGetDevCapsA(UINT_PTR id, WAVEINCAPSA* caps, UINT size) {
  return platform::UsesSystemAudio() ? platform::winmm::waveInGetDevCapsA(id, caps, size)
                                     : platform::standin::waveInGetDevCapsA(id, caps, size);
}

MMRESULT waveOutGetDevCapsA(UINT_PTR id, WAVEOUTCAPSA* caps, UINT size) {
  return platform::UsesSystemAudio() ? platform::winmm::waveOutGetDevCapsA(id, caps, size)
                                     : platform::standin::waveOutGetDevCapsA(id, caps, size);
}

MMRESULT waveInGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
  return platform::UsesSystemAudio() ? platform::winmm::waveInGetErrorTextA(error, text, size)
                                     : platform::standin::waveInGetErrorTextA(error, text, size);
}

MMRESULT waveOutGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
  return platform::UsesSystemAudio() ? platform::winmm::waveOutGetErrorTextA(error, text, size)
                                     : platform::standin::waveOutGetErrorTextA(error, text, size);
}

MMRESULT waveInOpen(LPHWAVEIN phwi, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
  return platform::UsesSystemAudio()
             ? platform::winmm::waveInOpen(phwi, deviceId, format, callback, instance, flags)
             : platform::standin::waveInOpen(phwi, deviceId, format, callback, instance, flags);
}

MMRESULT waveInClose(HWAVEIN hwi) {
  return platform::UsesSystemAudio() ? platform::winmm::waveInClose(hwi)
                                     : platform::standin::waveInClose(hwi);
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT size) {
  return platform::UsesSystemAudio() ? platform::winmm::waveInPrepareHeader(hwi, header, size)
                                     : platform::standin::waveInPrepareHeader(hwi, header, size);
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT size) {
  return platform::UsesSystemAudio() ? platform::winmm::waveInUnprepareHeader(hwi, header, size)
                                     : platform::standin::waveInUnprepareHeader(hwi, header, size);
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR header, UINT size) {
  return platform::UsesSystemAudio() ? platform::winmm::waveInAddBuffer(hwi, header, size)
                                     : platform::standin::waveInAddBuffer(hwi, header, size);
}

MMRESULT waveInStart(HWAVEIN hwi) {
  return platform::UsesSystemAudio() ? platform::winmm::waveInStart(hwi)
                                     : platform::standin::waveInStart(hwi);
}

MMRESULT waveInStop(HWAVEIN hwi) {
  return platform::UsesSystemAudio() ? platform::winmm::waveInStop(hwi)
                                     : platform::standin::waveInStop(hwi);
}

MMRESULT waveInReset(HWAVEIN hwi) {
  return platform::UsesSystemAudio() ? platform::winmm::waveInReset(hwi)
                                     : platform::standin::waveInReset(hwi);
}

MMRESULT waveInGetPosition(HWAVEIN hwi, LPMMTIME time, UINT size) {
  return platform::UsesSystemAudio() ? platform::winmm::waveInGetPosition(hwi, time, size)
                                     : platform::standin::waveInGetPosition(hwi, time, size);
}

MMRESULT waveInGetID(HWAVEIN hwi, UINT* deviceId) {
  return platform::UsesSystemAudio() ? platform::winmm::waveInGetID(hwi, deviceId)
                                     : platform::standin::waveInGetID(hwi, deviceId);
}

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags) {
  return platform::UsesSystemAudio()
             ? platform::winmm::waveOutOpen(phwo, deviceId, format, callback, instance, flags)
             : platform::standin::waveOutOpen(phwo, deviceId, format, callback, instance, flags);
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
  return platform::UsesSystemAudio() ? platform::winmm::waveOutClose(hwo)
                                     : platform::standin::waveOutClose(hwo);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  return platform::UsesSystemAudio() ? platform::winmm::waveOutPrepareHeader(hwo, header, size)
                                     : platform::standin::waveOutPrepareHeader(hwo, header, size);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  return platform::UsesSystemAudio() ? platform::winmm::waveOutUnprepareHeader(hwo, header, size)
                                     : platform::standin::waveOutUnprepareHeader(hwo, header, size);
}

MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  return platform::UsesSystemAudio() ? platform::winmm::waveOutWrite(hwo, header, size)
                                     : platform::standin::waveOutWrite(hwo, header, size);
}

MMRESULT waveOutPause(HWAVEOUT hwo) {
  return platform::UsesSystemAudio() ? platform::winmm::waveOutPause(hwo)
                                     : platform::standin::waveOutPause(hwo);
}

MMRESULT waveOutRestart(HWAVEOUT hwo) {
  return platform::UsesSystemAudio() ? platform::winmm::waveOutRestart(hwo)
                                     : platform::standin::waveOutRestart(hwo);
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
  return platform::UsesSystemAudio() ? platform::winmm::waveOutReset(hwo)
                                     : platform::standin::waveOutReset(hwo);
}

MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME time, UINT size) {
  return platform::UsesSystemAudio() ? platform::winmm::waveOutGetPosition(hwo, time, size)
                                     : platform::standin::waveOutGetPosition(hwo, time, size);
}

MMRESULT waveOutGetID(HWAVEOUT hwo, UINT* deviceId) {
  return platform::UsesSystemAudio() ? platform::winmm::waveOutGetID(hwo, deviceId)
                                     : platform::standin::waveOutGetID(hwo, deviceId);
}
