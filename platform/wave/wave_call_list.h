#pragma once

// Every wave call once: X(result, name, parameters, arguments). The stand-ins,
// the system library's declarations and the calls that choose between them are
// all made from this list.

#define TESSALINE_WAVE_CALLS(X)                                                                    \
  X(UINT, waveInGetNumDevs, (), ())                                                                \
  X(UINT, waveOutGetNumDevs, (), ())                                                               \
  X(MMRESULT, waveInGetDevCapsA, (UINT_PTR id, WAVEINCAPSA * caps, UINT size), (id, caps, size))   \
  X(MMRESULT, waveOutGetDevCapsA, (UINT_PTR id, WAVEOUTCAPSA * caps, UINT size), (id, caps, size)) \
  X(MMRESULT, waveInGetErrorTextA, (MMRESULT error, LPSTR text, UINT size), (error, text, size))   \
  X(MMRESULT, waveOutGetErrorTextA, (MMRESULT error, LPSTR text, UINT size), (error, text, size))  \
  X(MMRESULT, waveInOpen,                                                                          \
    (LPHWAVEIN phwi, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,                \
     DWORD_PTR instance, DWORD flags),                                                             \
    (phwi, deviceId, format, callback, instance, flags))                                           \
  X(MMRESULT, waveInClose, (HWAVEIN hwi), (hwi))                                                   \
  X(MMRESULT, waveInPrepareHeader, (HWAVEIN hwi, LPWAVEHDR header, UINT size),                     \
    (hwi, header, size))                                                                           \
  X(MMRESULT, waveInUnprepareHeader, (HWAVEIN hwi, LPWAVEHDR header, UINT size),                   \
    (hwi, header, size))                                                                           \
  X(MMRESULT, waveInAddBuffer, (HWAVEIN hwi, LPWAVEHDR header, UINT size), (hwi, header, size))    \
  X(MMRESULT, waveInStart, (HWAVEIN hwi), (hwi))                                                   \
  X(MMRESULT, waveInStop, (HWAVEIN hwi), (hwi))                                                    \
  X(MMRESULT, waveInReset, (HWAVEIN hwi), (hwi))                                                   \
  X(MMRESULT, waveInGetPosition, (HWAVEIN hwi, LPMMTIME time, UINT size), (hwi, time, size))       \
  X(MMRESULT, waveInGetID, (HWAVEIN hwi, UINT * deviceId), (hwi, deviceId))                        \
  X(MMRESULT, waveOutOpen,                                                                         \
    (LPHWAVEOUT phwo, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,               \
     DWORD_PTR instance, DWORD flags),                                                             \
    (phwo, deviceId, format, callback, instance, flags))                                           \
  X(MMRESULT, waveOutClose, (HWAVEOUT hwo), (hwo))                                                 \
  X(MMRESULT, waveOutPrepareHeader, (HWAVEOUT hwo, LPWAVEHDR header, UINT size),                   \
    (hwo, header, size))                                                                           \
  X(MMRESULT, waveOutUnprepareHeader, (HWAVEOUT hwo, LPWAVEHDR header, UINT size),                 \
    (hwo, header, size))                                                                           \
  X(MMRESULT, waveOutWrite, (HWAVEOUT hwo, LPWAVEHDR header, UINT size), (hwo, header, size))      \
  X(MMRESULT, waveOutPause, (HWAVEOUT hwo), (hwo))                                                 \
  X(MMRESULT, waveOutRestart, (HWAVEOUT hwo), (hwo))                                               \
  X(MMRESULT, waveOutReset, (HWAVEOUT hwo), (hwo))                                                 \
  X(MMRESULT, waveOutGetPosition, (HWAVEOUT hwo, LPMMTIME time, UINT size), (hwo, time, size))     \
  X(MMRESULT, waveOutGetID, (HWAVEOUT hwo, UINT * deviceId), (hwo, deviceId))
