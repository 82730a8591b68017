#pragma once

// The audio compression manager: format suggestion and conversion streams between wave
// formats. Conversions run synchronously on the calling thread; a stream is used by one
// thread at a time.
//
// What it offers, one stream at a time:
// - decoding to 16-bit PCM at the source's channels and rate: Microsoft ADPCM (2), IEEE
//   float (3, 32 or 64 bit), A-law (6), mu-law (7), IMA ADPCM (0x11), GSM 6.10 (0x31),
//   MPEG Layer-3 (0x55), PCM (1) of a depth other than 8 or 16 bits, and the extensible
//   header (0xFFFE) with a PCM or IEEE-float subformat;
// - PCM to PCM between 8 and 16 bits, one and two channels, and any rate from 8000 to
//   96000 Hz.
// Every other pair is refused (ACMERR_NOTPOSSIBLE), also by an open that only asks.
// MPEG Layer-3, A-law, mu-law, GSM 6.10 and the PCM to PCM conversions run in the codec
// module (codec_module.h), opened on their first use; where it cannot be loaded they are
// refused in the same way, by suggestion and open alike, and the rest works on.
//
// The environment variable TESSALINE_ACM=none switches the whole library off for the
// process: ACMInstalled() is false, acmGetVersion() answers 0, and every other routine
// returns MMSYSERR_NODRIVER.

#include <cstdint>

#include "platform/wave/wave_format_record.h"
#include "platform/wave/wave_hdr.h"
#include "platform/wave/wave_types.h"

using LPDWORD = DWORD*;

struct HACMDRIVER__;
struct HACMSTREAM__;
using HACMDRIVER = HACMDRIVER__*;
using HACMSTREAM = HACMSTREAM__*;
using LPHACMSTREAM = HACMSTREAM*;

// A filter description; no filters are offered, the argument must be null.
struct WAVEFILTER;
using LPWAVEFILTER = WAVEFILTER*;

inline constexpr std::uint16_t WAVE_FORMAT_ADPCM = 0x0002;
inline constexpr std::uint16_t WAVE_FORMAT_IEEE_FLOAT = 0x0003;
inline constexpr std::uint16_t WAVE_FORMAT_ALAW = 0x0006;
inline constexpr std::uint16_t WAVE_FORMAT_MULAW = 0x0007;
inline constexpr std::uint16_t WAVE_FORMAT_IMA_ADPCM = 0x0011;
inline constexpr std::uint16_t WAVE_FORMAT_GSM610 = 0x0031;
inline constexpr std::uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x0055;
inline constexpr std::uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// The extensible header: WAVEFORMATEX with cbSize 22, then these fields.
#pragma pack(push, 1)
struct WAVEFORMATEXTENSIBLE {
  WAVEFORMATEX Format;
  std::uint16_t wValidBitsPerSample;
  std::uint32_t dwChannelMask;
  std::uint8_t SubFormat[16];  // a GUID whose first 16-bit field is the wave format tag
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40);

// acmGetVersion: the version in the high word (0x0200 is 2.00).
inline constexpr DWORD ACM_VERSION_2_00 = 0x02000000;

inline constexpr MMRESULT ACMERR_BASE = 512;
inline constexpr MMRESULT ACMERR_NOTPOSSIBLE = ACMERR_BASE + 0;
inline constexpr MMRESULT ACMERR_BUSY = ACMERR_BASE + 1;
inline constexpr MMRESULT ACMERR_UNPREPARED = ACMERR_BASE + 2;
inline constexpr MMRESULT ACMERR_CANCELED = ACMERR_BASE + 3;

inline constexpr DWORD ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
inline constexpr DWORD ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
inline constexpr DWORD ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
inline constexpr DWORD ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;
inline constexpr DWORD ACM_FORMATSUGGESTF_TYPEMASK = 0x00FF0000;

inline constexpr DWORD ACM_STREAMOPENF_QUERY = 0x00000001;
inline constexpr DWORD ACM_STREAMOPENF_ASYNC = 0x00000002;
inline constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x00000004;

inline constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00000000;
inline constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x00000001;

inline constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
inline constexpr DWORD ACM_STREAMCONVERTF_START = 0x00000010;
inline constexpr DWORD ACM_STREAMCONVERTF_END = 0x00000020;

inline constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
inline constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
inline constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

// The driver's reserved words of a stream header: 15 in a 64-bit build, 10 in a 32-bit one.
inline constexpr int kAcmDriverReserved = sizeof(void*) == 8 ? 15 : 10;

// One conversion request: source bytes in, destination bytes out. Pointer-sized fields
// follow this build's pointer width; cbStruct is sizeof(ACMSTREAMHEADER).
struct ACMSTREAMHEADER {
  DWORD cbStruct = 0;
  DWORD fdwStatus = 0;
  DWORD_PTR dwUser = 0;
  BYTE* pbSrc = nullptr;
  DWORD cbSrcLength = 0;
  DWORD cbSrcLengthUsed = 0;
  DWORD_PTR dwSrcUser = 0;
  BYTE* pbDst = nullptr;
  DWORD cbDstLength = 0;
  DWORD cbDstLengthUsed = 0;
  DWORD_PTR dwDstUser = 0;
  DWORD dwReservedDriver[kAcmDriverReserved] = {};
};
static_assert(sizeof(void*) != 8 || sizeof(ACMSTREAMHEADER) == 128);
using LPACMSTREAMHEADER = ACMSTREAMHEADER*;

// Whether the library is present for this process.
bool ACMInstalled();

DWORD acmGetVersion();

// Fills pwfxDst (cbwfxDst bytes, at least 18) with a PCM format that one stream from
// pwfxSrc can produce. The fields named by fdwSuggest are taken from pwfxDst as given;
// the others are the codec's choice. ACMERR_NOTPOSSIBLE when no such format exists.
MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst,
                          DWORD cbwfxDst, DWORD fdwSuggest);

// Opens a stream from pwfxSrc to pwfxDst. With ACM_STREAMOPENF_QUERY it only tells whether
// the conversion is offered (phas may be null). ACM_STREAMOPENF_NONREALTIME asks for the
// better, slower resampling.
MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, LPWAVEFILTER pwfltr, DWORD_PTR dwCallback,
                       DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose);

// With ACM_STREAMSIZEF_SOURCE: the destination bytes that cbInput source bytes need at most;
// with ACM_STREAMSIZEF_DESTINATION: the source bytes that fill at most cbInput destination
// bytes.
MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, LPDWORD pdwOutputBytes, DWORD fdwSize);

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare);

// Converts cbSrcLength bytes of pbSrc into pbDst (at most cbDstLength bytes) and reports
// cbSrcLengthUsed and cbDstLengthUsed, with ACMSTREAMHEADER_STATUSF_DONE set on return.
// ACM_STREAMCONVERTF_BLOCKALIGN converts whole source blocks only (the rest is left unused);
// ACM_STREAMCONVERTF_START begins afresh, dropping what the codec holds;
// ACM_STREAMCONVERTF_END also gives out what the codec still holds. Output that does not
// fit into the destination is kept and given by the next calls.
MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert);

// Drops what the stream holds: it converts as if just opened.
MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset);

namespace platform {

// Reads TESSALINE_ACM again (tests switch the library off and on).
void ReloadAcm();

}  // namespace platform
