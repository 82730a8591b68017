#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "platform/acm/msacm.h"
#include "tests/support/wave_formats.h"

namespace {

using wavetest::Format;
using Bytes = std::vector<std::uint8_t>;

MMRESULT Query(const Format& src, const Format& dst) {
  return acmStreamOpen(nullptr, nullptr, src.get(), dst.get(), nullptr, 0, 0,
                       ACM_STREAMOPENF_QUERY);
}

// An open stream with one prepared header over a source and a destination buffer.
struct Stream {
  Stream(const Format& src, const Format& dst, DWORD srcSize, DWORD dstSize)
      : source(srcSize), dest(dstSize) {
    EXPECT_EQ(acmStreamOpen(&handle, nullptr, src.get(), dst.get(), nullptr, 0, 0, 0), 0u);
    header.cbStruct = sizeof header;
    header.pbSrc = source.data();
    header.cbSrcLength = srcSize;
    header.pbDst = dest.data();
    header.cbDstLength = dstSize;
    EXPECT_EQ(acmStreamPrepareHeader(handle, &header, 0), 0u);
  }
  ~Stream() {
    acmStreamUnprepareHeader(handle, &header, 0);
    acmStreamClose(handle, 0);
  }
  // Converts `in` with `flags`; the destination bytes given.
  Bytes Convert(const Bytes& in, DWORD flags) {
    std::copy(in.begin(), in.end(), source.begin());
    header.cbSrcLength = static_cast<DWORD>(in.size());
    EXPECT_EQ(acmStreamConvert(handle, &header, flags), 0u);
    EXPECT_NE(header.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE, 0u);
    return Bytes(dest.begin(), dest.begin() + header.cbDstLengthUsed);
  }
  HACMSTREAM handle = nullptr;
  ACMSTREAMHEADER header;
  Bytes source;
  Bytes dest;
};

std::vector<std::int16_t> Samples(const Bytes& pcm) {
  std::vector<std::int16_t> s(pcm.size() / 2);
  std::memcpy(s.data(), pcm.data(), s.size() * 2);
  return s;
}

}  // namespace

TEST(AcmRoutines, OffersDecodingToPcmAndRefusesTheRest) {
  ASSERT_TRUE(ACMInstalled());
  EXPECT_GE(acmGetVersion() >> 16, 0x0200u);

  const Format ima = wavetest::Ima(1, 8000, 256);
  // The suggestion for a compressed source: 16-bit PCM at its channels and rate.
  Format suggestion = wavetest::MakeFormat(WAVE_FORMAT_PCM, 2, 44100, 8, 2);
  ASSERT_EQ(acmFormatSuggest(nullptr, ima.get(), suggestion.get(), sizeof(WAVEFORMATEX),
                             ACM_FORMATSUGGESTF_WFORMATTAG),
            0u);
  EXPECT_EQ(std::memcmp(suggestion.get(), wavetest::Pcm(16, 1, 8000).get(), 18), 0);
  // A decoder cannot change channels or rate on the way: such a suggestion is refused.
  suggestion->nChannels = 2;
  suggestion->nSamplesPerSec = 44100;
  EXPECT_EQ(acmFormatSuggest(nullptr, ima.get(), suggestion.get(), sizeof(WAVEFORMATEX),
                             ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC),
            ACMERR_NOTPOSSIBLE);
  // PCM keeps its depth unless the depth is asked for.
  Format pcm = wavetest::Pcm(8, 1, 8000);
  suggestion->nSamplesPerSec = 22050;
  ASSERT_EQ(acmFormatSuggest(nullptr, pcm.get(), suggestion.get(), sizeof(WAVEFORMATEX),
                             ACM_FORMATSUGGESTF_NSAMPLESPERSEC),
            0u);
  EXPECT_EQ(std::memcmp(suggestion.get(), wavetest::Pcm(8, 1, 22050).get(), 18), 0);
  pcm->nSamplesPerSec = 4000;
  EXPECT_EQ(acmFormatSuggest(nullptr, pcm.get(), suggestion.get(), sizeof(WAVEFORMATEX),
                             ACM_FORMATSUGGESTF_NSAMPLESPERSEC),
            ACMERR_NOTPOSSIBLE);

  EXPECT_EQ(Query(ima, wavetest::Pcm(16, 1, 8000)), 0u);
  EXPECT_EQ(Query(ima, wavetest::Pcm(8, 1, 8000)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(Query(wavetest::MsAdpcm(2, 22050, 1024), wavetest::Pcm(16, 2, 22050)), 0u);
  EXPECT_EQ(Query(wavetest::Pcm(16, 2, 44100), wavetest::Pcm(8, 1, 22050)), 0u);
  EXPECT_EQ(Query(wavetest::Pcm(16, 2, 44100), wavetest::Pcm(16, 2, 7999)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(Query(wavetest::Pcm(16, 2, 96000), wavetest::Pcm(16, 1, 8000)), 0u);
  EXPECT_EQ(Query(wavetest::Pcm(16, 3, 44100), wavetest::Pcm(16, 2, 44100)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(Query(wavetest::Pcm(24, 2, 44100), wavetest::Pcm(16, 2, 44100)), 0u);
  EXPECT_EQ(Query(wavetest::Extensible(24, 6, 48000, WAVE_FORMAT_PCM), wavetest::Pcm(16, 6, 48000)),
            0u);
  EXPECT_EQ(Query(wavetest::Extensible(32, 2, 48000, WAVE_FORMAT_IEEE_FLOAT),
                  wavetest::Pcm(16, 2, 48000)),
            0u);
  EXPECT_EQ(
      Query(wavetest::Extensible(16, 2, 48000, WAVE_FORMAT_ADPCM), wavetest::Pcm(16, 2, 48000)),
      ACMERR_NOTPOSSIBLE);
  // Around a compressed subformat the header decodes as the plain tag would.
  Format ima96 = wavetest::Extensible(4, 2, 96000, WAVE_FORMAT_IMA_ADPCM);
  ima96->nBlockAlign = 1024;
  EXPECT_EQ(Query(ima96, wavetest::Pcm(16, 2, 96000)), 0u);
  EXPECT_EQ(Query(wavetest::Extensible(8, 6, 8000, WAVE_FORMAT_MULAW), wavetest::Pcm(16, 6, 8000)),
            0u);
  EXPECT_EQ(Query(wavetest::Extensible(8, 6, 8000, WAVE_FORMAT_MULAW), wavetest::Pcm(16, 2, 8000)),
            ACMERR_NOTPOSSIBLE);
  Format shortExtensible = wavetest::Extensible(24, 2, 48000, WAVE_FORMAT_PCM);
  shortExtensible->cbSize = 2;
  EXPECT_EQ(Query(shortExtensible, wavetest::Pcm(16, 2, 48000)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(Query(wavetest::MakeFormat(0x0010, 1, 8000, 4, 256), wavetest::Pcm(16, 1, 8000)),
            ACMERR_NOTPOSSIBLE);
  // An IMA block that cannot hold its headers and whole words.
  EXPECT_EQ(Query(wavetest::Ima(2, 8000, 250), wavetest::Pcm(16, 2, 8000)), ACMERR_NOTPOSSIBLE);

  const Format dst = wavetest::Pcm(16, 1, 8000);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, ima.get(), dst.get(), nullptr, 0, 0,
                          ACM_STREAMOPENF_QUERY | 0x100),
            MMSYSERR_INVALFLAG);
  EXPECT_EQ(
      acmStreamOpen(nullptr, nullptr, ima.get(), nullptr, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
      MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, ima.get(), dst.get(), nullptr, 0, 0, 0),
            MMSYSERR_INVALPARAM);

  // Switched off for the process, the library answers like one that is not installed.
  setenv("TESSALINE_ACM", "none", 1);
  platform::ReloadAcm();
  EXPECT_FALSE(ACMInstalled());
  EXPECT_EQ(acmGetVersion(), 0u);
  EXPECT_EQ(Query(ima, dst), MMSYSERR_NODRIVER);
  EXPECT_EQ(acmFormatSuggest(nullptr, ima.get(), suggestion.get(), sizeof(WAVEFORMATEX), 0),
            MMSYSERR_NODRIVER);
  unsetenv("TESSALINE_ACM");
  platform::ReloadAcm();
  EXPECT_TRUE(ACMInstalled());
}

TEST(AcmRoutines, DecodesWholeBlocksWithTheReferenceArithmetic) {
  // IMA ADPCM: first sample 1000 at step index 0, then nibbles 7, 0, 7, 0 ... (low first).
  // Each difference is built from the step and its halves: 0 + 7 + 3 + 1 = 11, then 16 >> 3,
  // then 1 + 14 + 7 + 3, then 31 >> 3.
  const Format ima = wavetest::Ima(1, 8000, 256);
  Bytes block(256, 0x07);
  block[0] = 1000 & 0xFF;
  block[1] = 1000 >> 8;
  block[2] = 0;
  block[3] = 0;
  {
    Stream s(ima, wavetest::Pcm(16, 1, 8000), 512, 2020);
    DWORD size = 0;
    EXPECT_EQ(acmStreamSize(s.handle, 256, &size, ACM_STREAMSIZEF_SOURCE), 0u);
    EXPECT_EQ(size, 1010u);
    EXPECT_EQ(acmStreamSize(s.handle, 1010, &size, ACM_STREAMSIZEF_DESTINATION), 0u);
    EXPECT_EQ(size, 256u);
    // One and a half blocks: the half is left over.
    Bytes in = block;
    in.insert(in.end(), block.begin(), block.begin() + 128);
    const std::vector<std::int16_t> out = Samples(s.Convert(in, ACM_STREAMCONVERTF_BLOCKALIGN));
    EXPECT_EQ(s.header.cbSrcLengthUsed, 256u);
    ASSERT_EQ(out.size(), 505u);
    EXPECT_EQ((std::vector<std::int16_t>(out.begin(), out.begin() + 5)),
              (std::vector<std::int16_t>{1000, 1011, 1013, 1038, 1041}));

    // At the end of the source the partial block gives the samples it holds whole: the
    // header's and eight for every 4-byte word, the same as the block decoded whole; bytes
    // short of a word or of a header give nothing.
    struct Tail {
      std::size_t bytes, samples;
    };
    for (const Tail t : {Tail{128, 249}, Tail{130, 249}, Tail{4, 1}, Tail{3, 0}}) {
      SCOPED_TRACE(t.bytes);
      Bytes partial = block;
      partial.insert(partial.end(), block.begin(), block.begin() + t.bytes);
      const auto all =
          Samples(s.Convert(partial, ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_END));
      EXPECT_EQ(s.header.cbSrcLengthUsed, 256 + t.bytes);
      ASSERT_EQ(all.size(), 505 + t.samples);
      EXPECT_TRUE(std::equal(all.begin() + 505, all.end(), all.begin()));
    }

    // What does not fit the destination comes with the next calls.
    s.header.cbDstLength = 600;
    const Bytes first = s.Convert(block, ACM_STREAMCONVERTF_BLOCKALIGN);
    const Bytes rest = s.Convert({}, ACM_STREAMCONVERTF_BLOCKALIGN);
    EXPECT_EQ(first.size(), 600u);
    EXPECT_EQ(rest.size(), 410u);
    // Starting afresh drops what was still held.
    s.Convert(block, ACM_STREAMCONVERTF_BLOCKALIGN);
    EXPECT_EQ(s.Convert({}, ACM_STREAMCONVERTF_START).size(), 0u);

    // A header that is not prepared, or asks for more than it was prepared with, is refused.
    ACMSTREAMHEADER loose = s.header;
    loose.fdwStatus = 0;
    EXPECT_EQ(acmStreamConvert(s.handle, &loose, 0), ACMERR_UNPREPARED);
    s.header.cbSrcLength = 513;
    EXPECT_EQ(acmStreamConvert(s.handle, &s.header, 0), MMSYSERR_INVALPARAM);
#ifndef _WIN32
    // It is unprepared only with the lengths it was prepared with, as Windows'
    // own service requires (Wine's refuses only larger ones).
    s.header.cbSrcLength = 100;
    s.header.cbDstLength = 2020;
    EXPECT_EQ(acmStreamUnprepareHeader(s.handle, &s.header, 0), MMSYSERR_INVALPARAM);
    EXPECT_NE(s.header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED, 0u);
    s.header.cbSrcLength = 512;
    EXPECT_EQ(acmStreamUnprepareHeader(s.handle, &s.header, 0), MMSYSERR_NOERROR);
#endif
  }

  // Microsoft ADPCM predicts with an arithmetic shift: with coefficients 192 and 64 and a
  // last sample of -1, (-192) >> 8 is -1, where a division would give 0.
  const Format ms = wavetest::MsAdpcm(1, 8000, 256);
  Bytes msBlock(256, 0x00);
  msBlock[0] = 3;     // predictor: 192, 64
  msBlock[1] = 16;    // delta
  msBlock[3] = 0xFF;  // first sample -1
  msBlock[4] = 0xFF;
  msBlock[7] = 0x17;  // nibbles 1, then 7
  {
    Stream s(ms, wavetest::Pcm(16, 1, 8000), 256, 2000);
    const std::vector<std::int16_t> out =
        Samples(s.Convert(msBlock, ACM_STREAMCONVERTF_BLOCKALIGN));
    ASSERT_EQ(out.size(), 500u);
    // 0, -1, then code 1: -1 + 16, code 7: (15 * 192 + -1 * 64) >> 8 = 11, + 7 * 16 = 123.
    EXPECT_EQ((std::vector<std::int16_t>(out.begin(), out.begin() + 4)),
              (std::vector<std::int16_t>{0, -1, 15, 123}));
    // A partial last block: its two header samples and one for every nibble.
    const auto tail = Samples(s.Convert(Bytes(msBlock.begin(), msBlock.begin() + 100),
                                        ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_END));
    ASSERT_EQ(tail.size(), 188u);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), out.begin()));
    EXPECT_EQ(s.Convert(Bytes(msBlock.begin(), msBlock.begin() + 7), ACM_STREAMCONVERTF_END),
              (Bytes{0, 0, 0xFF, 0xFF}));
    EXPECT_EQ(s.Convert(Bytes(msBlock.begin(), msBlock.begin() + 6), ACM_STREAMCONVERTF_END).size(),
              0u);
    EXPECT_EQ(s.header.cbSrcLengthUsed, 6u);
    // A predictor the header has no coefficients for: the block gives nothing, whole or not.
    msBlock[0] = 7;
    EXPECT_EQ(s.Convert(msBlock, ACM_STREAMCONVERTF_BLOCKALIGN).size(), 0u);
    EXPECT_EQ(s.header.cbSrcLengthUsed, 256u);
    EXPECT_EQ(
        s.Convert(Bytes(msBlock.begin(), msBlock.begin() + 100), ACM_STREAMCONVERTF_END).size(),
        0u);
  }
  {
    // Stereo: both channels' headers, then the nibbles alternate between the channels.
    Stream s(wavetest::MsAdpcm(2, 8000, 512), wavetest::Pcm(16, 2, 8000), 512, 4000);
    Bytes head = {0, 0, 16, 0, 16, 0, 5, 0, 6, 0, 7, 0, 8, 0, 0x1F};
    const auto out = Samples(s.Convert(head, ACM_STREAMCONVERTF_END));
    // Older samples first (7, 8), then 5, 6; then code 1 on the left, -1 on the right.
    EXPECT_EQ(out, (std::vector<std::int16_t>{7, 8, 5, 6, 21, -10}));
  }
}

TEST(AcmRoutines, WidensNarrowsAndResamplesPcm) {
  // 24-bit samples round to 16 bits, halves upwards, and hold at full scale.
  {
    const Format x24 = wavetest::Extensible(24, 1, 48000, WAVE_FORMAT_PCM);
    Stream s(x24, wavetest::Pcm(16, 1, 48000), 18, 12);
    const Bytes in = {0xFF, 0xFF, 0x7F, 0x80, 0xFF, 0x7F, 0x80, 0x00, 0x00,
                      0x7F, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x00, 0x40, 0x00};
    EXPECT_EQ(Samples(s.Convert(in, 0)),
              (std::vector<std::int16_t>{32767, 32767, 1, -1, -32768, 64}));
  }
  {
    const Format f32 = wavetest::MakeFormat(WAVE_FORMAT_IEEE_FLOAT, 1, 44100, 32, 4);
    Stream s(f32, wavetest::Pcm(16, 1, 44100), 20, 10);
    const float values[5] = {0.5f, -1.0f, 2.0f, std::numeric_limits<float>::quiet_NaN(), -0.25f};
    Bytes in(20);
    std::memcpy(in.data(), values, 20);
    EXPECT_EQ(Samples(s.Convert(in, 0)),
              (std::vector<std::int16_t>{16384, -32768, 32767, 0, -8192}));
  }
  // 8-bit mono to 16-bit stereo: the channel is copied, the depth widened exactly.
  {
    Stream s(wavetest::Pcm(8, 1, 8000), wavetest::Pcm(16, 2, 8000), 3, 4096);
    const Bytes in = {0x80, 0xFF, 0x00};
    Bytes out = s.Convert(in, ACM_STREAMCONVERTF_BLOCKALIGN);
    const Bytes tail = s.Convert({}, ACM_STREAMCONVERTF_END);
    out.insert(out.end(), tail.begin(), tail.end());
    EXPECT_EQ(Samples(out), (std::vector<std::int16_t>{0, 0, 32512, 32512, -32768, -32768}));
  }
  // Doubling the rate doubles the frames once the end has been flushed; a new start gives
  // the same again.
  {
    const DWORD frames = 1000;
    Stream s(wavetest::Pcm(16, 1, 8000), wavetest::Pcm(16, 1, 16000), frames * 2, 8192);
    Bytes in(frames * 2);
    for (DWORD i = 0; i < frames; ++i) {
      const auto v = static_cast<std::int16_t>(8000 * std::sin(i * 0.3));
      std::memcpy(in.data() + 2 * i, &v, 2);
    }
    const Bytes once = s.Convert(in, ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_END);
    EXPECT_EQ(once.size(), frames * 4);
    EXPECT_EQ(s.Convert(in, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END), once);
  }
}

namespace {

// The probe's report (tests/support/acm_library_probe.cpp) when run from `program`.
std::string Probe(const std::filesystem::path& program) {
  std::string out;
  FILE* pipe = popen(("'" + program.string() + "'").c_str(), "r");
  if (pipe == nullptr) return "cannot run " + program.string();
  char chunk[256];
  while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) out += chunk;
  const int status = pclose(pipe);
  if (status != 0) out += "exit status " + std::to_string(status) + "\n";
  return out;
}

}  // namespace

TEST(AcmRoutines, LoadsTheCodecLibrariesOnlyWhenAConversionNeedsThem) {
  // In the build tree the module is found. PCM of other depths and ADPCM map neither it nor
  // the codec libraries; the first A-law decode maps both, and the rest reuses them.
  const std::string builtIn =
      "installed=1 version=0x200\n"
      "start open=0 out=0 module=0 codecs=0 resampler=0\n"
      "pcm24 open=0 out=200 module=0 codecs=0 resampler=0\n"
      "ima open=0 out=130 module=0 codecs=0 resampler=0\n"
      "alaw open=0 out=200 module=1 codecs=1 resampler=1\n"
      "suggest-alaw open=0 out=0 module=1 codecs=1 resampler=1\n"
      "resample open=0 out=4000 module=1 codecs=1 resampler=1\n";
  EXPECT_EQ(Probe(TESSALINE_ACM_PROBE), builtIn);

  // A program with no module where it looks: the conversions of the module are refused as
  // not offered, by suggestion and open alike; the library is still installed and converts
  // the rest.
  char folderName[] = "/tmp/tessaline-acm-probe.XXXXXX";
  ASSERT_NE(mkdtemp(folderName), nullptr);
  const std::filesystem::path folder = folderName;
  const std::filesystem::path program = folder / "bin" / "acm_library_probe";
  std::filesystem::create_directories(program.parent_path());
  std::filesystem::copy_file(TESSALINE_ACM_PROBE, program);
  const std::string without =
      "installed=1 version=0x200\n"
      "start open=0 out=0 module=0 codecs=0 resampler=0\n"
      "pcm24 open=0 out=200 module=0 codecs=0 resampler=0\n"
      "ima open=0 out=130 module=0 codecs=0 resampler=0\n"
      "alaw open=512 out=0 module=0 codecs=0 resampler=0\n"
      "suggest-alaw open=512 out=0 module=0 codecs=0 resampler=0\n"
      "resample open=512 out=0 module=0 codecs=0 resampler=0\n";
  EXPECT_EQ(Probe(program), without);

  // A damaged module beside the program is refused the same way.
  const std::filesystem::path damaged = program.parent_path() / TESSALINE_CODEC_MODULE;
  std::filesystem::create_directories(damaged.parent_path());
  std::ofstream(damaged) << "not a shared object\n";
  EXPECT_EQ(Probe(program), without);
  std::filesystem::remove_all(folder);
}
