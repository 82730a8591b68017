#include "files/custom_file.h"

const TClassInfo& TMMCustomFile::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMCustomFile>("TMMCustomFile", &TMMDSPComponent::StaticClassInfo())
          .Build();
  return info;
}

std::int32_t TMMCustomFile::GetSampleRate() const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  return f == nullptr ? 0 : static_cast<std::int32_t>(f->nSamplesPerSec);
}

std::int32_t TMMCustomFile::GetChannels() const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  return f == nullptr ? 0 : f->nChannels;
}
