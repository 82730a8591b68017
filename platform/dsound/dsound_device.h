#pragma once

// What a sound device object and its buffers share (internal to the
// sound-buffer service).

#include <memory>
#include <mutex>
#include <string>

#include "platform/audio/audio_backend.h"
#include "platform/dsound/dsound.h"

namespace platform {

struct SoundDevice {
  std::shared_ptr<AudioBackend> backend;
  std::string endpoint_id;

  std::mutex mutex;  // everything below
  DWORD level = 0;   // cooperative level, 0 before it was set
  HWND window = 0;
  // The primary buffer: the output format (22050 Hz, 8 bit, stereo until one
  // is set) and whether it plays.
  WAVEFORMATEX primary_format{WAVE_FORMAT_PCM, 2, 22050, 44100, 2, 8, 0};
  bool primary_playing = false;
};

// The formats sound buffers take: PCM, 8 or 16 bit, 1 ... 8 channels,
// DSBFREQUENCY_MIN ... DSBFREQUENCY_MAX, consistent block and byte rate.
bool SoundBufferFormat(const WAVEFORMATEX& format);

// A primary buffer object of the device.
IDirectSoundBuffer* NewPrimaryBuffer(const std::shared_ptr<SoundDevice>& device, DWORD flags);
// A new secondary buffer as described (the description is checked).
HRESULT CreateSecondaryBuffer(const std::shared_ptr<SoundDevice>& device, const DSBUFFERDESC& desc,
                              IDirectSoundBuffer** buffer);

// The identifier of the output with this back-end key.
GUID OutputGuid(const std::string& endpoint_id);

}  // namespace platform
