#pragma once

// What the ALSA back-end's capture and playback streams share: opening a PCM
// in the stream format, the wake-up pipe of a stream's thread, and telling
// which failures mean the device has gone.

#include <alsa/asoundlib.h>

#include <cstddef>
#include <string>

#include "platform/audio/audio_backend.h"

namespace platform {

// An open PCM in the stream's format and the sizes ALSA granted.
struct AlsaPcm {
  snd_pcm_t* pcm = nullptr;
  snd_pcm_uframes_t period_frames = 0;
  snd_pcm_uframes_t buffer_frames = 0;
};

// Opens the PCM `name` non-blocking and sets it to `format` (u8 or s16le,
// interleaved, the rate exactly: ALSA's own plugins convert where the device
// needs it), with periods of about period_frames and a buffer of about
// buffer_frames. Nothing is started. False and *reason on failure, with
// nothing left open.
bool OpenAlsaPcm(const std::string& name, snd_pcm_stream_t direction, const PcmFormat& format,
                 snd_pcm_uframes_t period_frames, snd_pcm_uframes_t buffer_frames, AlsaPcm* opened,
                 std::string* reason);

// "ALSA: <what>: <ALSA's text for err>".
std::string AlsaError(const std::string& what, int err);

// Brings a PCM back after an overrun, an underrun or a suspend. False when
// the failure is not one of those, or the PCM does not come back: the device
// has gone (unplugged, or the plugin's own server or file failed).
bool RecoverAlsaPcm(snd_pcm_t* pcm, int err);

// A pipe that wakes a stream's thread from poll.
class WakePipe {
 public:
  WakePipe();
  ~WakePipe();
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;
  bool Valid() const { return fds_[0] >= 0; }
  int ReadFd() const { return fds_[0]; }
  // Safe from any thread; a wake that is already pending is not doubled.
  void Signal();
  // Takes every pending wake; on the polling thread.
  void Drain();

 private:
  int fds_[2] = {-1, -1};
};

}  // namespace platform
