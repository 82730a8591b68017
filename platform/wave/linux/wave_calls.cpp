#include "platform/wave/standin.h"

// On Linux the wave services are the stand-ins.

UINT waveInGetNumDevs() {
  return platform::standin::waveInGetNumDevs();
}

UINT waveOutGetNumDevs() {
  return platform::standin::waveOutGetNumDevs();
}

MMRESULT waveInGetDevCapsA(UINT_PTR id, WAVEINCAPSA* caps, UINT size) {
  return platform::standin::waveInGetDevCapsA(id, caps, size);
}

MMRESULT waveOutGetDevCapsA(UINT_PTR id, WAVEOUTCAPSA* caps, UINT size) {
  return platform::standin::waveOutGetDevCapsA(id, caps, size);
}

MMRESULT waveInGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
  return platform::standin::waveInGetErrorTextA(error, text, size);
}

MMRESULT waveOutGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
  return platform::standin::waveOutGetErrorTextA(error, text, size);
}

MMRESULT waveInOpen(LPHWAVEIN phwi, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
  return platform::standin::waveInOpen(phwi, deviceId, format, callback, instance, flags);
}

MMRESULT waveInClose(HWAVEIN hwi) {
  return platform::standin::waveInClose(hwi);
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT size) {
  return platform::standin::waveInPrepareHeader(hwi, header, size);
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT size) {
  return platform::standin::waveInUnprepareHeader(hwi, header, size);
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR header, UINT size) {
  return platform::standin::waveInAddBuffer(hwi, header, size);
}

MMRESULT waveInStart(HWAVEIN hwi) {
  return platform::standin::waveInStart(hwi);
}

MMRESULT waveInStop(HWAVEIN hwi) {
  return platform::standin::waveInStop(hwi);
}

MMRESULT waveInReset(HWAVEIN hwi) {
  return platform::standin::waveInReset(hwi);
}

MMRESULT waveInGetPosition(HWAVEIN hwi, LPMMTIME time, UINT size) {
  return platform::standin::waveInGetPosition(hwi, time, size);
}

MMRESULT waveInGetID(HWAVEIN hwi, UINT* deviceId) {
  return platform::standin::waveInGetID(hwi, deviceId);
}

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags) {
  return platform::standin::waveOutOpen(phwo, deviceId, format, callback, instance, flags);
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
  return platform::standin::waveOutClose(hwo);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  return platform::standin::waveOutPrepareHeader(hwo, header, size);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  return platform::standin::waveOutUnprepareHeader(hwo, header, size);
}

MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  return platform::standin::waveOutWrite(hwo, header, size);
}

MMRESULT waveOutPause(HWAVEOUT hwo) {
  return platform::standin::waveOutPause(hwo);
}

MMRESULT waveOutRestart(HWAVEOUT hwo) {
  return platform::standin::waveOutRestart(hwo);
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
  return platform::standin::waveOutReset(hwo);
}

MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME time, UINT size) {
  return platform::standin::waveOutGetPosition(hwo, time, size);
}

MMRESULT waveOutGetID(HWAVEOUT hwo, UINT* deviceId) {
  return platform::standin::waveOutGetID(hwo, deviceId);
}
