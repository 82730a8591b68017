#pragma once

// Scalar types and result codes of the multimedia wave interface, with their
// usual names, widths and values.

#include <cstdint>

using UINT = unsigned int;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using BYTE = std::uint8_t;
using CHAR = char;
using LPSTR = char*;
using UINT_PTR = std::uintptr_t;
using MMRESULT = UINT;
using MMVERSION = UINT;

static_assert(sizeof(UINT) == 4 && sizeof(DWORD) == 4 && sizeof(WORD) == 2);

// The wave mapper: the choice of the default device. A 64-bit UINT_PTR holding
// the 32-bit -1 is accepted as the mapper too.
inline constexpr UINT WAVE_MAPPER = static_cast<UINT>(-1);

inline constexpr MMRESULT MMSYSERR_BASE = 0;
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = MMSYSERR_BASE + 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = MMSYSERR_BASE + 2;
inline constexpr MMRESULT MMSYSERR_NOTENABLED = MMSYSERR_BASE + 3;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = MMSYSERR_BASE + 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = MMSYSERR_BASE + 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = MMSYSERR_BASE + 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = MMSYSERR_BASE + 7;
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = MMSYSERR_BASE + 8;
inline constexpr MMRESULT MMSYSERR_BADERRNUM = MMSYSERR_BASE + 9;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = MMSYSERR_BASE + 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = MMSYSERR_BASE + 11;
inline constexpr MMRESULT MMSYSERR_HANDLEBUSY = MMSYSERR_BASE + 12;
inline constexpr MMRESULT MMSYSERR_INVALIDALIAS = MMSYSERR_BASE + 13;
inline constexpr MMRESULT MMSYSERR_BADDB = MMSYSERR_BASE + 14;
inline constexpr MMRESULT MMSYSERR_KEYNOTFOUND = MMSYSERR_BASE + 15;
inline constexpr MMRESULT MMSYSERR_READERROR = MMSYSERR_BASE + 16;
inline constexpr MMRESULT MMSYSERR_WRITEERROR = MMSYSERR_BASE + 17;
inline constexpr MMRESULT MMSYSERR_DELETEERROR = MMSYSERR_BASE + 18;
inline constexpr MMRESULT MMSYSERR_VALNOTFOUND = MMSYSERR_BASE + 19;
inline constexpr MMRESULT MMSYSERR_NODRIVERCB = MMSYSERR_BASE + 20;
inline constexpr MMRESULT MMSYSERR_MOREDATA = MMSYSERR_BASE + 21;
inline constexpr MMRESULT MMSYSERR_LASTERROR = MMSYSERR_BASE + 21;

inline constexpr MMRESULT WAVERR_BASE = 32;
inline constexpr MMRESULT WAVERR_BADFORMAT = WAVERR_BASE + 0;
inline constexpr MMRESULT WAVERR_STILLPLAYING = WAVERR_BASE + 1;
inline constexpr MMRESULT WAVERR_UNPREPARED = WAVERR_BASE + 2;
inline constexpr MMRESULT WAVERR_SYNC = WAVERR_BASE + 3;
inline constexpr MMRESULT WAVERR_LASTERROR = WAVERR_BASE + 3;

// Longest error text, terminator included.
inline constexpr UINT MAXERRORLENGTH = 256;
// Product name field of the capability records, terminator included.
inline constexpr UINT MAXPNAMELEN = 32;
