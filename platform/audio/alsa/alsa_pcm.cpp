#include "platform/audio/alsa/alsa_pcm.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

std::string AlsaError(const std::string& what, int err) {
  return "ALSA: " + what + ": " + snd_strerror(err);
}

bool OpenAlsaPcm(const std::string& name, snd_pcm_stream_t direction, const PcmFormat& format,
                 snd_pcm_uframes_t period_frames, snd_pcm_uframes_t buffer_frames, AlsaPcm* opened,
                 std::string* reason) {
  snd_pcm_format_t sample;
  if (format.bits == 8) {
    sample = SND_PCM_FORMAT_U8;
  } else if (format.bits == 16) {
    sample = SND_PCM_FORMAT_S16_LE;
  } else {
    if (reason) *reason = "ALSA: unsupported format";
    return false;
  }
  snd_pcm_t* pcm = nullptr;
  int err = snd_pcm_open(&pcm, name.c_str(), direction, SND_PCM_NONBLOCK);
  const std::string plug = "plug:";
  if (err == -ENOENT && name.compare(0, plug.size(), plug) == 0) {
    // A configuration without the plug wrapper's definition: the PCM as it is.
    err = snd_pcm_open(&pcm, name.c_str() + plug.size(), direction, SND_PCM_NONBLOCK);
  }
  if (err < 0) {
    if (reason) *reason = AlsaError("cannot open " + name, err);
    return false;
  }
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  unsigned rate = format.rate;
  const char* step = "";
  // Each step names what the device refused.
  auto fail = [&](int code) {
    if (reason) *reason = AlsaError(name + ": " + step, code);
    snd_pcm_close(pcm);
    return false;
  };
  step = "no configuration";
  if ((err = snd_pcm_hw_params_any(pcm, hw)) < 0) return fail(err);
  step = "no interleaved access";
  if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
    return fail(err);
  step = "format refused";
  if ((err = snd_pcm_hw_params_set_format(pcm, hw, sample)) < 0) return fail(err);
  step = "channel count refused";
  if ((err = snd_pcm_hw_params_set_channels(pcm, hw, format.channels)) < 0) return fail(err);
  step = "rate refused";
  if ((err = snd_pcm_hw_params_set_rate_resample(pcm, hw, 1)) < 0) return fail(err);
  if ((err = snd_pcm_hw_params_set_rate(pcm, hw, rate, 0)) < 0) return fail(err);
  step = "buffer size refused";
  snd_pcm_uframes_t buffer = buffer_frames;
  if ((err = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer)) < 0) return fail(err);
  snd_pcm_uframes_t period = period_frames;
  int dir = 0;
  step = "period size refused";
  if ((err = snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir)) < 0) return fail(err);
  step = "configuration refused";
  if ((err = snd_pcm_hw_params(pcm, hw)) < 0) return fail(err);
  snd_pcm_hw_params_get_buffer_size(hw, &buffer);
  snd_pcm_hw_params_get_period_size(hw, &period, &dir);

  // Playback starts only when the stream says so; a period's worth wakes poll.
  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  snd_pcm_uframes_t boundary = 0;
  step = "software configuration refused";
  if ((err = snd_pcm_sw_params_current(pcm, sw)) < 0) return fail(err);
  snd_pcm_sw_params_get_boundary(sw, &boundary);
  if (direction == SND_PCM_STREAM_PLAYBACK &&
      (err = snd_pcm_sw_params_set_start_threshold(pcm, sw, boundary)) < 0) {
    return fail(err);
  }
  if ((err = snd_pcm_sw_params_set_avail_min(pcm, sw, period)) < 0) return fail(err);
  if ((err = snd_pcm_sw_params(pcm, sw)) < 0) return fail(err);
  opened->pcm = pcm;
  opened->period_frames = period;
  opened->buffer_frames = buffer;
  return true;
}

bool RecoverAlsaPcm(snd_pcm_t* pcm, int err) {
  if (err == -ESTRPIPE) {
    // Suspended: resumed where the device can, else prepared anew.
    // A device that stays busy waking is given up to a second.
    for (int tries = 0; (err = snd_pcm_resume(pcm)) == -EAGAIN && tries < 100; ++tries) {
      usleep(10000);
    }
    if (err == 0) return true;
    err = -EPIPE;
  }
  if (err != -EPIPE) return false;
  return snd_pcm_prepare(pcm) == 0;
}

WakePipe::WakePipe() {
  if (pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
}

WakePipe::~WakePipe() {
  for (int fd : fds_) {
    if (fd >= 0) close(fd);
  }
}

void WakePipe::Signal() {
  const char byte = 1;
  // A full pipe already holds a wake.
  [[maybe_unused]] ssize_t written = write(fds_[1], &byte, 1);
}

void WakePipe::Drain() {
  char bytes[64];
  while (read(fds_[0], bytes, sizeof(bytes)) > 0) {
  }
}

}  // namespace platform
