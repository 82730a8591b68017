#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "devices/mm_types.h"
#include "platform/wave/wave_format_record.h"

// Wave format records and the arithmetic between bytes, samples (frames: one value for
// every channel) and milliseconds. Every component converts through these routines so
// that the same count gives the same answer everywhere.
//
// Zero divisors: a format whose nSamplesPerSec, nAvgBytesPerSec or nBlockAlign is 0 must
// be rejected before it is used for conversions. Should one get through anyway, the
// scaling routines and every conversion that would divide by 0 return 0 instead of
// trapping; a null format pointer also gives 0.
//
// Quotients that do not fit the result type saturate at its smallest or largest value.

// A wave format record, possibly followed by its cbSize bytes of extra data.
using PWaveFormatEx = WAVEFORMATEX*;

// ---- Memory blocks --------------------------------------------------------------------

// A zero-filled block of `size` bytes (at least one byte is allocated). Throws EOutOfMemory
// (platform/framework/exception.h) when the allocation fails. Release it with FreeBlock.
void* AllocZeroedBlock(std::size_t size);

// Releases a block from AllocZeroedBlock (or CopyWaveFormat) and clears the variable that
// held it; nothing happens for a null variable.
template <typename T>
void FreeBlock(T*& block) {
  std::free(const_cast<void*>(static_cast<const void*>(block)));
  block = nullptr;
}

// ---- Integer scaling (products formed in 64 bits) --------------------------------------

// a*b/c rounded: q = a*b div c, r = a*b - q*c, result q + (2*r) div c (divisions
// truncate). Non-negative operands round halves up; negative products round halves away
// from zero. 2*r is formed in 64 bits, so large divisors round correctly too.
std::int32_t MulDivRound(std::int32_t a, std::int32_t b, std::int32_t c);

// a*b/c truncated toward zero.
std::int32_t MulDivTrunc(std::int32_t a, std::int32_t b, std::int32_t c);

// a*b/c computed in extended precision (64-bit mantissa) and truncated toward zero.
std::int64_t MulDiv64(std::int64_t a, std::int64_t b, std::int64_t c);

// ---- Building, checking, sizing and copying --------------------------------------------

// Fills fmt as PCM: block align (bits*channels) shr 3, average bytes per second block
// align * sampleRate, cbSize 0.
void BuildPCMFormat(WAVEFORMATEX& fmt, int bits, int channels, std::uint32_t sampleRate);

// True for an existing PCM record with 8 or 16 bits, 1, 2 or 4 channels and a rate from
// 4000 to 100000 Hz inclusive.
bool IsSupportedPCMFormat(const WAVEFORMATEX* fmt);
// 8- or 16-bit PCM of at least one channel, at any rate.
bool Is8Or16BitPCMFormat(const WAVEFORMATEX* fmt);

// Bytes the record occupies: 0 for none, 18 for PCM (whatever cbSize holds), otherwise
// 18 + cbSize.
int WaveFormatSize(const WAVEFORMATEX* fmt);

// A zero-filled copy of WaveFormatSize(fmt) bytes, or null for no record. A PCM copy gets
// cbSize 0. The caller owns the copy and releases it with FreeBlock. Throws EOutOfMemory.
PWaveFormatEx CopyWaveFormat(const WAVEFORMATEX* fmt);

// Mode of a format's channel count; no format gives mMono.
TMMMode WaveFormatToMMMode(const WAVEFORMATEX* fmt);

// ---- Unit conversions -----------------------------------------------------------------
// Conversions towards bytes are aligned up to whole blocks; the others are not aligned.
// The 64-bit forms truncate where the 32-bit forms round.

std::int32_t BytesToSamples(const WAVEFORMATEX* fmt, std::int32_t bytes);
std::int32_t SamplesToBytes(const WAVEFORMATEX* fmt, std::int32_t samples);
std::int32_t BytesToMs(const WAVEFORMATEX* fmt, std::int32_t bytes);
std::int32_t MsToBytes(const WAVEFORMATEX* fmt, std::int32_t ms);
std::int32_t SamplesToMs(const WAVEFORMATEX* fmt, std::int32_t samples);
std::int32_t MsToSamples(const WAVEFORMATEX* fmt, std::int32_t ms);
std::int64_t SamplesToBytes64(const WAVEFORMATEX* fmt, std::int64_t samples);
std::int64_t SamplesToMs64(const WAVEFORMATEX* fmt, std::int64_t samples);

// ---- Format tag names -----------------------------------------------------------------

struct TWaveFormatTagName {
  const char* Name;
  std::uint16_t Tag;
};

// The tag table, searched from the top; the last row has an empty name and ends it.
inline constexpr int WaveFormatTagCount = 40;
extern const TWaveFormatTagName WaveFormatTags[WaveFormatTagCount];

// Name of the first row whose tag equals fmt->wFormatTag; "Unknown" for no record or no
// matching row.
std::string WaveFormatTagName(const WAVEFORMATEX* fmt);
