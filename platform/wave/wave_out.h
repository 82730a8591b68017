#pragma once

// Wave output calls over the process's audio back-end (platform/audio).
//
// An open device is a playback stream on its output (the mapper's: the
// default output). Written headers are played in the order written, as one
// stream of bytes. A header is returned (WHDR_DONE set, WHDR_INQUEUE cleared,
// then WOM_DONE) once the back-end reports that its last byte has been
// consumed by the device, that is, played, not when it was copied. A
// trailing partial frame at the end of what was written is completed with
// silence. Between headers the device plays silence.
//
// Each open device has one notification thread of its own: WOM_OPEN,
// WOM_DONE and WOM_CLOSE are delivered from it in the order they arose, to
// the callback function (CALLBACK_FUNCTION), posted to the notification
// window (CALLBACK_WINDOW: MM_WOM_*, wParam = the device handle, lParam = the
// header) or posted to a thread's queue (CALLBACK_THREAD: the same
// messages, the callback value being the thread's identifier). Open is
// notified after the handle has been stored. waveOutClose waits for every
// notification of the device, WOM_CLOSE included, to be delivered before it
// returns. No call blocks on the GUI thread.
//
// A device that goes away returns every queued header as done, in order;
// waveOutPrepareHeader, waveOutWrite, waveOutRestart and waveOutGetPosition
// then fail with MMSYSERR_NODRIVER. waveOutPause, waveOutReset,
// waveOutUnprepareHeader, waveOutGetID and waveOutClose go on working, so
// that the owner can always release the device.

#include "platform/wave/wave_format_record.h"
#include "platform/wave/wave_hdr.h"
#include "platform/wave/wave_types.h"

// Opens output device `deviceId` (0 ... count-1, or WAVE_MAPPER for the
// default output; WAVE_MAPPED with a device number opens that device, whose
// formats need no conversion). Formats: PCM, 8 or 16 bit, 1 ... 8 channels,
// 4000 ... 200000 Hz, with consistent nBlockAlign and nAvgBytesPerSec;
// anything else is WAVERR_BADFORMAT. With WAVE_FORMAT_QUERY only the answer
// is given (phwo may be null). Notification kinds: CALLBACK_NULL,
// CALLBACK_FUNCTION (a WAVECALLBACK), CALLBACK_WINDOW (an HWND of
// platform/messages), CALLBACK_THREAD (a thread identifier of
// platform/threads). The device opens playing (not paused).
MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags);
// WAVERR_STILLPLAYING while headers are queued.
MMRESULT waveOutClose(HWAVEOUT hwo);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size);
// WAVERR_STILLPLAYING while the header is queued.
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size);
// Queues a prepared header (WAVERR_UNPREPARED otherwise) to play its first
// dwBufferLength bytes (0 is allowed: it comes back in its turn); WHDR_DONE
// is cleared, WHDR_INQUEUE set. The loop flags are not looked at.
MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR header, UINT size);
// Pauses playing at once; the position stands still. Writing goes on.
MMRESULT waveOutPause(HWAVEOUT hwo);
// Goes on playing after a pause (nothing for a device that is not paused).
MMRESULT waveOutRestart(HWAVEOUT hwo);
// Stops playing and returns every queued header done, in queue order; the
// position goes back to 0. A paused device stays paused.
MMRESULT waveOutReset(HWAVEOUT hwo);
// Bytes played since the device was opened or last reset (TIME_BYTES), as
// frames (TIME_SAMPLES) or milliseconds (TIME_MS, rounded down); any other
// wType is answered as TIME_BYTES. The counts wrap at 32 bits.
MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME time, UINT size);
// The device number given to waveOutOpen (WAVE_MAPPER for the mapper).
MMRESULT waveOutGetID(HWAVEOUT hwo, UINT* deviceId);

namespace platform {

// How far ahead of what is heard an open device keeps data at the back-end.
inline constexpr unsigned kWaveOutLatencyMs = 40;

}  // namespace platform
