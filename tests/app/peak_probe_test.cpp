#include "app/peak_probe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "devices/wave_format.h"

namespace {

TEST(PeakProbe, MeasuresEachChannelAndFormatsDbfs) {
  TPeakProbe probe(nullptr);
  WAVEFORMATEX format{};
  BuildPCMFormat(format, 16, 2, 44100);
  probe.SetPWaveFormat(&format);
  std::vector<std::int16_t> samples = {100, -16384, -32768, 8192, 5, -3};
  std::vector<char> block(kWaveHdrSize + samples.size() * 2);
  auto* h = reinterpret_cast<PWaveHdr>(block.data());
  *h = TMMWaveHdr{};
  h->lpData = WaveHdrData(h);
  std::memcpy(h->lpData, samples.data(), samples.size() * 2);
  h->dwBytesRecorded = static_cast<DWORD>(samples.size() * 2);
  probe.BufferReady(h);
  EXPECT_DOUBLE_EQ(probe.PeakLeft(), 1.0);
  EXPECT_DOUBLE_EQ(probe.PeakRight(), 0.5);
  EXPECT_EQ(FormatDbfs(probe.PeakRight()), "-6.0");
  EXPECT_EQ(FormatDbfs(probe.PeakLeft()), "0.0");
  EXPECT_EQ(FormatDbfs(0.0), "-inf");
  EXPECT_EQ(FormatDbfs(0.25), "-12.0");
  probe.ResetPeaks();
  EXPECT_EQ(probe.PeakLeft(), 0.0);
}

}  // namespace
