#pragma once

// Device count and capability calls of the wave interface over the process's
// audio back-end (platform/audio). Each call asks the back-end afresh.

#include <cstddef>

#include "platform/wave/wave_types.h"

// Standard formats (dwFormats): rate 11.025, 22.05, 44.1, 48, 96 kHz; mono or
// stereo; 8 or 16 bit.
inline constexpr DWORD WAVE_INVALIDFORMAT = 0x00000000;
inline constexpr DWORD WAVE_FORMAT_1M08 = 0x00000001;
inline constexpr DWORD WAVE_FORMAT_1S08 = 0x00000002;
inline constexpr DWORD WAVE_FORMAT_1M16 = 0x00000004;
inline constexpr DWORD WAVE_FORMAT_1S16 = 0x00000008;
inline constexpr DWORD WAVE_FORMAT_2M08 = 0x00000010;
inline constexpr DWORD WAVE_FORMAT_2S08 = 0x00000020;
inline constexpr DWORD WAVE_FORMAT_2M16 = 0x00000040;
inline constexpr DWORD WAVE_FORMAT_2S16 = 0x00000080;
inline constexpr DWORD WAVE_FORMAT_4M08 = 0x00000100;
inline constexpr DWORD WAVE_FORMAT_4S08 = 0x00000200;
inline constexpr DWORD WAVE_FORMAT_4M16 = 0x00000400;
inline constexpr DWORD WAVE_FORMAT_4S16 = 0x00000800;
inline constexpr DWORD WAVE_FORMAT_44M08 = WAVE_FORMAT_4M08;
inline constexpr DWORD WAVE_FORMAT_44S08 = WAVE_FORMAT_4S08;
inline constexpr DWORD WAVE_FORMAT_44M16 = WAVE_FORMAT_4M16;
inline constexpr DWORD WAVE_FORMAT_44S16 = WAVE_FORMAT_4S16;
inline constexpr DWORD WAVE_FORMAT_48M08 = 0x00001000;
inline constexpr DWORD WAVE_FORMAT_48S08 = 0x00002000;
inline constexpr DWORD WAVE_FORMAT_48M16 = 0x00004000;
inline constexpr DWORD WAVE_FORMAT_48S16 = 0x00008000;
inline constexpr DWORD WAVE_FORMAT_96M08 = 0x00010000;
inline constexpr DWORD WAVE_FORMAT_96S08 = 0x00020000;
inline constexpr DWORD WAVE_FORMAT_96M16 = 0x00040000;
inline constexpr DWORD WAVE_FORMAT_96S16 = 0x00080000;

// Optional output functions (dwSupport).
inline constexpr DWORD WAVECAPS_PITCH = 0x0001;
inline constexpr DWORD WAVECAPS_PLAYBACKRATE = 0x0002;
inline constexpr DWORD WAVECAPS_VOLUME = 0x0004;
inline constexpr DWORD WAVECAPS_LRVOLUME = 0x0008;
inline constexpr DWORD WAVECAPS_SYNC = 0x0010;
inline constexpr DWORD WAVECAPS_SAMPLEACCURATE = 0x0020;

struct WAVEINCAPSA {
  WORD wMid;
  WORD wPid;
  MMVERSION vDriverVersion;
  CHAR szPname[MAXPNAMELEN];
  DWORD dwFormats;
  WORD wChannels;
  WORD wReserved1;
};

struct WAVEOUTCAPSA {
  WORD wMid;
  WORD wPid;
  MMVERSION vDriverVersion;
  CHAR szPname[MAXPNAMELEN];
  DWORD dwFormats;
  WORD wChannels;
  WORD wReserved1;
  DWORD dwSupport;
};

static_assert(sizeof(WAVEINCAPSA) == 48);
static_assert(offsetof(WAVEINCAPSA, vDriverVersion) == 4);
static_assert(offsetof(WAVEINCAPSA, szPname) == 8);
static_assert(offsetof(WAVEINCAPSA, dwFormats) == 40);
static_assert(offsetof(WAVEINCAPSA, wChannels) == 44);
static_assert(offsetof(WAVEINCAPSA, wReserved1) == 46);
static_assert(sizeof(WAVEOUTCAPSA) == 52);
static_assert(offsetof(WAVEOUTCAPSA, vDriverVersion) == 4);
static_assert(offsetof(WAVEOUTCAPSA, szPname) == 8);
static_assert(offsetof(WAVEOUTCAPSA, dwFormats) == 40);
static_assert(offsetof(WAVEOUTCAPSA, wChannels) == 44);
static_assert(offsetof(WAVEOUTCAPSA, dwSupport) == 48);

UINT waveInGetNumDevs();
UINT waveOutGetNumDevs();

// Fills the capability record of device `id` (0 ... count-1, or WAVE_MAPPER,
// which exists while the back-end has at least one device of the direction).
// MMSYSERR_INVALPARAM for a null record or a size below the record's;
// MMSYSERR_BADDEVICEID for any other id.
MMRESULT waveInGetDevCapsA(UINT_PTR id, WAVEINCAPSA* caps, UINT size);
MMRESULT waveOutGetDevCapsA(UINT_PTR id, WAVEOUTCAPSA* caps, UINT size);

namespace platform {

// The driver version every device reports (1.0).
inline constexpr MMVERSION kWaveDriverVersion = 0x0100;
// Product names of the mapper (device WAVE_MAPPER).
inline constexpr char kWaveInMapperName[] = "Default recording device";
inline constexpr char kWaveOutMapperName[] = "Default playback device";
// Every format bit above: both back-ends record and play all of them.
inline constexpr DWORD kAllStandardWaveFormats = 0x000FFFFF;

// Copies UTF-8 text into a fixed field of `size` bytes (a product name, an
// error text): at most size-1 bytes, cut between two characters as the user
// sees them (see CharacterCut), zero-terminated.
void CopyUtf8Field(const char* name, CHAR* field, size_t size);

}  // namespace platform
