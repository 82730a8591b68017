#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "files/pcm_converter.h"
#include "tests/files/memory_source.h"
#include "tests/support/wave_formats.h"

namespace {

using filestest::Buffer;
using filestest::Bytes;
using filestest::TMemorySource;
using filestest::TSink;

// What `data` converts to in one step straight through the compression manager; with `end`,
// also what the codec holds at the end.
Bytes DecodeAtOnce(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, Bytes data, bool end = true) {
  HACMSTREAM s = nullptr;
  EXPECT_EQ(acmStreamOpen(&s, nullptr, src, dst, nullptr, 0, 0, 0), 0u);
  DWORD size = 0;
  EXPECT_EQ(acmStreamSize(s, static_cast<DWORD>(data.size()), &size, ACM_STREAMSIZEF_SOURCE), 0u);
  Bytes out(size);
  ACMSTREAMHEADER h;
  h.cbStruct = sizeof h;
  h.pbSrc = data.data();
  h.cbSrcLength = static_cast<DWORD>(data.size());
  h.pbDst = out.data();
  h.cbDstLength = size;
  EXPECT_EQ(acmStreamPrepareHeader(s, &h, 0), 0u);
  EXPECT_EQ(
      acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN | (end ? ACM_STREAMCONVERTF_END : 0)),
      0u);
  out.resize(h.cbDstLengthUsed);
  acmStreamUnprepareHeader(s, &h, 0);
  acmStreamClose(s, 0);
  return out;
}

void Start(TMMDSPComponent& c) {
  c.Opened();
  c.Started();
}

// The compression manager switched off while it lives.
struct WithoutAcm {
  WithoutAcm() {
    setenv("TESSALINE_ACM", "none", 1);
    platform::ReloadAcm();
  }
  ~WithoutAcm() {
    unsetenv("TESSALINE_ACM");
    platform::ReloadAcm();
  }
};

}  // namespace

TEST(ACMConverter, NegotiatesTheFormatItDelivers) {
  const wavetest::Format pcm = wavetest::Pcm(16, 2, 44100);
  const wavetest::Format ima = wavetest::Ima(1, 8000, 256);
  EXPECT_FALSE(FormatsDiffer(nullptr, pcm.get()));
  EXPECT_FALSE(FormatsDiffer(pcm.get(), nullptr));
  wavetest::Format other = pcm;
  other->nAvgBytesPerSec = 1;  // not compared
  other->nBlockAlign = 3;
  EXPECT_FALSE(FormatsDiffer(pcm.get(), other.get()));
  for (int field = 0; field < 4; ++field) {
    other = pcm;
    if (field == 0) other->wFormatTag = 3;
    if (field == 1) other->wBitsPerSample = 8;
    if (field == 2) other->nChannels = 1;
    if (field == 3) other->nSamplesPerSec = 44099;
    EXPECT_TRUE(FormatsDiffer(pcm.get(), other.get())) << field;
  }

  TMMPCMConverter converter(nullptr);
  converter.SetSampleRate(4000);
  EXPECT_EQ(converter.GetSampleRate(), 8000);
  converter.SetSampleRate(96000);
  EXPECT_EQ(converter.GetSampleRate(), 88200);
  converter.SetMode(mStereo);
  converter.SetMode(mMultiChannel);
  EXPECT_EQ(converter.GetMode(), mStereo);
  try {
    converter.SetPWaveFormat(ima.get());
    ADD_FAILURE() << "a compressed format was taken";
  } catch (const EMMConverterError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }

  // 16-bit stereo PCM at 44100 Hz passes: no conversion is built, the data are unchanged.
  Bytes data(4000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  TMemorySource source(pcm.get(), data, 1000);
  TSink sink;
  converter.SetInput(&source);
  converter.SetOutput(&sink);
  EXPECT_FALSE(converter.Differ());
  EXPECT_EQ(std::memcmp(sink.GetPWaveFormat(), pcm.get(), 18), 0);
  Start(converter);
  EXPECT_EQ(converter.Conversion(), nullptr);
  Buffer buffer(1500);
  EXPECT_EQ(buffer.Drain(converter), data);
  converter.Closed();

  // A compressed input: 16-bit PCM at its channels and rate goes downstream.
  TMemorySource adpcm(ima.get(), wavetest::ImaBlocks(1, 256, 4), 256);
  converter.SetInput(&adpcm);
  EXPECT_TRUE(converter.Differ());
  EXPECT_TRUE(converter.Convertible());
  EXPECT_EQ(std::memcmp(sink.GetPWaveFormat(), wavetest::Pcm(16, 1, 8000).get(), 18), 0);
  // Disabled, it hands its input's format on.
  converter.SetEnabled(false);
  EXPECT_FALSE(converter.Differ());
  EXPECT_EQ(sink.GetPWaveFormat()->wFormatTag, WAVE_FORMAT_IMA_ADPCM);
  converter.SetEnabled(true);

  // Without AutoConvert the required parts come from the properties.
  converter.SetAutoConvert(false);
  converter.SetBitLength(b8Bit);
  converter.SetMode(mMono);
  converter.SetSampleRate(11025);
  converter.SetRequired(1u << rpSampleRate);
  EXPECT_EQ(std::memcmp(sink.GetPWaveFormat(), wavetest::Pcm(16, 1, 11025).get(), 18), 0);
  converter.SetRequired(kAllRequiredParams);
  EXPECT_EQ(std::memcmp(sink.GetPWaveFormat(), wavetest::Pcm(8, 1, 11025).get(), 18), 0);

  // Without the compression manager PCM still passes, and a compressed input is handed on
  // unchanged until the open refuses it.
  WithoutAcm off;
  converter.SetAutoConvert(true);
  converter.SetInput(&source);
  EXPECT_FALSE(converter.Differ());
  converter.SetInput(&adpcm);
  EXPECT_TRUE(converter.Differ());
  EXPECT_FALSE(converter.Convertible());
  EXPECT_EQ(sink.GetPWaveFormat()->wFormatTag, WAVE_FORMAT_IMA_ADPCM);
  try {
    converter.Opened();
    ADD_FAILURE() << "opened without a codec";
  } catch (const EMMConverterError& e) {
    EXPECT_STREQ(e.what(), "Unable to convert to destination format");
  }
}

TEST(ACMConverter, ConvertsInStagesAcrossChunksToTheEnd) {
  const wavetest::Format ima = wavetest::Ima(1, 8000, 256);
  const wavetest::Format pcm16 = wavetest::Pcm(16, 1, 8000);
  const Bytes blocks = wavetest::ImaBlocks(1, 256, 70);
  const Bytes expected = DecodeAtOnce(ima.get(), pcm16.get(), blocks);
  ASSERT_EQ(expected.size(), 70u * 505 * 2);

  // Pulls that end inside a block: the rest of the block waits for the next bytes.
  {
    TMemorySource source(ima.get(), blocks, 1000);
    TMMPCMConverter converter(nullptr);
    converter.SetInput(&source);
    Start(converter);
    ASSERT_NE(converter.Conversion(), nullptr);
    EXPECT_EQ(converter.Conversion()->Stages.size(), 1u);
    EXPECT_EQ(converter.Conversion()->ChunkSize, 8192u);
    Buffer buffer(3000);
    bool more = false;
    const Bytes first = buffer.Load(converter, more);
    EXPECT_TRUE(more);
    EXPECT_EQ(first.size(), 3000u);
    Bytes all = first;
    const Bytes rest = buffer.Drain(converter);
    all.insert(all.end(), rest.begin(), rest.end());
    EXPECT_EQ(all, expected);

    // After a jump of the source, nothing converted before it is delivered.
    source.Rewind(0);
    converter.Reset();
    EXPECT_EQ(buffer.Load(converter, more), first);
  }

  // IMA ADPCM to 8-bit PCM at 11025 Hz: decoded first, then resampled; the resampler's last
  // frames come out at the end.
  {
    TMemorySource source(ima.get(), blocks, 4096);
    TMMPCMConverter converter(nullptr);
    converter.SetAutoConvert(false);
    converter.SetBitLength(b8Bit);
    converter.SetMode(mMono);
    converter.SetSampleRate(11025);
    converter.SetInput(&source);
    Start(converter);
    ASSERT_NE(converter.Conversion(), nullptr);
    EXPECT_EQ(converter.Conversion()->Stages.size(), 2u);
    Buffer buffer(2048);
    const Bytes all = buffer.Drain(converter);
    const std::size_t frames = 70u * 505;
    EXPECT_NEAR(static_cast<double>(all.size()), frames * 11025.0 / 8000, 2);
    // The same signal: 8-bit samples are the 16-bit ones' high bytes, give or take the
    // resampling.
    const Bytes direct = DecodeAtOnce(pcm16.get(), wavetest::Pcm(8, 1, 11025).get(), expected);
    EXPECT_EQ(all, direct);
  }

  // A buffer that the last source bytes fill exactly: the resampler's held frames still come.
  {
    const wavetest::Format up = wavetest::Pcm(16, 1, 16000);
    const Bytes part(expected.begin(), expected.begin() + 8192);
    const std::size_t first = DecodeAtOnce(pcm16.get(), up.get(), part, false).size();
    ASSERT_LT(first, part.size() * 2);
    EXPECT_EQ(DecodeAtOnce(pcm16.get(), up.get(), part).size(), part.size() * 2);
    TMemorySource source(pcm16.get(), part, part.size());
    TMMPCMConverter converter(nullptr);
    converter.SetAutoConvert(false);
    converter.SetBitLength(b16Bit);
    converter.SetSampleRate(16000);
    converter.SetInput(&source);
    Start(converter);
    Buffer buffer(first);
    bool more = false;
    EXPECT_EQ(buffer.Load(converter, more).size(), first);
    EXPECT_TRUE(more);
    EXPECT_EQ(first + buffer.Drain(converter).size(), part.size() * 2);
  }
}

TEST(ACMConverter, LoopsFailsAndPushes) {
  const wavetest::Format ima = wavetest::Ima(1, 8000, 256);
  const wavetest::Format pcm16 = wavetest::Pcm(16, 1, 8000);
  const Bytes blocks = wavetest::ImaBlocks(1, 256, 3);
  const Bytes decoded = DecodeAtOnce(ima.get(), pcm16.get(), blocks);

  // A looping source: the buffer ends at the wrap, the next one starts from the beginning.
  {
    TMemorySource source(ima.get(), blocks, 8192);
    TMMPCMConverter converter(nullptr);
    converter.SetInput(&source);
    Start(converter);
    Buffer buffer(8192);
    buffer.hdr->bLooping = -1;
    bool more = false;
    EXPECT_EQ(buffer.Load(converter, more), decoded);
    EXPECT_EQ(buffer.hdr->bLoopDone, -1);
    EXPECT_TRUE(more);
    EXPECT_EQ(buffer.Load(converter, more), decoded);
  }

  // Five steps in a row that give nothing: Microsoft ADPCM blocks whose predictor has no
  // coefficients.
  {
    const wavetest::Format ms = wavetest::MsAdpcm(1, 8000, 256);
    TMemorySource source(ms.get(), Bytes(256 * 200, 0xFF), 256);
    TMMPCMConverter converter(nullptr);
    converter.SetInput(&source);
    Start(converter);
    Buffer buffer(2048);
    bool more = false;
    try {
      buffer.Load(converter, more);
      ADD_FAILURE() << "no error";
    } catch (const EMMConverterError& e) {
      EXPECT_STREQ(e.what(), "Unable to convert to destination format");
    }
    EXPECT_EQ(source.Pulls(), 5);
    EXPECT_FALSE(converter.Convertible());
  }

  // Pushed buffers come out converted, in pieces of at most the buffer size.
  {
    TMemorySource source(ima.get(), {}, 0);
    TMMPCMConverter converter(nullptr);
    TSink sink;
    converter.SetInput(&source);
    converter.SetOutput(&sink);
    converter.SetBufferSize(600);
    Start(converter);
    Buffer pushed(blocks.size());
    std::memcpy(pushed.hdr->lpData, blocks.data(), blocks.size());
    pushed.hdr->dwBytesRecorded = static_cast<DWORD>(blocks.size());
    converter.BufferReady(pushed.hdr);
    EXPECT_EQ(sink.received, decoded);
    EXPECT_EQ(sink.largest, 600u);
  }
}
