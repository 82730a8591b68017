#pragma once

// The stand-in wave services over the process's audio back-end (platform/audio),
// under the wave interface's names. On Linux they are the wave services; on
// Windows they serve the virtual back-end, and the system's services the rest
// (see wave_calls.h).

#include "platform/wave/wave_caps.h"
#include "platform/wave/wave_error_text.h"
#include "platform/wave/wave_in.h"
#include "platform/wave/wave_out.h"

namespace platform::standin {

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

}  // namespace platform::standin
