#include "files/wave_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "tests/files/temp_files.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<char>;

Bytes Pattern(std::size_t n, int seed = 1) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<char>(i * 11 + seed);
  return b;
}

void WriteWave(const std::string& path, int bits, int channels, const Bytes& data) {
  WAVEFORMATEX f{};
  BuildPCMFormat(f, bits, channels, 8000);
  PWaveIOBlock block = nullptr;
  ASSERT_EQ(WaveCreate(block, &f), 0);
  ASSERT_EQ(WaveCreateFile(block, path.c_str()), 0);
  ASSERT_EQ(WaveWrite(block, data.data(), static_cast<std::int32_t>(data.size())),
            static_cast<std::int32_t>(data.size()));
  ASSERT_EQ(WaveFinish(block), 0);
  WaveFree(block);
}

// A stream buffer block: header, then `size` data bytes.
struct Buffer {
  explicit Buffer(std::size_t size) : block(kWaveHdrSize + size) {
    hdr = new (block.data()) TMMWaveHdr();
    hdr->lpData = WaveHdrData(hdr);
    hdr->dwBufferLength = static_cast<DWORD>(size);
  }
  Bytes Data() const { return Bytes(hdr->lpData, hdr->lpData + hdr->dwBytesRecorded); }
  std::vector<char> block;
  TMMWaveHdr* hdr;
};

using WaveFileTest = TempFilesTest;

}  // namespace

TEST_F(WaveFileTest, SourceTakesTheWavesFormatAndFillsBuffers) {
  const std::string path = Path("source");
  const Bytes data = Pattern(1000);  // 8-bit mono
  WriteWave(path, 8, 1, data);
  TMMWaveFile file(nullptr);
  std::vector<std::string> events;
  file.OnChange = [&](TComponent*) { events.push_back("change"); };
  file.OnChanged = [&](TComponent*) { events.push_back("changed"); };
  file.OnOpen = [&](TComponent*) { events.push_back("open"); };
  file.OnClose = [&](TComponent*) { events.push_back("close"); };
  file.GetWave().SetFileName(path);
  EXPECT_EQ(events, (std::vector<std::string>{"change", "changed"}));
  ASSERT_NE(file.GetPWaveFormat(), nullptr);
  EXPECT_EQ(file.GetPWaveFormat()->wBitsPerSample, 8);
  EXPECT_EQ(file.SilenceByte(), 128);
  EXPECT_EQ(file.GetBlockAlign(), 1);
  EXPECT_FALSE(file.IsEmpty());
  EXPECT_EQ(file.GetLength(), 125);
  EXPECT_EQ(TMMCustomWaveFile::GetFilter(), "Wave Files(*.wav)|*.wav");
  EXPECT_TRUE(TMMCustomWaveFile::CanLoad(path, 0, 0, 0));

  // Not started yet: silence of the format's kind, and more to come.
  Buffer buffer(300);
  bool more = false;
  file.BufferLoad(buffer.hdr, more);
  EXPECT_TRUE(more);
  EXPECT_EQ(buffer.Data(), Bytes(300, static_cast<char>(128)));

  file.Opened();
  file.Started();
  EXPECT_EQ(events.back(), "open");
  Bytes played;
  int loads = 0;
  for (more = true; more && loads < 100; ++loads) {
    more = false;
    file.BufferLoad(buffer.hdr, more);
    const Bytes got = buffer.Data();
    played.insert(played.end(), got.begin(), got.end());
  }
  EXPECT_EQ(loads, 4);  // 300 + 300 + 300 + 100
  EXPECT_EQ(played, data);

  // Disabled: silence again.
  file.SetEnabled(false);
  more = false;
  file.BufferLoad(buffer.hdr, more);
  EXPECT_TRUE(more);
  EXPECT_EQ(buffer.hdr->dwBytesRecorded, 300u);
  file.Closed();
  EXPECT_EQ(events.back(), "close");
  EXPECT_FALSE(file.GetWave().IsOpened());

  // Published properties by name.
  EXPECT_NE(file.FindProperty("Output"), nullptr);
  EXPECT_NE(file.FindProperty("OverwriteExisting"), nullptr);
  EXPECT_NE(file.FindProperty("OnLooping"), nullptr);
}

TEST_F(WaveFileTest, LoopingRestartsAsOftenAsTheBufferAsks) {
  const std::string path = Path("loop");
  const Bytes data = Pattern(200, 5);  // 16-bit mono, 100 frames
  WriteWave(path, 16, 1, data);
  TMMWaveFile file(nullptr);
  int loops = 0;
  file.OnLooping = [&](TComponent*) { ++loops; };
  file.GetWave().SetFileName(path);
  EXPECT_EQ(file.SilenceByte(), 0);
  file.Opened();
  file.Started();
  Buffer buffer(200);
  buffer.hdr->bLooping = -1;
  buffer.hdr->dwLoopCount = 2;
  buffer.hdr->dwLoopsLeft = 2;
  int loads = 0;
  for (bool more = true; more && loads < 50; ++loads) {
    more = false;
    buffer.hdr->bLoopDone = 0;
    file.BufferLoad(buffer.hdr, more);
    EXPECT_EQ(buffer.Data(), data) << loads;
    if (more) {
      EXPECT_EQ(buffer.hdr->bLoopDone, -1);
    }
  }
  // Played once and looped twice; the third end stops.
  EXPECT_EQ(loops, 2);
  EXPECT_EQ(loads, 3);
  file.Closed();
}

TEST_F(WaveFileTest, RecorderWritesWhatPassesAndNothingElse) {
  const std::string sourcePath = Path("upstream");
  WriteWave(sourcePath, 16, 2, Pattern(16));
  TMMWaveFile source(nullptr);
  source.GetWave().SetFileName(sourcePath);

  const std::string path = Path("recorded");
  TMMWaveFile recorder(nullptr);
  recorder.GetWave().SetFileMustExist(false);
  recorder.GetWave().SetFileName(path);
  recorder.SetInput(&source);
  ASSERT_EQ(recorder.GetInput(), &source);
  recorder.Opened();
  const Bytes first = Pattern(400, 3);
  Buffer buffer(400);
  std::copy(first.begin(), first.end(), buffer.hdr->lpData);
  buffer.hdr->dwBytesRecorded = 400;
  recorder.BufferReady(buffer.hdr);
  recorder.Closed();

  PWaveIOBlock block = nullptr;
  ASSERT_EQ(WaveOpen(block, path.c_str(), FOURCC_WAVE, wioRead), 0);
  EXPECT_EQ(block->Format.nChannels, 2);
  EXPECT_EQ(block->DataBytes, 400u);
  WaveFree(block);

  // Appending instead of overwriting.
  recorder.SetOverwriteExisting(false);
  recorder.GetWave().SetFileName(path);
  recorder.Opened();
  recorder.BufferReady(buffer.hdr);
  recorder.Closed();
  TMMWave check;
  check.SetFileName(path);
  EXPECT_EQ(check.GetDataSize(), 200);
  check.Open();
  Bytes all(800);
  EXPECT_EQ(check.Read(all.data(), 800), 800);
  Bytes twice = first;
  twice.insert(twice.end(), first.begin(), first.end());
  EXPECT_EQ(all, twice);
  check.Clear();

  // Nothing recorded: an empty "data" chunk in a finished file.
  const std::string emptyPath = Path("empty");
  TMMWaveFile quiet(nullptr);
  quiet.GetWave().SetFileMustExist(false);
  quiet.GetWave().SetFileName(emptyPath);
  quiet.SetInput(&source);
  quiet.Opened();
  quiet.Closed();
  ASSERT_EQ(WaveOpen(block, emptyPath.c_str(), FOURCC_WAVE, wioRead), 0);
  EXPECT_EQ(block->DataBytes, 0u);
  EXPECT_EQ(block->FileSize, 44u);
  WaveFree(block);
  Bytes header(44);
  std::ifstream(emptyPath, std::ios::binary).read(reinterpret_cast<char*>(header.data()), 44);
  EXPECT_EQ(header[4], 36);  // the RIFF size covers "WAVE", "fmt " and "data"
  EXPECT_EQ(header[40], 0);  // the "data" size
}
