#include "platform/wave/wave_device.h"

#include <atomic>

namespace platform {

bool DevicePcmFormat(const WAVEFORMATEX& f) {
  if (f.wFormatTag != WAVE_FORMAT_PCM) return false;
  if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return false;
  if (f.nChannels < 1 || f.nChannels > 8) return false;
  if (f.nSamplesPerSec < 4000 || f.nSamplesPerSec > 100000) return false;
  if (f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8) return false;
  return f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

PcmFormat ToPcmFormat(const WAVEFORMATEX& format) {
  PcmFormat pcm;
  pcm.rate = format.nSamplesPerSec;
  pcm.bits = format.wBitsPerSample;
  pcm.channels = format.nChannels;
  return pcm;
}

const AudioEndpoint* ChooseEndpoint(const std::vector<AudioEndpoint>& endpoints, UINT id) {
  if (id == WAVE_MAPPER) {
    for (const AudioEndpoint& endpoint : endpoints) {
      if (endpoint.is_default) return &endpoint;
    }
    return endpoints.empty() ? nullptr : &endpoints.front();
  }
  return id < endpoints.size() ? &endpoints[id] : nullptr;
}

MMRESULT CheckWaveHeader(const WAVEHDR* header, UINT size) {
  if (header == nullptr || size < sizeof(WAVEHDR) || header->lpData == nullptr) {
    return MMSYSERR_INVALPARAM;
  }
  return MMSYSERR_NOERROR;
}

std::uintptr_t NewWaveHandle() {
  static std::atomic<std::uintptr_t> next{0x1000};
  return next++;
}

}  // namespace platform
