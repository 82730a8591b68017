#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "files/wave_io.h"

namespace {

struct Stretch {
  double left_rms = 0, right_rms = 0;
};

double Db(double ratio) {
  return 20 * std::log10(ratio);
}

// The test sound as the programs find it beside them (the tests run in the
// build folder), read through the program's own wave routines: "left" on the
// left channel in the first half, "right" on the right channel in the second,
// the other channel silent meanwhile.
TEST(TestSound, SaysLeftOnTheLeftThenRightOnTheRight) {
  PWaveIOBlock block = nullptr;
  ASSERT_EQ(WaveOpen(block, "app/YesLR.wav", FOURCC_WAVE, wioRead), 0);
  EXPECT_EQ(block->Format.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(block->Format.nSamplesPerSec, 44100u);
  EXPECT_EQ(block->Format.wBitsPerSample, 16);
  ASSERT_EQ(block->Format.nChannels, 2);
  EXPECT_LT(block->DataSamples, 44100 * 5 / 2);  // under 2.5 s
  ASSERT_EQ(WaveReopen(block), 0);
  std::vector<std::int16_t> samples(static_cast<std::size_t>(block->DataSamples) * 2);
  const auto bytes = static_cast<std::int32_t>(samples.size() * sizeof(std::int16_t));
  ASSERT_EQ(WaveRead(block, samples.data(), bytes), bytes);
  WaveFree(block);

  const std::size_t frames = samples.size() / 2;
  const auto stretch = [&](std::size_t from, std::size_t to) {
    double left = 0, right = 0;
    for (std::size_t i = from; i < to; ++i) {
      left += double(samples[2 * i]) * samples[2 * i];
      right += double(samples[2 * i + 1]) * samples[2 * i + 1];
    }
    const double n = double(to - from) * 32768.0 * 32768.0;
    return Stretch{std::sqrt(left / n), std::sqrt(right / n)};
  };
  const Stretch first = stretch(0, frames / 2);
  const Stretch second = stretch(frames / 2, frames);
  // A voice, well above any noise, on its own channel; the other far below.
  EXPECT_GT(Db(first.left_rms), -35);
  EXPECT_LT(first.right_rms, first.left_rms / 1000);
  EXPECT_GT(Db(second.right_rms), -35);
  EXPECT_LT(second.left_rms, second.right_rms / 1000);

  int peak = 0;
  for (std::int16_t s : samples) peak = std::max(peak, std::abs(int(s)));
  const double peak_db = Db(peak / 32768.0);
  EXPECT_GT(peak_db, -3.5);
  EXPECT_LE(peak_db, -2.9);
}

}  // namespace
