#include "app/sample_tap.h"

#include <cstring>

void TSampleTap::BufferReady(PWaveHdr lpWaveHdr) {
  const WAVEFORMATEX* format = GetPWaveFormat();
  if (format && format->wFormatTag == WAVE_FORMAT_PCM && format->nChannels > 0 &&
      format->nBlockAlign > 0 && format->nSamplesPerSec > 0 &&
      (format->wBitsPerSample == 8 || format->wBitsPerSample == 16)) {
    const bool bits16 = format->wBitsPerSample == 16;
    const int channels = format->nChannels;
    const DWORD frames = lpWaveHdr->dwBytesRecorded / format->nBlockAlign;
    const auto* data = reinterpret_cast<const unsigned char*>(lpWaveHdr->lpData);
    std::lock_guard<std::mutex> hold(lock_);
    rate_ = format->nSamplesPerSec;
    for (DWORD f = 0; f < frames; ++f) {
      const unsigned char* frame = data + static_cast<std::size_t>(f) * format->nBlockAlign;
      float value[2];
      for (int ch = 0; ch < 2; ++ch) {
        const int source = ch < channels ? ch : 0;
        if (bits16) {
          std::int16_t s;
          std::memcpy(&s, frame + 2 * source, sizeof(s));
          value[ch] = static_cast<float>(s / 32768.0);
        } else {
          value[ch] = static_cast<float>((frame[source] - 128) / 128.0);
        }
      }
      samples_.left.push_back(value[0]);
      samples_.right.push_back(value[1]);
    }
  }
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

StereoSamples TSampleTap::Samples() const {
  std::lock_guard<std::mutex> hold(lock_);
  return samples_;
}

std::size_t TSampleTap::Frames() const {
  std::lock_guard<std::mutex> hold(lock_);
  return samples_.left.size();
}

std::uint32_t TSampleTap::SampleRate() const {
  std::lock_guard<std::mutex> hold(lock_);
  return rate_;
}

const TClassInfo& TSampleTap::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TSampleTap>("TSampleTap", &TMMDSPComponent::StaticClassInfo())
          .Ref<TMMDSPComponent>("Input", &TSampleTap::GetInput, &TSampleTap::SetInput)
          .Ref<TMMDSPComponent>("Output", &TSampleTap::GetOutput, &TSampleTap::SetOutput)
          .Build();
  return info;
}
