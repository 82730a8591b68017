#pragma once

#include <cstdint>
#include <vector>

#include "app/loopback_analysis.h"
#include "files/wave_io.h"

// A 16-bit stereo wave file's samples in full scale units, read through the
// program's own wave routines; empty when it cannot be read.
inline StereoSamples ReadStereoSound(const char* path) {
  StereoSamples sound;
  PWaveIOBlock block = nullptr;
  if (WaveOpen(block, path, FOURCC_WAVE, wioRead) != 0) return sound;
  std::vector<std::int16_t> samples(static_cast<std::size_t>(block->DataSamples) * 2);
  const auto bytes = static_cast<std::int32_t>(samples.size() * sizeof(std::int16_t));
  const bool read = block->Format.nChannels == 2 && block->Format.wBitsPerSample == 16 &&
                    WaveReopen(block) == 0 && WaveRead(block, samples.data(), bytes) == bytes;
  WaveFree(block);
  if (!read) return sound;
  for (std::size_t i = 0; i + 1 < samples.size(); i += 2) {
    sound.left.push_back(static_cast<float>(samples[i] / 32768.0));
    sound.right.push_back(static_cast<float>(samples[i + 1] / 32768.0));
  }
  return sound;
}
