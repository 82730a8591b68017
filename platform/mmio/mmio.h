#pragma once

// RIFF multimedia file I/O with the usual names, record layouts, flags and result codes:
// buffered or unbuffered access to files and to memory images (the "MEM " I/O procedure),
// and RIFF chunk navigation (descend, ascend, create).
//
// Differences from the original service, all deliberate:
// - Only the file ("DOS ") and memory ("MEM ") I/O procedures exist; custom procedures are
//   refused with MMIOERR_CANNOTOPEN. Sharing flags (MMIO_DENY*, MMIO_EXCLUSIVE) are accepted
//   and ignored.
// - A memory image over a caller's buffer has the fixed size cchBuffer; it grows (by
//   adwInfo[0] bytes at a time) only when the layer allocated it itself (pchBuffer null).
//   Memory images opened with MMIO_READ refuse writes, so read-only data is safe.
// - mmioSetBuffer on a memory image changes nothing and succeeds: the image is the buffer.
//   Buffers larger than MMIO_MAXBUFFER are refused with MMIOERR_OUTOFMEMORY.
// - Handles are checked: an unknown or already closed handle gives MMSYSERR_INVALHANDLE
//   (or -1 for the calls that return a count or a position).
// - Positions are 64-bit inside, so files from 2 GiB up to 4 GiB (and the chunks that start
//   below 4 GiB, to their end) can be read, written and walked. mmioSeek refuses positions
//   its LONG result cannot report; platform::MmioSeek64 reaches them. A chunk whose data
//   offset or size would not fit its 32-bit field is neither found, created nor closed.
// - MMIO_PARSE, MMIO_EXIST and MMIO_DELETE return MMIO_SUCCESS_HANDLE (a non-null value that
//   is no open file) on success, as the original returns TRUE.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/wave/wave_types.h"

using FOURCC = DWORD;
using LONG = std::int32_t;
using HPSTR = char*;

struct MMIOInstance;
using HMMIO = MMIOInstance*;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
  return static_cast<FOURCC>(static_cast<std::uint8_t>(a)) |
         (static_cast<FOURCC>(static_cast<std::uint8_t>(b)) << 8) |
         (static_cast<FOURCC>(static_cast<std::uint8_t>(c)) << 16) |
         (static_cast<FOURCC>(static_cast<std::uint8_t>(d)) << 24);
}

inline constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
inline constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');
inline constexpr FOURCC FOURCC_DOS = mmioFOURCC('D', 'O', 'S', ' ');
inline constexpr FOURCC FOURCC_MEM = mmioFOURCC('M', 'E', 'M', ' ');

using LPMMIOPROC = std::intptr_t (*)(char* info, UINT message, std::intptr_t param1,
                                     std::intptr_t param2);

// Open parameters and state of a multimedia file. For a memory image: fccIOProc = "MEM ",
// pchBuffer/cchBuffer the image, adwInfo[0] the grow increment.
struct MMIOINFO {
  DWORD dwFlags;
  FOURCC fccIOProc;
  LPMMIOPROC pIOProc;
  UINT wErrorRet;
  void* htask;
  LONG cchBuffer;
  HPSTR pchBuffer;
  HPSTR pchNext;
  HPSTR pchEndRead;
  HPSTR pchEndWrite;
  LONG lBufOffset;
  LONG lDiskOffset;
  DWORD adwInfo[3];
  DWORD dwReserved1;
  DWORD dwReserved2;
  HMMIO hmmio;
};
using LPMMIOINFO = MMIOINFO*;

// A RIFF chunk: identifier, data size, form/list type, offset of its data, flags.
struct MMCKINFO {
  FOURCC ckid;
  DWORD cksize;
  FOURCC fccType;
  DWORD dwDataOffset;
  DWORD dwFlags;
};
using LPMMCKINFO = MMCKINFO*;
static_assert(sizeof(MMCKINFO) == 20);

// mmioOpenA flags.
inline constexpr DWORD MMIO_READ = 0x00000000;
inline constexpr DWORD MMIO_WRITE = 0x00000001;
inline constexpr DWORD MMIO_READWRITE = 0x00000002;
inline constexpr DWORD MMIO_COMPAT = 0x00000000;
inline constexpr DWORD MMIO_EXCLUSIVE = 0x00000010;
inline constexpr DWORD MMIO_DENYWRITE = 0x00000020;
inline constexpr DWORD MMIO_DENYREAD = 0x00000030;
inline constexpr DWORD MMIO_DENYNONE = 0x00000040;
inline constexpr DWORD MMIO_CREATE = 0x00001000;
inline constexpr DWORD MMIO_PARSE = 0x00000100;
inline constexpr DWORD MMIO_DELETE = 0x00000200;
inline constexpr DWORD MMIO_EXIST = 0x00004000;
inline constexpr DWORD MMIO_ALLOCBUF = 0x00010000;
inline constexpr DWORD MMIO_GETTEMP = 0x00020000;
inline constexpr DWORD MMIO_DIRTY = 0x10000000;
// mmioClose / mmioFlush flags.
inline constexpr UINT MMIO_FHOPEN = 0x0010;
inline constexpr UINT MMIO_EMPTYBUF = 0x0010;
// mmioDescend / mmioCreateChunk flags.
inline constexpr UINT MMIO_FINDCHUNK = 0x0010;
inline constexpr UINT MMIO_FINDRIFF = 0x0020;
inline constexpr UINT MMIO_FINDLIST = 0x0040;
inline constexpr UINT MMIO_CREATERIFF = 0x0020;
inline constexpr UINT MMIO_CREATELIST = 0x0040;

inline constexpr LONG MMIO_DEFAULTBUFFER = 8192;
inline constexpr LONG MMIO_MAXBUFFER = 16 * 1024 * 1024;

inline constexpr MMRESULT MMIOERR_BASE = 256;
inline constexpr MMRESULT MMIOERR_FILENOTFOUND = MMIOERR_BASE + 1;
inline constexpr MMRESULT MMIOERR_OUTOFMEMORY = MMIOERR_BASE + 2;
inline constexpr MMRESULT MMIOERR_CANNOTOPEN = MMIOERR_BASE + 3;
inline constexpr MMRESULT MMIOERR_CANNOTCLOSE = MMIOERR_BASE + 4;
inline constexpr MMRESULT MMIOERR_CANNOTREAD = MMIOERR_BASE + 5;
inline constexpr MMRESULT MMIOERR_CANNOTWRITE = MMIOERR_BASE + 6;
inline constexpr MMRESULT MMIOERR_CANNOTSEEK = MMIOERR_BASE + 7;
inline constexpr MMRESULT MMIOERR_CANNOTEXPAND = MMIOERR_BASE + 8;
inline constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = MMIOERR_BASE + 9;
inline constexpr MMRESULT MMIOERR_UNBUFFERED = MMIOERR_BASE + 10;
inline constexpr MMRESULT MMIOERR_PATHNOTFOUND = MMIOERR_BASE + 11;
inline constexpr MMRESULT MMIOERR_ACCESSDENIED = MMIOERR_BASE + 12;
inline constexpr MMRESULT MMIOERR_SHARINGVIOLATION = MMIOERR_BASE + 13;
inline constexpr MMRESULT MMIOERR_NETWORKERROR = MMIOERR_BASE + 14;
inline constexpr MMRESULT MMIOERR_TOOMANYOPENFILES = MMIOERR_BASE + 15;
inline constexpr MMRESULT MMIOERR_INVALIDFILE = MMIOERR_BASE + 16;

#ifndef SEEK_SET
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#endif

// What MMIO_PARSE, MMIO_EXIST and MMIO_DELETE return on success; it is no open file.
inline const HMMIO MMIO_SUCCESS_HANDLE = reinterpret_cast<HMMIO>(std::uintptr_t{1});

// Opens a file (name) or a memory image (info->fccIOProc = "MEM "). With MMIO_PARSE the
// name is replaced by its absolute path (the buffer must hold 128 characters). On failure
// returns null and sets info->wErrorRet when info is given.
HMMIO mmioOpenA(char* name, LPMMIOINFO info, DWORD flags);
MMRESULT mmioClose(HMMIO h, UINT flags);
// Bytes read (0 at the end), or -1 on error.
LONG mmioRead(HMMIO h, HPSTR buffer, LONG count);
// Bytes written, or -1 on error.
LONG mmioWrite(HMMIO h, const char* buffer, LONG count);
// The new position, or -1. Positions beyond the end are allowed; before the start are not,
// nor are those that a LONG cannot report (use platform::MmioSeek64 for those).
LONG mmioSeek(HMMIO h, LONG offset, int origin);
// Sets the I/O buffer: cchBuffer 0 makes the file unbuffered; buffer null lets the layer
// allocate it. Pending writes are flushed first.
MMRESULT mmioSetBuffer(HMMIO h, HPSTR buffer, LONG cchBuffer, UINT flags);
MMRESULT mmioFlush(HMMIO h, UINT flags);
// Current state: flags, buffer size, I/O procedure and disk position.
MMRESULT mmioGetInfo(HMMIO h, LPMMIOINFO info, UINT flags);
MMRESULT mmioDescend(HMMIO h, LPMMCKINFO ck, const MMCKINFO* parent, UINT flags);
MMRESULT mmioAscend(HMMIO h, LPMMCKINFO ck, UINT flags);
MMRESULT mmioCreateChunk(HMMIO h, LPMMCKINFO ck, UINT flags);

namespace platform {

// mmioSeek with 64-bit positions, for files from 2 GiB up: the new position, or -1.
std::int64_t MmioSeek64(HMMIO h, std::int64_t offset, int origin);

// The longest file name the name checks accept.
inline constexpr std::size_t kMmioMaxPath = 260;

// The absolute, normalised form of a file name, as MMIO_PARSE gives it, but not limited by
// MMIO_PARSE's 128-character buffer: false for an empty name, or when the name or its full
// form is longer than kMmioMaxPath characters.
bool MmioParseName(const char* name, std::string& full);

}  // namespace platform
