#pragma once

// RIFF WAVE routines: open a wave source (file, program resource or memory image), walk
// its chunks once into a TWaveIOBlock, then seek and read block by block; create, write and
// finish a recorded file. The routines never raise (except the out-of-memory exception of
// the block allocator); they return the result codes below.
//
// Result codes:
//   0    success
//   101  no "fmt " chunk, or the I/O buffer could not be set up
//   104  a required argument is missing
//   106  the source cannot be opened, is not a RIFF file of the wanted form type, a read,
//        write or seek failed, the format cannot be used for conversions (nBlockAlign,
//        nSamplesPerSec or nAvgBytesPerSec is 0 after a PCM header has been recomputed, or
//        a PCM frame cannot be read whole: no channels, 0 or more than 32 bits a sample, a
//        frame larger than the 16-bit block alignment holds), or the file has a "fmt "
//        chunk but no "data" chunk
//   107  out of memory
// Reading the info or display list passes on that list's code: 2 argument missing,
// 3 read or write failed, 4 out of memory.

#include <cstdint>
#include <string>

#include "devices/wave_format.h"
#include "platform/mmio/mmio.h"
#include "platform/resources/resources.h"

inline constexpr int WIOERR_NOERROR = 0;
inline constexpr int WIOERR_NOFORMAT = 101;
inline constexpr int WIOERR_BADARG = 104;
inline constexpr int WIOERR_FILEERROR = 106;
inline constexpr int WIOERR_NOMEMORY = 107;

inline constexpr int LISTERR_BADARG = 2;
inline constexpr int LISTERR_FILEERROR = 3;
inline constexpr int LISTERR_NOMEMORY = 4;

// Open flags.
inline constexpr DWORD wioRead = 1;
inline constexpr DWORD wioResource = 2;
inline constexpr DWORD wioMemory = 4;  // the name points to an MMIOINFO naming the image
inline constexpr DWORD wioHeaderOnly = 8;
inline constexpr DWORD wioRawFile = 16;

inline constexpr FOURCC FOURCC_WAVE = mmioFOURCC('W', 'A', 'V', 'E');
inline constexpr FOURCC FOURCC_INFO = mmioFOURCC('I', 'N', 'F', 'O');
inline constexpr FOURCC FOURCC_DISP = mmioFOURCC('D', 'I', 'S', 'P');

// ---- Wide counts ------------------------------------------------------------------------

// BytesToSamples and SamplesToBytes of a format with the same rounding, in 64 bits, for the
// data of files from 2 GiB up to 4 GiB. Counts below 0 count as 0, counts above 2^32 as 2^32.
std::int64_t WaveBytesToSamples64(const WAVEFORMATEX* format, std::int64_t bytes);
std::int64_t WaveSamplesToBytes64(const WAVEFORMATEX* format, std::int64_t samples);
// A count as a signed 32-bit field reports it: clamped, never wrapped.
std::int32_t WaveClamp32(std::int64_t value);
// Whether the data of the format keeps a partial last block: its decoder gives the samples
// such a block holds. Other formats' data is cut to whole blocks.
bool WaveKeepsPartialBlock(const WAVEFORMATEX* format);

// ---- Info list --------------------------------------------------------------------------

struct TWaveInfoTag {
  FOURCC Id;
  const char* Name;
};
inline constexpr int WaveInfoTagCount = 23;
extern const TWaveInfoTag WaveInfoTags[WaveInfoTagCount];

inline constexpr std::uint16_t wifChanged = 1;  // the entry's text was replaced

struct TWaveInfoEntry {
  std::uint16_t Index;  // row of WaveInfoTags
  std::uint16_t Flags;  // wifChanged
  std::int32_t Offset;  // offset of the tag's text in Body; 0 when absent
  char* Text;           // replacement text, or null
  TWaveInfoEntry* Next;
};

struct TWaveInfoList {
  char* Body;  // copy of the LIST body after "INFO", zero-terminated
  std::uint32_t Length;
  TWaveInfoEntry* First;  // one entry per row of WaveInfoTags, in table order
};

int WaveInfoCreate(TWaveInfoList*& list);
// Reads the LIST/INFO chunk `ck` (positioned just behind its list type) into `list`. A
// second list merges into the first: its tags win, the first one's other tags stay. An
// odd-sized tag written without its pad byte does not hide the tags behind it.
int WaveInfoRead(HMMIO h, const MMCKINFO& ck, TWaveInfoList* list);
void WaveInfoFree(TWaveInfoList*& list);
// Text of a tag (the replacement if set, else the file's); empty when absent.
std::string WaveInfoGetText(const TWaveInfoList* list, int index);
// Replaces a tag's text; an empty text removes the tag from what is written.
int WaveInfoSetText(TWaveInfoList* list, int index, const std::string& text);
// Writes a LIST/INFO chunk with every non-empty tag; nothing when all are empty.
int WaveInfoWrite(HMMIO h, const TWaveInfoList* list);

// ---- Display list -----------------------------------------------------------------------

inline constexpr DWORD CF_TEXT = 1;
inline constexpr DWORD CF_DIB = 8;

struct TWaveDispItem {
  DWORD Type;   // clipboard-style type
  void* Data;   // the item's bytes
  void* Data2;  // unused; kept for the record layout
  TWaveDispItem* Next;
  std::uint32_t Size;  // bytes at Data
};

struct TWaveDispList {
  TWaveDispItem* First;
};

int WaveDispCreate(TWaveDispList*& list);
// Reads the "DISP" chunk `ck` (positioned at its data) and appends an item.
int WaveDispRead(HMMIO h, const MMCKINFO& ck, TWaveDispList* list);
// Appends an item holding a copy of `size` bytes.
int WaveDispAdd(TWaveDispList* list, DWORD type, const void* data, std::uint32_t size);
void WaveDispFree(TWaveDispList*& list);
// Writes one "DISP" chunk for every text or bitmap item; other types are not written.
int WaveDispWrite(HMMIO h, const TWaveDispList* list);

// ---- Wave I/O block ---------------------------------------------------------------------

// Positions inside the routines are 64-bit; a count that does not fit its 32-bit field here
// (a file of 4 GiB or more, more than 2^31 - 1 samples) is clamped to the field's largest
// value, never wrapped.
struct TWaveIOBlock {
  std::uint32_t Size;  // bytes allocated for the record
  DWORD Flags;
  // Open source, null while closed. Raw mode uses an unbuffered plain file through the same
  // layer (its reads and seeks are the plain file calls).
  HMMIO Handle;
  MMCKINFO RiffChunk;
  MMCKINFO DataChunk;
  HGLOBAL ResourceHandle;
  std::uint32_t FileSize;
  std::uint32_t DataBytes;
  std::uint32_t DataOffset;
  std::int32_t DataSamples;
  std::int32_t FirstSample;
  std::int32_t LastSample;
  std::uint32_t BytesLeft;
  std::int32_t SamplePos;
  char* FileName;  // in memory mode a copy of the MMIOINFO descriptor
  TWaveDispList* DispList;
  TWaveInfoList* InfoList;
  WAVEFORMATEX Format;  // followed by the rest of a longer "fmt " chunk
};
using PWaveIOBlock = TWaveIOBlock*;

// Bytes of a block's data up to `samples`: never more than the data holds, and all of it
// from the last sample on, since a compressed format's average rate only approximates where
// its samples lie.
std::int64_t WaveDataBytes64(const TWaveIOBlock* block, std::int64_t samples);

// Opens the source and reads the outer chunk header; 106 (with everything closed) unless it
// is "RIFF" with form type `formType`.
int WaveOpenRiff(HMMIO& handle, MMCKINFO& riffChunk, HGLOBAL& resourceHandle, DWORD flags,
                 FOURCC formType, const char* name);
void WaveCloseRiff(HMMIO& handle, HGLOBAL& resourceHandle);
// Walks the chunks into a new, closed block owned by the caller.
int WaveOpen(PWaveIOBlock& block, const char* name, FOURCC formType, DWORD flags);
bool WaveIsValid(const char* name, DWORD flags);
int WaveOpenMemory(PWaveIOBlock& block, const void* buffer, std::int32_t length);
int WaveCreate(PWaveIOBlock& block, const WAVEFORMATEX* format);
int WaveCreateFile(PWaveIOBlock block, const char* name);
int WaveFinish(PWaveIOBlock block);
int WaveFree(PWaveIOBlock& block);
int WaveSetIOBuffer(PWaveIOBlock block, std::int32_t size);
int WaveReopen(PWaveIOBlock block);
int WaveSeek(PWaveIOBlock block, std::int32_t sample);
// Bytes read, or -1 (nothing changes then).
std::int32_t WaveRead(PWaveIOBlock block, void* buffer, std::int32_t count);
// Bytes written, or -1.
std::int32_t WaveWrite(PWaveIOBlock block, const void* buffer, std::int32_t count);
bool WaveFileExists(const char* name);
bool WaveNameIsValid(const char* name);
bool WaveFileDelete(const char* name);
