#include "devices/wave_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();

WAVEFORMATEX Pcm(int bits, int channels, std::uint32_t rate) {
  WAVEFORMATEX fmt;
  std::memset(&fmt, 0xAB, sizeof fmt);  // every field must be written
  BuildPCMFormat(fmt, bits, channels, rate);
  return fmt;
}

TEST(MulDiv, RoundsHalvesUpAndNegativeHalvesAwayFromZero) {
  EXPECT_EQ(MulDivRound(3, 1, 2), 2);
  EXPECT_EQ(MulDivRound(5, 1, 4), 1);
  EXPECT_EQ(MulDivRound(7, 1, 2), 4);
  EXPECT_EQ(MulDivRound(1000, 44100, 176400), 250);
  EXPECT_EQ(MulDivRound(-3, 1, 2), -2);
  EXPECT_EQ(MulDivRound(3, -1, 2), -2);
  EXPECT_EQ(MulDivRound(3, 1, -2), -2);
  EXPECT_EQ(MulDivRound(-5, 1, 4), -1);
  EXPECT_EQ(MulDivRound(-7, 3, 4), -5);  // -5.25
  EXPECT_EQ(MulDivRound(-3, -1, 2), 2);
  // Product beyond 32 bits.
  EXPECT_EQ(MulDivRound(100000, 100000, 3), kMax32);  // saturates
  EXPECT_EQ(MulDivRound(100000, 30000, 1000), 3000000);
  // A remainder above 2^30: doubling it must not wrap.
  EXPECT_EQ(MulDivRound(1, 0x60000000, kMax32), 1);
  EXPECT_EQ(MulDivRound(1, 0x30000000, kMax32), 0);
}

TEST(MulDiv, TruncatesAndSaturates) {
  EXPECT_EQ(MulDivTrunc(7, 1, 2), 3);
  EXPECT_EQ(MulDivTrunc(-7, 1, 2), -3);
  EXPECT_EQ(MulDivTrunc(100000, 100000, 1000), 10000000);
  EXPECT_EQ(MulDivTrunc(kMax32, kMax32, 1), kMax32);
  EXPECT_EQ(MulDivTrunc(kMin32, kMax32, 1), kMin32);
  EXPECT_EQ(MulDivRound(kMin32, kMax32, 1), kMin32);
  EXPECT_EQ(MulDivRound(kMin32, -1, 1), kMax32);
}

TEST(MulDiv, ZeroDivisorGivesZero) {
  EXPECT_EQ(MulDivRound(5, 7, 0), 0);
  EXPECT_EQ(MulDivTrunc(5, 7, 0), 0);
  EXPECT_EQ(MulDiv64(5, 7, 0), 0);
}

TEST(MulDiv, SixtyFourBitUsesExtendedPrecisionAndTruncates) {
  EXPECT_EQ(MulDiv64(7, 1, 2), 3);
  EXPECT_EQ(MulDiv64(-7, 1, 2), -3);
  EXPECT_EQ(MulDiv64(std::int64_t{1} << 40, 176400, 44100), std::int64_t{4} << 40);
  // 2^53 + 1 is not a double; the product needs 55 bits of mantissa.
  const std::int64_t odd = (std::int64_t{1} << 53) + 1;
  EXPECT_EQ(MulDiv64(odd, 3, 3), odd);
  EXPECT_EQ(MulDiv64(std::numeric_limits<std::int64_t>::max(), 4, 2),
            std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(MulDiv64(std::numeric_limits<std::int64_t>::min(), 4, 2),
            std::numeric_limits<std::int64_t>::min());
}

TEST(WaveFormat, BuildPCMFormatFillsEveryField) {
  WAVEFORMATEX fmt = Pcm(16, 2, 44100);
  EXPECT_EQ(fmt.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(fmt.nChannels, 2);
  EXPECT_EQ(fmt.nSamplesPerSec, 44100u);
  EXPECT_EQ(fmt.wBitsPerSample, 16);
  EXPECT_EQ(fmt.nBlockAlign, 4);
  EXPECT_EQ(fmt.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(fmt.cbSize, 0);
  EXPECT_EQ(Pcm(8, 1, 8000).nBlockAlign, 1);
  EXPECT_EQ(Pcm(16, 4, 8000).nBlockAlign, 8);
  EXPECT_EQ(Pcm(4, 1, 8000).nBlockAlign, 0);  // truncated, as stored
  EXPECT_EQ(Pcm(12, 1, 8000).nBlockAlign, 1);

  // Stored byte for byte, little-endian.
  const auto* bytes = reinterpret_cast<const unsigned char*>(&fmt);
  const unsigned char expected[18] = {1,    0, 2, 0, 0x44, 0xAC, 0, 0, 0x10,
                                      0xB1, 2, 0, 4, 0,    16,   0, 0, 0};
  EXPECT_EQ(std::memcmp(bytes, expected, 18), 0);
}

TEST(WaveFormat, SupportedPCMFormats) {
  EXPECT_FALSE(IsSupportedPCMFormat(nullptr));
  WAVEFORMATEX fmt = Pcm(16, 2, 44100);
  EXPECT_TRUE(IsSupportedPCMFormat(&fmt));
  for (int channels : {1, 2, 4}) {
    for (int bits : {8, 16}) {
      fmt = Pcm(bits, channels, 22050);
      EXPECT_TRUE(IsSupportedPCMFormat(&fmt)) << bits << " " << channels;
    }
  }
  fmt = Pcm(16, 3, 44100);
  EXPECT_FALSE(IsSupportedPCMFormat(&fmt));
  fmt = Pcm(24, 2, 44100);
  EXPECT_FALSE(IsSupportedPCMFormat(&fmt));
  fmt = Pcm(16, 2, 3999);
  EXPECT_FALSE(IsSupportedPCMFormat(&fmt));
  fmt = Pcm(16, 2, 100001);
  EXPECT_FALSE(IsSupportedPCMFormat(&fmt));
  fmt = Pcm(16, 2, 4000);
  EXPECT_TRUE(IsSupportedPCMFormat(&fmt));
  fmt = Pcm(16, 2, 100000);
  EXPECT_TRUE(IsSupportedPCMFormat(&fmt));
  fmt.wFormatTag = 2;
  EXPECT_FALSE(IsSupportedPCMFormat(&fmt));
}

TEST(WaveFormat, SizeAndCopy) {
  EXPECT_EQ(WaveFormatSize(nullptr), 0);
  EXPECT_EQ(CopyWaveFormat(nullptr), nullptr);

  WAVEFORMATEX pcm = Pcm(16, 2, 44100);
  pcm.cbSize = 22;
  EXPECT_EQ(WaveFormatSize(&pcm), 18);
  PWaveFormatEx copy = CopyWaveFormat(&pcm);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->cbSize, 0);
  EXPECT_EQ(pcm.cbSize, 22);  // the source is untouched
  EXPECT_EQ(std::memcmp(copy, &pcm, 16), 0);
  FreeBlock(copy);
  EXPECT_EQ(copy, nullptr);
  FreeBlock(copy);  // nothing for an empty variable

  // A compressed format with its extra bytes.
  unsigned char block[18 + 4];
  auto* adpcm = reinterpret_cast<PWaveFormatEx>(block);
  *adpcm = Pcm(4, 1, 8000);
  adpcm->wFormatTag = 0x11;
  adpcm->cbSize = 4;
  std::memcpy(block + 18, "\x01\x02\x03\x04", 4);
  EXPECT_EQ(WaveFormatSize(adpcm), 22);
  copy = CopyWaveFormat(adpcm);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->cbSize, 4);
  EXPECT_EQ(std::memcmp(copy, block, 22), 0);
  FreeBlock(copy);
}

TEST(WaveFormat, ConversionsRoundAwayFromBytesAndAlignTowardsBytes) {
  const WAVEFORMATEX cd = Pcm(16, 2, 44100);
  EXPECT_EQ(SamplesToBytes(&cd, 1), 4);
  EXPECT_EQ(SamplesToBytes(&cd, 3), 12);
  EXPECT_EQ(BytesToSamples(&cd, 6), 2);  // 1.5 rounds up, not aligned
  EXPECT_EQ(BytesToSamples(&cd, 5), 1);
  EXPECT_EQ(MsToBytes(&cd, 1), 176);
  EXPECT_EQ(MsToBytes(&cd, 3), 532);  // 529.2 -> 529 -> aligned up
  EXPECT_EQ(BytesToMs(&cd, 176400), 1000);
  EXPECT_EQ(BytesToMs(&cd, 265), 2);  // 1.502 ms
  EXPECT_EQ(SamplesToMs(&cd, 44100), 1000);
  EXPECT_EQ(SamplesToMs(&cd, 22), 0);   // 0.4988 ms
  EXPECT_EQ(SamplesToMs(&cd, 23), 1);   // 0.5215 ms
  EXPECT_EQ(MsToSamples(&cd, 1), 44);   // 44.1
  EXPECT_EQ(MsToSamples(&cd, 5), 221);  // 220.5 rounds up

  const WAVEFORMATEX mono8 = Pcm(8, 1, 11025);
  EXPECT_EQ(MsToBytes(&mono8, 3), 33);  // 33.075, block 1
  EXPECT_EQ(SamplesToBytes(&mono8, 7), 7);

  // 64-bit forms truncate and align.
  EXPECT_EQ(SamplesToBytes64(&cd, 3), 12);
  EXPECT_EQ(SamplesToBytes64(&cd, std::int64_t{1} << 40), std::int64_t{4} << 40);
  EXPECT_EQ(SamplesToMs64(&cd, 22049), 499);  // 499.98 truncates
  EXPECT_EQ(SamplesToMs(&cd, 22049), 500);    // where the 32-bit form rounds
  EXPECT_EQ(SamplesToMs64(&cd, std::int64_t{44100} * 3600 * 24 * 365),
            std::int64_t{1000} * 3600 * 24 * 365);
}

TEST(WaveFormat, ConversionsWithZeroDivisorsOrNoFormatGiveZero) {
  WAVEFORMATEX zero{};
  for (std::int32_t n : {0, 1, 1000}) {
    EXPECT_EQ(BytesToSamples(&zero, n), 0);
    EXPECT_EQ(SamplesToBytes(&zero, n), 0);
    EXPECT_EQ(BytesToMs(&zero, n), 0);
    EXPECT_EQ(MsToBytes(&zero, n), 0);
    EXPECT_EQ(SamplesToMs(&zero, n), 0);
    EXPECT_EQ(MsToSamples(&zero, n), 0);
    EXPECT_EQ(SamplesToBytes64(&zero, n), 0);
    EXPECT_EQ(SamplesToMs64(&zero, n), 0);
    EXPECT_EQ(BytesToSamples(nullptr, n), 0);
    EXPECT_EQ(SamplesToBytes64(nullptr, n), 0);
  }
  // Rates present but no block alignment: nothing to align to.
  WAVEFORMATEX noBlock = Pcm(16, 2, 44100);
  noBlock.nBlockAlign = 0;
  EXPECT_EQ(SamplesToBytes(&noBlock, 3), 0);
  EXPECT_EQ(MsToBytes(&noBlock, 3), 0);
  EXPECT_EQ(SamplesToBytes64(&noBlock, 3), 0);
  EXPECT_EQ(BytesToSamples(&noBlock, 8), 2);
}

TEST(WaveFormat, TagNames) {
  EXPECT_EQ(WaveFormatTagName(nullptr), "Unknown");
  WAVEFORMATEX fmt = Pcm(16, 2, 44100);
  const auto name = [&](std::uint16_t tag) {
    fmt.wFormatTag = tag;
    return WaveFormatTagName(&fmt);
  };
  EXPECT_EQ(name(0x0001), "PCM");
  EXPECT_EQ(name(0x0000), "Unknown");
  EXPECT_EQ(name(0x0011), "IMA ADPCM");
  EXPECT_EQ(name(0x0003), "IEEE Float");
  EXPECT_EQ(name(0x0209), "Dolby AC2");
  EXPECT_EQ(name(0x0030), "Dolby AC2");
  EXPECT_EQ(name(0x020C), "PCM 32");
  EXPECT_EQ(name(0x0055), "MPEG Layer-3");
  EXPECT_EQ(name(0x1001), "Olivetti's ADPCM");
  EXPECT_EQ(name(0xFFFF), "*DEVELOPMENT ONLY TAG*");
  EXPECT_EQ(name(0xFFFE), "Extensible");
  EXPECT_EQ(name(0x0008), "Unknown");
  EXPECT_EQ(name(0x0207), "Unknown");

  EXPECT_STREQ(WaveFormatTags[WaveFormatTagCount - 1].Name, "");
  for (int i = 0; i < WaveFormatTagCount - 1; ++i) EXPECT_STRNE(WaveFormatTags[i].Name, "");
}

TEST(MMTypes, BitsAndModeConversions) {
  EXPECT_EQ(MMBitsToBitCount(b8Bit), 8);
  EXPECT_EQ(MMBitsToBitCount(b16Bit), 16);
  EXPECT_EQ(BitCountToMMBits(8), b8Bit);
  EXPECT_EQ(BitCountToMMBits(16), b16Bit);
  EXPECT_EQ(BitCountToMMBits(0), b8Bit);
  EXPECT_EQ(BitCountToMMBits(32), b16Bit);

  EXPECT_EQ(ChannelCountToMMMode(1), mMono);
  EXPECT_EQ(ChannelCountToMMMode(0), mMono);
  EXPECT_EQ(ChannelCountToMMMode(2), mStereo);
  EXPECT_EQ(ChannelCountToMMMode(3), mMultiChannel);
  EXPECT_EQ(ChannelCountToMMMode(6), mMultiChannel);
  EXPECT_EQ(WaveFormatToMMMode(nullptr), mMono);
  const WAVEFORMATEX quad = Pcm(16, 4, 44100);
  EXPECT_EQ(WaveFormatToMMMode(&quad), mMultiChannel);

  EXPECT_EQ(MMModeToChannelCount(mMono, 4), 1);
  EXPECT_EQ(MMModeToChannelCount(mStereo, 1), 2);
  EXPECT_EQ(MMModeToChannelCount(mMultiChannel, 4), 4);
  EXPECT_EQ(MMModeToChannelCount(mMultiChannel, 1), 1);

  static_assert(sizeof(TMMBits) == 1 && sizeof(TMMFFTWindow) == 1);
  static_assert(fwParzen == 6 && dmUniform == 3 && tfSample == 2 && cmThread == 2);
}

}  // namespace
