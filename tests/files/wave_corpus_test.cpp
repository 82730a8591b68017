// Replays the fuzzing corpus (tests/fixtures/wave_corpus) through the wave routines, so that
// inputs that once broke them are checked on every build, without the fuzzing compiler.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "files/wave_io.h"
#include "platform/acm/msacm.h"

namespace {

namespace fs = std::filesystem;

fs::path CorpusDir() {
  return fs::path(__FILE__).parent_path().parent_path() / "fixtures" / "wave_corpus";
}

std::vector<char> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Checks an opened block's counters and reads its whole play window.
void CheckBlock(PWaveIOBlock block, std::uint64_t sourceSize, const std::string& what) {
  SCOPED_TRACE(what);
  const WAVEFORMATEX& f = block->Format;
  ASSERT_NE(f.nBlockAlign, 0);
  EXPECT_NE(f.nSamplesPerSec, 0u);
  EXPECT_NE(f.nAvgBytesPerSec, 0u);
  // ADPCM keeps a partial last block, also inside the extensible header,
  // whose coding the block's format record does not carry.
  EXPECT_TRUE(WaveKeepsPartialBlock(&f) || f.wFormatTag == WAVE_FORMAT_EXTENSIBLE ||
              block->DataBytes % f.nBlockAlign == 0);
  EXPECT_LE(std::uint64_t{block->DataOffset} + block->DataBytes, sourceSize);
  EXPECT_EQ(block->LastSample, block->DataSamples);
  ASSERT_EQ(WaveReopen(block), 0);
  std::vector<char> buffer(1000);
  std::uint64_t total = 0;
  for (int i = 0; i < 100000; ++i) {
    const std::int32_t got = WaveRead(block, buffer.data(), 1000);
    if (got <= 0) break;
    total += static_cast<std::uint64_t>(got);
  }
  EXPECT_EQ(WaveRead(block, buffer.data(), 1000), -1);
  // PCM reads its data whole; a compressed header whose rates disagree with its block size
  // may cover less of it with its sample count, never more.
  if (f.wFormatTag == WAVE_FORMAT_PCM) {
    EXPECT_EQ(total, block->DataBytes);
  } else {
    EXPECT_LE(total, block->DataBytes);
  }
  EXPECT_EQ(WaveSeek(block, -1), WIOERR_FILEERROR);
  EXPECT_EQ(WaveFinish(block), 0);
}

}  // namespace

TEST(WaveCorpus, EveryFileOpensOrFailsCleanlyFromFileAndMemory) {
  // The seeds and what opening them gives; inputs added by fuzzing only have to behave.
  const std::map<std::string, int> expected = {
      {"pcm16_stereo.wav", 0},       {"pcm8_mono_odd.wav", 0},     {"info_disp.wav", 0},
      {"extensible_fact.wav", 0},    {"data_size_too_big.wav", 0}, {"riff_size_too_small.wav", 0},
      {"truncated.wav", 0},          {"two_fmt_two_data.wav", 0},  {"huge_list.wav", 0},
      {"zero_block_align.wav", 106}, {"no_data.wav", 106},         {"no_fmt.wav", 101},
      {"huge_fmt.wav", 106},         {"not_wave.wav", 106},        {"rate_over_31_bits.wav", 106},
      {"interrupted.wav", 0},        {"two_lists_no_pad.wav", 0},  {"empty_data_then_list.wav", 0},
  };
  int files = 0;
  int seeds = 0;
  for (const auto& entry : fs::directory_iterator(CorpusDir())) {
    if (!entry.is_regular_file()) continue;
    ++files;
    const std::string name = entry.path().filename().string();
    const std::vector<char> image = ReadAll(entry.path());

    PWaveIOBlock fromFile = nullptr;
    const int fileResult = WaveOpen(fromFile, entry.path().string().c_str(), FOURCC_WAVE, wioRead);
    PWaveIOBlock fromMemory = nullptr;
    const int memoryResult =
        WaveOpenMemory(fromMemory, image.data(), static_cast<std::int32_t>(image.size()));
    EXPECT_EQ(fileResult, memoryResult) << name;
    if (auto it = expected.find(name); it != expected.end()) {
      ++seeds;
      EXPECT_EQ(memoryResult, it->second) << name;
    }
    for (PWaveIOBlock* block : {&fromFile, &fromMemory}) {
      if (*block == nullptr) continue;
      CheckBlock(*block, image.size(), name);
      WaveFree(*block);
    }
    if (fileResult == 0 && memoryResult == 0) continue;
    EXPECT_EQ(fromFile, nullptr) << name;
    EXPECT_EQ(fromMemory, nullptr) << name;
  }
  EXPECT_EQ(seeds, static_cast<int>(expected.size()));
  EXPECT_GE(files, seeds);
}

TEST(WaveCorpus, SeedsReadAsWritten) {
  PWaveIOBlock b = nullptr;
  ASSERT_EQ(WaveOpen(b, (CorpusDir() / "info_disp.wav").string().c_str(), FOURCC_WAVE, wioRead), 0);
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 14), "Tone");  // INAM
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 3), "abc");    // ICMT
  ASSERT_NE(b->DispList->First, nullptr);
  EXPECT_EQ(b->DispList->First->Type, CF_TEXT);
  EXPECT_STREQ(static_cast<const char*>(b->DispList->First->Data), "hello");
  EXPECT_EQ(b->DataSamples, 20);
  WaveFree(b);
  // The first "fmt " and "data" chunks count; the second pair ends the walk.
  ASSERT_EQ(
      WaveOpen(b, (CorpusDir() / "two_fmt_two_data.wav").string().c_str(), FOURCC_WAVE, wioRead),
      0);
  EXPECT_EQ(b->Format.nChannels, 1);
  EXPECT_EQ(b->DataBytes, 10u);
  WaveFree(b);
  // Sizes never written: the data runs to the end of the file.
  ASSERT_EQ(WaveOpen(b, (CorpusDir() / "interrupted.wav").string().c_str(), FOURCC_WAVE, wioRead),
            0);
  EXPECT_EQ(b->DataBytes, 40u);
  WaveFree(b);
  // Two lists merge; a tag without its pad byte hides nothing.
  ASSERT_EQ(
      WaveOpen(b, (CorpusDir() / "two_lists_no_pad.wav").string().c_str(), FOURCC_WAVE, wioRead),
      0);
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 14), "New name");  // INAM
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 1), "Band");       // IART
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 4), "(c)");        // ICOP
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 3), "abc");        // ICMT
  WaveFree(b);
  ASSERT_EQ(WaveOpen(b, (CorpusDir() / "empty_data_then_list.wav").string().c_str(), FOURCC_WAVE,
                     wioRead),
            0);
  EXPECT_EQ(b->DataBytes, 0u);
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 14), "x");
  WaveFree(b);
}
