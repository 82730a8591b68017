#pragma once

#include <cstdint>

#include "platform/wave/wave_types.h"

// Buffer header and handles of the wave interface. Pointer-sized fields
// follow this build's pointer width; the field order is the interface's.

using DWORD_PTR = std::uintptr_t;

struct WAVEHDR {
  char* lpData = nullptr;     // the data bytes
  DWORD dwBufferLength = 0;   // capacity in bytes
  DWORD dwBytesRecorded = 0;  // valid bytes (input)
  DWORD_PTR dwUser = 0;       // for the owner of the buffer
  DWORD dwFlags = 0;          // WHDR_*
  DWORD dwLoops = 0;          // loop count (output)
  WAVEHDR* lpNext = nullptr;  // reserved for the driver
  DWORD_PTR reserved = 0;     // reserved for the driver
};
using PWAVEHDR = WAVEHDR*;
using LPWAVEHDR = WAVEHDR*;

inline constexpr DWORD WHDR_DONE = 0x00000001;
inline constexpr DWORD WHDR_PREPARED = 0x00000002;
inline constexpr DWORD WHDR_BEGINLOOP = 0x00000004;
inline constexpr DWORD WHDR_ENDLOOP = 0x00000008;
inline constexpr DWORD WHDR_INQUEUE = 0x00000010;

// Open devices: opaque handles.
struct HWAVEIN__;
struct HWAVEOUT__;
using HWAVEIN = HWAVEIN__*;
using HWAVEOUT = HWAVEOUT__*;
using LPHWAVEIN = HWAVEIN*;
using LPHWAVEOUT = HWAVEOUT*;

// Driver callback: called on a driver thread with WIM_* / WOM_* messages;
// dwParam1 is the header for the data messages.
using WAVECALLBACK = void (*)(void* hwave, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                              DWORD_PTR dwParam2);

// Notification messages, posted to a window (CALLBACK_WINDOW; wParam is the
// device handle, lParam the header) or passed to the callback function.
inline constexpr UINT MM_WOM_OPEN = 0x3BB;
inline constexpr UINT MM_WOM_CLOSE = 0x3BC;
inline constexpr UINT MM_WOM_DONE = 0x3BD;
inline constexpr UINT MM_WIM_OPEN = 0x3BE;
inline constexpr UINT MM_WIM_CLOSE = 0x3BF;
inline constexpr UINT MM_WIM_DATA = 0x3C0;
inline constexpr UINT WOM_OPEN = MM_WOM_OPEN;
inline constexpr UINT WOM_CLOSE = MM_WOM_CLOSE;
inline constexpr UINT WOM_DONE = MM_WOM_DONE;
inline constexpr UINT WIM_OPEN = MM_WIM_OPEN;
inline constexpr UINT WIM_CLOSE = MM_WIM_CLOSE;
inline constexpr UINT WIM_DATA = MM_WIM_DATA;

// waveInOpen / waveOutOpen flags.
inline constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
inline constexpr DWORD CALLBACK_NULL = 0x00000000;
inline constexpr DWORD CALLBACK_WINDOW = 0x00010000;
inline constexpr DWORD CALLBACK_THREAD = 0x00020000;
inline constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
inline constexpr DWORD CALLBACK_EVENT = 0x00050000;
inline constexpr DWORD WAVE_FORMAT_QUERY = 0x00000001;
inline constexpr DWORD WAVE_ALLOWSYNC = 0x00000002;
// waveOutOpen: the device number names a device, and the format may be
// converted on the way to it.
inline constexpr DWORD WAVE_MAPPED = 0x00000004;

// Positions (waveInGetPosition / waveOutGetPosition).
inline constexpr UINT TIME_MS = 0x0001;
inline constexpr UINT TIME_SAMPLES = 0x0002;
inline constexpr UINT TIME_BYTES = 0x0004;

inline constexpr UINT TIME_SMPTE = 0x0008;
inline constexpr UINT TIME_MIDI = 0x0010;
inline constexpr UINT TIME_TICKS = 0x0020;

// The union holds every kind of position the interface has, so that the record
// has the interface's size; the wave calls answer in ms, sample and cb only.
struct MMTIME {
  UINT wType = TIME_BYTES;
  union {
    DWORD ms;
    DWORD sample;
    DWORD cb;
    DWORD ticks;
    struct {
      BYTE hour, min, sec, frame, fps, dummy;
      BYTE pad[2];
    } smpte;
    struct {
      DWORD songptrpos;
    } midi;
  } u{};
};
static_assert(sizeof(MMTIME) == 12);
using LPMMTIME = MMTIME*;
