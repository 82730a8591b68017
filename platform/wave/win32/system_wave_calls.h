#pragma once

// The system's wave calls as the platform layer makes them: the wave output
// calls that system_wave_out.h holds to the layer's contract, the capability
// and error-text calls through the library's wide-character ones (texts come
// back UTF-8), every other one the multimedia library's own.

#include "platform/wave/win32/winmm.h"

namespace platform::system_wave {

using namespace winmm;

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags);
MMRESULT waveOutClose(HWAVEOUT hwo);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size);
MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR header, UINT size);
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME time, UINT size);

MMRESULT waveInGetDevCapsA(UINT_PTR id, WAVEINCAPSA* caps, UINT size);
MMRESULT waveOutGetDevCapsA(UINT_PTR id, WAVEOUTCAPSA* caps, UINT size);
MMRESULT waveInGetErrorTextA(MMRESULT error, LPSTR text, UINT size);
MMRESULT waveOutGetErrorTextA(MMRESULT error, LPSTR text, UINT size);

}  // namespace platform::system_wave
