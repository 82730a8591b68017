#pragma once

// Format negotiation and conversions of one or more stages over the compression manager.
// These routines never raise; they answer with results and null conversions.

#include <cstdint>
#include <vector>

#include "devices/wave_format.h"
#include "platform/acm/msacm.h"

// How much effort a conversion may cost: cqHigh asks for the slower, better resampling.
enum TMMConvertQuality : std::uint8_t { cqHigh, cqLow };

// One step of a conversion: a compression-manager stream from one format to the next.
struct TMMACMStage {
  HACMSTREAM Stream = nullptr;
  BYTE* Source = nullptr;  // the previous stage's destination, or the conversion's input
  DWORD SourceSize = 0;
  BYTE* Dest = nullptr;
  DWORD DestSize = 0;
  // Source bytes the last step did not convert (part of a block), given again in front of
  // the next step's bytes.
  std::vector<BYTE> Leftover;
  ACMSTREAMHEADER Header;
};

struct TMMACMConversion {
  BYTE* InputBuffer = nullptr;  // where source data are put: the first stage's source
  BYTE* OutputBuffer = nullptr;
  DWORD OutputCapacity = 0;
  DWORD ChunkSize = 0;  // source bytes per step, whole blocks of the source format
  DWORD OutputLength = 0;
  DWORD ReadOffset = 0;
  bool Leftover = false;               // the last step kept source bytes over
  bool ConsumedWithoutOutput = false;  // the last step took input and gave nothing yet
  bool OwnsInputBuffer = false;
  std::vector<TMMACMStage> Stages;
};
using PMMACMConversion = TMMACMConversion*;

// False when either is missing; otherwise whether tag, bits, channels or rate differ.
bool FormatsDiffer(const WAVEFORMATEX* a, const WAVEFORMATEX* b);

// The PCM format for source: a PCM source is copied (18 bytes); otherwise the compression
// manager's PCM suggestion when a stream can really be opened for it; else dest is cleared
// (tag 0: no format).
void SuggestPCM(const WAVEFORMATEX* source, WAVEFORMATEX& dest);

// Whether source can be converted to dest, directly or through PCM formats in between.
bool CanConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* dest, TMMConvertQuality quality);

// The stages along the path CanConvert finds, with their buffers, for source steps of at most
// `size` bytes; null when there is no path or building it fails.
PMMACMConversion CreateConversion(const WAVEFORMATEX* source, const WAVEFORMATEX* dest,
                                  TMMConvertQuality quality, std::int32_t size);

// Converts n bytes put into InputBuffer (at most ChunkSize) through every stage; the result
// is OutputLength bytes at OutputBuffer. Returns that length, or -1 on failure.
std::int32_t ConvertChunk(PMMACMConversion c, std::int32_t n);
// The same for the last bytes of the source: the codecs also give out what they hold.
std::int32_t ConvertEnd(PMMACMConversion c, std::int32_t n);
// Drops unread output and everything the stages hold; the next step starts afresh.
void ResetConversion(PMMACMConversion c);
// Releases the stages and buffers and clears the variable.
void FreeConversion(PMMACMConversion& c);
