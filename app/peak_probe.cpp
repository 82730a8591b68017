#include "app/peak_probe.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void TPeakProbe::BufferReady(PWaveHdr lpWaveHdr) {
  const WAVEFORMATEX* format = GetPWaveFormat();
  if (format && format->nChannels > 0 && format->nBlockAlign > 0) {
    const int channels = format->nChannels;
    const bool bits16 = format->wBitsPerSample == 16;
    full_scale_ = bits16 ? 32768.0 : 128.0;
    const DWORD frames = lpWaveHdr->dwBytesRecorded / format->nBlockAlign;
    const auto* data = reinterpret_cast<const unsigned char*>(lpWaveHdr->lpData);
    int peak[2] = {peak_[0], peak_[1]};
    for (DWORD f = 0; f < frames; ++f) {
      const unsigned char* frame = data + static_cast<std::size_t>(f) * format->nBlockAlign;
      for (int ch = 0; ch < channels && ch < 2; ++ch) {
        int value;
        if (bits16) {
          std::int16_t s;
          std::memcpy(&s, frame + 2 * ch, sizeof(s));
          value = std::abs(static_cast<int>(s));
        } else {
          value = std::abs(static_cast<int>(frame[ch]) - 128);
        }
        if (value > peak[ch]) peak[ch] = value;
      }
    }
    if (channels == 1) peak[1] = peak[0];
    peak_[0] = peak[0];
    peak_[1] = peak[1];
    bytes_ += lpWaveHdr->dwBytesRecorded;
  }
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TPeakProbe::ResetPeaks() {
  peak_[0] = 0;
  peak_[1] = 0;
  bytes_ = 0;
}

const TClassInfo& TPeakProbe::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TPeakProbe>("TPeakProbe", &TMMDSPComponent::StaticClassInfo())
          .Ref<TMMDSPComponent>("Input", &TPeakProbe::GetInput, &TPeakProbe::SetInput)
          .Ref<TMMDSPComponent>("Output", &TPeakProbe::GetOutput, &TPeakProbe::SetOutput)
          .Build();
  return info;
}

std::string FormatDbfs(double peak) {
  if (peak <= 0.0) return "-inf";
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f", 20.0 * std::log10(peak));
  return text;
}
