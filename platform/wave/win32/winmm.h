#pragma once

// The wave calls of Windows' multimedia library (WINMM.DLL), declared with the
// platform layer's records, whose layouts are the library's own.

#include "platform/wave/wave_caps.h"
#include "platform/wave/wave_error_text.h"
#include "platform/wave/wave_in.h"
#include "platform/wave/wave_out.h"

namespace platform::winmm {

extern "C" {

UINT waveInGetNumDevs();
UINT waveOutGetNumDevs();
MMRESULT waveInGetDevCapsA(UINT_PTR id, WAVEINCAPSA* caps, UINT size);
MMRESULT waveOutGetDevCapsA(UINT_PTR id, WAVEOUTCAPSA* caps, UINT size);
MMRESULT waveInGetErrorTextA(MMRESULT error, LPSTR text, UINT size);
MMRESULT waveOutGetErrorTextA(MMRESULT error, LPSTR text, UINT size);
MMRESULT waveInOpen(LPHWAVEIN phwi, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags);
MMRESULT waveInClose(HWAVEIN hwi);
MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT size);
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT size);
MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR header, UINT size);
MMRESULT waveInStart(HWAVEIN hwi);
MMRESULT waveInStop(HWAVEIN hwi);
MMRESULT waveInReset(HWAVEIN hwi);
MMRESULT waveInGetPosition(HWAVEIN hwi, LPMMTIME time, UINT size);
MMRESULT waveInGetID(HWAVEIN hwi, UINT* deviceId);
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
MMRESULT waveOutGetID(HWAVEOUT hwo, UINT* deviceId);
}  // extern "C"

}  // namespace platform::winmm

namespace platform {

// Whether the process's audio back-end is the system's (the wave and sound-buffer
// calls then go to Windows' own services).
bool UsesSystemAudio();

}  // namespace platform
