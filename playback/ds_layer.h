#pragma once

// The DirectSound output's device layer: wave-output-like calls (open,
// prepare, write, pause, restart, reset, position, close, with open, done and
// close notifications) over a looping secondary sound buffer.
//
// Every playing context is fed by one periodic multimedia timer (31 ms): each
// tick copies one chunk (1/16 s) of queued data, or what the queue holds when
// that is less, into the part of the buffer that has been played, ahead of
// the play cursor; silence follows only when the queue is empty and the sound
// in front of the cursor runs short. A header is reported done once the play cursor has
// passed its last byte: a one-shot timer waits for the time that takes and
// looks again if the cursor is not there yet (after a pause, or when the
// device plays slower than its clock says).
//
// Calls return kDSOk (0) or kDSFailed (1) and never raise. One process-wide
// lock serialises them and the timer's work; notifications are delivered
// after it has been let go, from the thread that caused them (the calling
// thread, or the timer thread for done notifications). A device that goes
// away returns every header done, in order; writing, restarting and reading
// the position then fail, while pause, reset and close go on working.

#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>

#include "platform/acm/msacm.h"
#include "platform/dsound/dsound.h"
#include "stream/mm_wave_hdr.h"

inline constexpr DWORD kDSOk = 0;
inline constexpr DWORD kDSFailed = 1;

// DSWaveOutOpen flags beside CALLBACK_* and WAVE_FORMAT_QUERY: the controls
// the secondary buffer is to offer.
inline constexpr DWORD DSWAVE_CTRLVOLUME = 0x00100000;
inline constexpr DWORD DSWAVE_CTRLPAN = 0x00200000;
inline constexpr DWORD DSWAVE_CTRLFREQUENCY = 0x00400000;

// Extra delay of the done notifications on emulated drivers.
inline constexpr int kDSEmulatedDelayMs = 60;
// Period of the feed.
inline constexpr UINT kDSFeedPeriodMs = 31;

// One open device: a secondary buffer and the queue of headers to play. The
// fields are the layer's; read them only for diagnostics.
struct TDSWaveOutContext {
  // A header fully copied into the buffer, waiting for the play cursor.
  struct TPending {
    PWaveHdr header;
    std::uint64_t end;    // bytes written up to and including its last byte
    std::uint64_t token;  // names it to its one-shot timer
  };

  WAVEHDR* queue = nullptr;  // first queued header; chained through lpNext
  LPDIRECTSOUND device = nullptr;
  LPDIRECTSOUNDBUFFER primary = nullptr;
  LPDIRECTSOUNDBUFFER secondary = nullptr;
  std::optional<GUID> key;  // none for the primary device
  TDSWaveOutContext* next = nullptr;

  DWORD notify_kind = CALLBACK_NULL;
  DWORD_PTR target = 0;
  DWORD_PTR instance = 0;

  DWORD chunk_size = 0;
  DWORD buffer_size = 0;
  DWORD write_offset = 0;
  std::uint64_t bytes_written = 0;
  std::uint64_t bytes_played = 0;
  DWORD last_cursor = 0;
  LONG volume = 0;
  bool volume_restore_pending = false;
  bool playing = false;
  bool paused = false;
  DWORD bytes_per_second = 0;
  BYTE fill_byte = 0;
  bool emulated = false;
  HWND cooperative_window = 0;  // what the device's cooperative level was set with

  WAVEFORMATEX format{};
  // The record the buffer is created with: format, or the extensible header it came in
  // (its channel mask names the speakers).
  WAVEFORMATEXTENSIBLE buffer_format{};
  std::deque<TPending> pending;
  bool lost = false;
  // Notifications taken from the context and not yet delivered.
  std::atomic<int> in_flight{0};
};
using PDSWaveOut = TDSWaveOutContext*;

// Binds the sound-buffer service once per process; whether it is there.
bool DSLoad();
// The window that cooperative levels are set with; 0: the process's first
// top-level window, else the desktop's.
void SetCooperativeWindow(HWND window);

// Opens a context for the device `key` names (null: the primary device).
// target and instance follow the CALLBACK_* kind in flags: a function is
// called as a WAVECALLBACK (context, message, instance, header, 0); a window
// or a thread is posted the message with wParam = context, lParam = header.
// With WAVE_FORMAT_QUERY it only answers whether the format can be played
// (context stays null). WAVE_ALLOWSYNC is refused.
DWORD DSWaveOutOpen(PDSWaveOut& context, LPCGUID key, const WAVEFORMATEX* format, DWORD_PTR target,
                    DWORD_PTR instance, DWORD flags);
// Gives the device's primary buffer the format, or, when another context of
// the same device has one already, the larger of both in bits, channels and
// rate.
DWORD DSCreatePrimary(PDSWaveOut context, const WAVEFORMATEX* format);
DWORD DSWaveOutPrepareHeader(PDSWaveOut context, PWaveHdr header);
// Forgets the header's pending done notification; it is done.
DWORD DSWaveOutUnprepareHeader(PDSWaveOut context, PWaveHdr header);
// Queues the header; a context that is neither playing nor paused starts.
DWORD DSWaveOutWrite(PDSWaveOut context, PWaveHdr header);
DWORD DSWaveOutPause(PDSWaveOut context);
// Fails unless paused. A context that was reset starts from the beginning of
// its buffer; one that was only paused goes on where it stopped.
DWORD DSWaveOutRestart(PDSWaveOut context);
// Stops, returns every header done (in order), and starts from silence.
DWORD DSWaveOutReset(PDSWaveOut context);
// Samples played since the last reset (heard, where the output measures its
// own latency; else passed the play cursor); only TIME_SAMPLES (any other
// unit is changed to it and the call fails).
DWORD DSWaveOutGetPosition(PDSWaveOut context, MMTIME& time);
// Resets, closes and frees the context; MM_WOM_CLOSE is the last
// notification. Every notification is out when it returns.
DWORD DSWaveOutClose(PDSWaveOut context);
DWORD DSWaveOutSetVolume(PDSWaveOut context, LONG volume);
DWORD DSWaveOutSetPan(PDSWaveOut context, LONG pan);
DWORD DSWaveOutSetPlayBackRate(PDSWaveOut context, DWORD frequency);

// Open contexts, and whether the feed timer runs (for tests and diagnostics).
int DSOpenContextCount();
bool DSFeedTimerRunning();
