#pragma once

// Wave input calls over the process's audio back-end (platform/audio).
//
// The driver's notifications (WIM_OPEN, WIM_DATA, WIM_CLOSE) are delivered in
// the order they arose: to the callback function (CALLBACK_FUNCTION) from a
// notification thread of the device's own, or posted to the notification
// window (CALLBACK_WINDOW: MM_WIM_*, wParam = the device handle, lParam = the
// header) by the thread on which they arise. A window gets a header that was
// filled with its next frame tick (PostMessageDeferred), one returned by a
// stop or reset at once. Recorded data never waits for the
// application: the back-end fills the queued headers in queue order; a header
// is marked WHDR_DONE (and loses WHDR_INQUEUE) at the moment it is returned,
// before its notification is delivered. Data that arrives while no header is
// queued is dropped.
//
// Open is notified after the handle has been stored. waveInClose waits for
// every notification of the device, WIM_CLOSE included, to be delivered before
// it returns. No call blocks on the GUI thread.
//
// A device that goes away returns every queued header as done (with what it
// had recorded); waveInPrepareHeader, waveInAddBuffer, waveInStart and
// waveInGetPosition then fail with MMSYSERR_NODRIVER. waveInStop, waveInReset,
// waveInUnprepareHeader, waveInGetID and waveInClose go on working, so that the
// owner can always release the device.

#include "platform/wave/wave_format_record.h"
#include "platform/wave/wave_hdr.h"
#include "platform/wave/wave_types.h"

// waveInClose while headers are queued (the value of WAVERR_STILLPLAYING).
inline constexpr MMRESULT WAVERR_STILLRECORDING = WAVERR_STILLPLAYING;

// Opens input device `deviceId` (0 ... count-1, or WAVE_MAPPER for the default
// input). Formats: PCM, 8 or 16 bit, 1 ... 8 channels, 4000 ... 200000 Hz, with
// consistent nBlockAlign and nAvgBytesPerSec; anything else is
// WAVERR_BADFORMAT. With WAVE_FORMAT_QUERY only the answer is given (phwi may
// be null). Notification kinds: CALLBACK_NULL, CALLBACK_FUNCTION (a
// WAVECALLBACK), CALLBACK_WINDOW (an HWND of platform/messages).
MMRESULT waveInOpen(LPHWAVEIN phwi, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags);
// WAVERR_STILLRECORDING while headers are queued.
MMRESULT waveInClose(HWAVEIN hwi);
MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT size);
// WAVERR_STILLPLAYING while the header is queued.
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT size);
// Queues a prepared header (WAVERR_UNPREPARED otherwise); dwBytesRecorded is
// cleared, WHDR_DONE cleared, WHDR_INQUEUE set.
MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR header, UINT size);
MMRESULT waveInStart(HWAVEIN hwi);
// Stops recording; the header being filled, if it holds data, is returned
// done with what it holds. The other headers stay queued.
MMRESULT waveInStop(HWAVEIN hwi);
// Stops recording and returns every queued header done, in queue order;
// the position goes back to 0.
MMRESULT waveInReset(HWAVEIN hwi);
// Bytes recorded since the device was opened or last reset (TIME_BYTES),
// as frames (TIME_SAMPLES) or as milliseconds (TIME_MS, rounded down); any
// other wType is answered as TIME_BYTES.
MMRESULT waveInGetPosition(HWAVEIN hwi, LPMMTIME time, UINT size);
// The device number given to waveInOpen (WAVE_MAPPER for the mapper).
MMRESULT waveInGetID(HWAVEIN hwi, UINT* deviceId);
