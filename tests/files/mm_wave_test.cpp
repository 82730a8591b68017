#include "files/mm_wave.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/files/temp_files.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<char>;

Bytes Pattern(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<char>(i * 13 + 1);
  return b;
}

WAVEFORMATEX Pcm(int bits, int channels, std::uint32_t rate) {
  WAVEFORMATEX f{};
  BuildPCMFormat(f, bits, channels, rate);
  return f;
}

// A wave file written by the routines, then its bytes.
Bytes WriteWave(const std::string& path, const WAVEFORMATEX& format, const Bytes& data) {
  PWaveIOBlock block = nullptr;
  EXPECT_EQ(WaveCreate(block, &format), 0);
  EXPECT_EQ(WaveCreateFile(block, path.c_str()), 0);
  EXPECT_EQ(WaveWrite(block, data.data(), static_cast<std::int32_t>(data.size())),
            static_cast<std::int32_t>(data.size()));
  EXPECT_EQ(WaveFinish(block), 0);
  WaveFree(block);
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void LoadImage(TMMWave& wave, const Bytes& image) {
  std::istringstream in(std::string(image.begin(), image.end()));
  wave.LoadFromStream(in);
}

Bytes ReadAll(TMMWave& wave, std::int32_t piece) {
  Bytes out;
  Bytes buffer(static_cast<std::size_t>(piece));
  for (int i = 0; i < 100000; ++i) {
    const std::int32_t got = wave.Read(buffer.data(), piece);
    if (got <= 0) break;
    out.insert(out.end(), buffer.begin(), buffer.begin() + got);
  }
  return out;
}

template <class F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const EMMWaveError& e) {
    return e.what();
  }
  return "(no error)";
}

struct CountingObserver : TMMWaveObserver {
  int count = 0;
  void WaveChanged(TMMWave*) override { ++count; }
};

using MMWaveTest = TempFilesTest;

}  // namespace

TEST_F(MMWaveTest, EmptyWaveHasTheDefaults) {
  TMMWave wave;
  EXPECT_EQ(wave.GetTimeFormat(), tfSample);
  EXPECT_TRUE(wave.GetFileMustExist());
  EXPECT_EQ(wave.GetIOBufferSize(), 32768);
  EXPECT_EQ(wave.GetBitLength(), 0);
  EXPECT_EQ(wave.GetFormatTag(), 0);
  EXPECT_EQ(wave.GetFormatString(), "Unknown");
  EXPECT_EQ(wave.GetSampleRate(), 11025);
  EXPECT_EQ(wave.GetFileSize(), 0);
  EXPECT_EQ(wave.GetDataSize(), 0);
  EXPECT_EQ(wave.GetPosition(), -1);
  EXPECT_EQ(wave.GetMode(), mMono);
  char buffer[8];
  EXPECT_EQ(wave.Read(buffer, 8), -1);
  wave.Open();  // nothing without a block
  EXPECT_FALSE(wave.IsOpened());
  wave.SetIOBufferSize(100);
  EXPECT_EQ(wave.GetIOBufferSize(), 8192);
}

TEST_F(MMWaveTest, MemoryWaveReadsWhatWasWrittenInEveryTimeFormat) {
  const Bytes data = Pattern(4000);  // 1000 frames of 16-bit stereo
  const Bytes image = WriteWave(Path("memory"), Pcm(16, 2, 8000), data);
  TMMWave wave(true);
  LoadImage(wave, image);
  EXPECT_EQ(wave.GetBitLength(), 16);
  EXPECT_EQ(wave.GetMode(), mStereo);
  EXPECT_EQ(wave.GetFormatTag(), 1);
  EXPECT_EQ(wave.GetFormatString(), "PCM");
  EXPECT_EQ(wave.GetSampleRate(), 8000);
  EXPECT_EQ(wave.GetFileSize(), static_cast<std::int32_t>(image.size()));
  EXPECT_EQ(wave.GetDataSize(), 1000);
  EXPECT_EQ(wave.GetLength(), 1000);
  wave.SetTimeFormat(tfMillisecond);
  EXPECT_EQ(wave.GetDataSize(), 125);
  wave.SetTimeFormat(tfByte);
  EXPECT_EQ(wave.GetDataSize(), 4000);
  // Read-only properties ignore what they are given.
  wave.SetSampleRate(1);
  wave.SetDataSize(1);
  EXPECT_EQ(wave.GetSampleRate(), 8000);
  EXPECT_EQ(wave.GetDataSize(), 4000);

  wave.SetTimeFormat(tfSample);
  wave.Open();
  EXPECT_TRUE(wave.IsOpened());
  EXPECT_EQ(ReadAll(wave, 333), data);
  EXPECT_EQ(wave.GetPosition(), 1000);

  // Seeking in milliseconds: 50 ms is frame 400.
  wave.SetTimeFormat(tfMillisecond);
  wave.Seek(50);
  EXPECT_EQ(wave.GetPosition(), 50);
  EXPECT_EQ(ReadAll(wave, 1000), Bytes(data.begin() + 1600, data.end()));
  // Beyond the end: at the end, nothing more to read.
  wave.SetTimeFormat(tfSample);
  wave.Seek(5000);
  EXPECT_EQ(wave.GetPosition(), 1000);
  char buffer[16];
  EXPECT_EQ(wave.Read(buffer, 16), -1);
  wave.Seek(-20);
  EXPECT_EQ(wave.GetPosition(), 0);
  EXPECT_EQ(wave.Read(buffer, 16), 16);
  EXPECT_EQ(Bytes(buffer, buffer + 16), Bytes(data.begin(), data.begin() + 16));

  // Closing and opening again starts where the position says.
  wave.Close();
  EXPECT_FALSE(wave.IsOpened());
  EXPECT_EQ(wave.GetPosition(), 0);
  wave.Seek(999);
  wave.Open();
  EXPECT_EQ(ReadAll(wave, 64), Bytes(data.end() - 4, data.end()));

  std::ostringstream saved;
  wave.SaveToStream(saved);
  EXPECT_EQ(saved.str(), std::string(image.begin(), image.end()));
}

TEST_F(MMWaveTest, ReadingPastTheRealEndGivesFourZeroBytesOnceThenMinusOne) {
  const std::string path = Path("short");
  const Bytes data = Pattern(800);  // 400 frames of 16-bit mono
  WriteWave(path, Pcm(16, 1, 22050), data);
  TMMWave wave;
  wave.SetFileName(path);
  ASSERT_EQ(wave.GetDataSize(), 400);
  // The file loses its last 300 bytes after it was named.
  fs::resize_file(path, fs::file_size(path) - 300);
  wave.Open();
  // The 500 bytes there are, then the 4-byte end marker, then nothing.
  Bytes expected(data.begin(), data.begin() + 500);
  expected.insert(expected.end(), 4, 0);
  EXPECT_EQ(ReadAll(wave, 128), expected);
  Bytes buffer(16, 'x');
  EXPECT_EQ(wave.Read(buffer.data(), 16), -1);
  EXPECT_EQ(wave.GetPosition(), 400);

  // The marker itself, seen directly.
  wave.Seek(0);
  Bytes all(500);
  EXPECT_EQ(wave.Read(all.data(), 500), 500);
  Bytes marker(16, 'x');
  EXPECT_EQ(wave.Read(marker.data(), 16), 4);
  EXPECT_EQ(Bytes(marker.begin(), marker.begin() + 4), Bytes(4, 0));
  EXPECT_EQ(marker[4], 'x');
  EXPECT_EQ(wave.GetPosition(), 400);
  EXPECT_EQ(wave.Read(marker.data(), 16), -1);
  // A buffer smaller than the marker is not overrun: frame 250 is where the bytes end.
  wave.Seek(250);
  char two[3] = {'x', 'x', 'x'};
  EXPECT_EQ(wave.Read(two, 2), 2);
  EXPECT_EQ(two[0], 0);
  EXPECT_EQ(two[1], 0);
  EXPECT_EQ(two[2], 'x');
  EXPECT_EQ(wave.Read(two, 2), -1);
}

TEST_F(MMWaveTest, NamingFilesMissingInvalidAndUnchanged) {
  TMMWave wave;
  int changes = 0;
  wave.OnChange = [&](TMMWave*) { ++changes; };
  const std::string missing = Path("missing");
  // A missing file must exist by default.
  EXPECT_EQ(ErrorOf([&] { wave.SetFileName(missing); }), "Error reading wave file");
  EXPECT_EQ(changes, 0);
  // Allowed to be missing: named, no data.
  wave.SetFileMustExist(false);
  wave.SetFileName(missing);
  EXPECT_EQ(wave.GetFileName(), missing);
  EXPECT_EQ(wave.GetDataSize(), 0);
  EXPECT_EQ(wave.GetPWaveFormat(), nullptr);
  EXPECT_EQ(wave.GetPosition(), -1);
  EXPECT_EQ(changes, 1);

  // A real file replaces it; naming it again with the same size changes nothing.
  const std::string good = Path("good");
  WriteWave(good, Pcm(8, 1, 11025), Pattern(100));
  wave.SetFileName(good);
  EXPECT_EQ(wave.GetDataSize(), 100);
  EXPECT_EQ(wave.GetFileName(), good);
  EXPECT_EQ(changes, 2);
  wave.SetFileName(good);
  EXPECT_EQ(changes, 2);
  // A relative name is taken as a full path.
  const fs::path cwd = fs::current_path();
  fs::current_path(fs::path(good).parent_path());
  wave.SetFileName(fs::path(good).filename().string());
  fs::current_path(cwd);
  EXPECT_EQ(wave.GetFileName(), good);
  EXPECT_EQ(changes, 2);

  // An existing file that is no wave: refused, and the old contents stay.
  const std::string junk = Path("junk");
  std::ofstream(junk) << "RIFF but not really a wave file";
  EXPECT_EQ(ErrorOf([&] { wave.SetFileName(junk); }), "Invalid wave file...");
  EXPECT_EQ(wave.GetFileName(), good);
  EXPECT_EQ(wave.GetDataSize(), 100);
  // The file vanishes before it is opened.
  fs::remove(good);
  EXPECT_EQ(ErrorOf([&] { wave.Open(); }), "Unable to open wave file");
  EXPECT_FALSE(wave.IsOpened());
  // An empty name clears the wave.
  wave.SetFileName("");
  EXPECT_EQ(wave.GetFileName(), "");
  EXPECT_EQ(wave.GetPWaveFormat(), nullptr);
  EXPECT_EQ(changes, 3);

  // A memory wave loads a named file's bytes; a bad image keeps the old one.
  WriteWave(good, Pcm(16, 2, 44100), Pattern(40));
  TMMWave memory(true);
  memory.SetFileName(good);
  EXPECT_EQ(memory.GetDataSize(), 10);
  EXPECT_EQ(ErrorOf([&] { memory.SetFileName(junk); }), "Invalid wave file...");
  EXPECT_EQ(ErrorOf([&] { memory.SetFileName(missing); }), "Error reading wave file");
  EXPECT_EQ(ErrorOf([&] {
              LoadImage(memory, Bytes{'R', 'I', 'F', 'F'});
            }),
            "Error reading wave file");
  EXPECT_EQ(memory.GetDataSize(), 10);
}

TEST_F(MMWaveTest, CreateFileWriteAndClose) {
  const std::string path = Path("created");
  std::ofstream(path) << "old contents to be replaced";
  TMMWave wave;
  CountingObserver observer;
  wave.AddObserver(&observer);
  const WAVEFORMATEX format = Pcm(16, 2, 48000);
  wave.CreateFile(path, &format);
  EXPECT_TRUE(wave.IsOpened());
  EXPECT_EQ(wave.GetFileName(), path);
  EXPECT_EQ(observer.count, 1);
  const Bytes data = Pattern(4 * 300);
  EXPECT_EQ(wave.Write(data.data(), 1000), 1000);
  EXPECT_EQ(wave.Write(data.data() + 1000, 200), 200);
  EXPECT_EQ(wave.GetDataSize(), 300);
  wave.Close();
  EXPECT_EQ(observer.count, 2);
  EXPECT_EQ(wave.GetLength(), 300);

  // What was written reads back through another wave.
  TMMWave reader;
  reader.SetFileName(path);
  EXPECT_EQ(reader.GetSampleRate(), 48000);
  EXPECT_EQ(reader.GetDataSize(), 300);
  reader.Open();
  EXPECT_EQ(ReadAll(reader, 512), data);

  // Names of up to 260 characters.
  const fs::path dir = fs::temp_directory_path() / ("tessaline_long_" + std::to_string(::getpid()));
  const std::string stem = (dir / std::string(120, 'd') / "").string();
  ASSERT_LT(stem.size(), 200u);
  const std::string longest = stem + std::string(256 - stem.size(), 'f') + ".wav";
  ASSERT_EQ(longest.size(), 260u);
  fs::create_directories(stem);
  TMMWave longName;
  longName.CreateFile(longest, &format);
  EXPECT_EQ(longName.Write(data.data(), 40), 40);
  longName.Close();
  reader.SetFileName(longest);
  EXPECT_EQ(reader.GetFileName(), longest);
  EXPECT_EQ(reader.GetDataSize(), 10);
  EXPECT_EQ(ErrorOf([&] { longName.CreateFile(longest + "x", &format); }),
            "Unable to create wave file");
  EXPECT_FALSE(fs::exists(longest + "x"));
  fs::remove_all(dir);

  // Failures.
  EXPECT_EQ(ErrorOf([&] { wave.CreateFile("/nonexistent-dir/x.wav", &format); }),
            "Unable to create wave file");
  EXPECT_FALSE(fs::exists("/nonexistent-dir/x.wav"));
  EXPECT_EQ(ErrorOf([&] { wave.CreateFile(Path("noformat"), nullptr); }),
            "Unable to create wave file");
  TMMWave memory(true);
  EXPECT_EQ(ErrorOf([&] { memory.CreateFile(Path("memory"), &format); }),
            "Can't write to MemoryWave");
  EXPECT_EQ(ErrorOf([&] { memory.Write(data.data(), 4); }), "Can't write to MemoryWave");
  EXPECT_FALSE(fs::exists(TempPath("memory")));
  wave.RemoveObserver(&observer);
}

TEST_F(MMWaveTest, AssignTakesTheSoundAndAnnouncesOnce) {
  const std::string path = Path("assign");
  const Bytes image = WriteWave(path, Pcm(8, 2, 22050), Pattern(200));
  TMMWave source;
  source.SetFileMustExist(false);
  source.SetFileName(path);
  source.SetTimeFormat(tfByte);
  source.SetIOBufferSize(65536);
  source.Seek(50);

  TMMWave copy;
  CountingObserver observer;
  copy.AddObserver(&observer);
  int changes = 0;
  copy.OnChange = [&](TMMWave*) { ++changes; };
  copy.Assign(&source);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(observer.count, 1);
  EXPECT_EQ(copy.GetFileName(), path);
  EXPECT_FALSE(copy.GetFileMustExist());
  EXPECT_EQ(copy.GetTimeFormat(), tfByte);
  EXPECT_EQ(copy.GetIOBufferSize(), 65536);
  EXPECT_EQ(copy.GetPosition(), 50);
  EXPECT_EQ(copy.GetDataSize(), 200);

  // Memory to memory copies the image; file to memory loads the file.
  TMMWave memory(true);
  LoadImage(memory, image);
  TMMWave memoryCopy(true);
  memoryCopy.Assign(&memory);
  std::ostringstream saved;
  memoryCopy.SaveToStream(saved);
  EXPECT_EQ(saved.str(), std::string(image.begin(), image.end()));
  TMMWave loaded(true);
  loaded.Assign(&source);
  EXPECT_EQ(loaded.GetDataSize(), 200);
  // A memory wave cannot become a file wave; the file wave keeps its sound.
  EXPECT_THROW(copy.Assign(&memory), Exception);
  EXPECT_EQ(copy.GetFileName(), path);

  // A finished recording passes its format on.
  TMMWave formatOnly;
  const WAVEFORMATEX format = Pcm(16, 1, 8000);
  formatOnly.CreateFile(Path("format"), &format);
  formatOnly.Close();
  TMMWave fromFormat;
  fromFormat.Assign(&formatOnly);
  EXPECT_EQ(fromFormat.GetSampleRate(), 8000);

  // Nothing clears; a removed observer is not told.
  copy.RemoveObserver(&observer);
  copy.Assign(nullptr);
  EXPECT_EQ(copy.GetFileName(), "");
  EXPECT_EQ(copy.GetPWaveFormat(), nullptr);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(observer.count, 1);
}

TEST_F(MMWaveTest, FilesFrom2GiBUpReadToTheirEndAndReportClampedSizes) {
  // 3 GiB of 16-bit stereo written by the routines into a sparse file (no disk used): known
  // samples just past 2 GiB and at the end, zeros between.
  constexpr std::int64_t kGiB = std::int64_t{1} << 30;
  const std::int64_t data = 3 * kGiB;
  const std::string path = Path("large");
  const Bytes all = Pattern(24), middle(all.begin(), all.begin() + 8),
              tail(all.begin() + 8, all.end());
  const WAVEFORMATEX format = Pcm(16, 2, 44100);
  PWaveIOBlock writer = nullptr;
  ASSERT_EQ(WaveCreate(writer, &format), 0);
  ASSERT_EQ(WaveCreateFile(writer, path.c_str()), 0);
  for (const auto& [at, bytes] : {std::pair{2 * kGiB + 4, middle}, std::pair{data - 16, tail}}) {
    ASSERT_EQ(platform::MmioSeek64(writer->Handle, 44 + at, SEEK_SET), 44 + at);
    ASSERT_EQ(WaveWrite(writer, bytes.data(), static_cast<std::int32_t>(bytes.size())),
              static_cast<std::int32_t>(bytes.size()));
  }
  ASSERT_EQ(WaveFinish(writer), 0);
  WaveFree(writer);

  TMMWave wave;
  int changes = 0;
  wave.OnChange = [&](TMMWave*) { ++changes; };
  wave.SetFileName(path);
  EXPECT_EQ(wave.GetFileSize(), 0x7FFFFFFF) << "clamped, not wrapped";
  EXPECT_EQ(wave.GetDataSize(), data / 4);
  EXPECT_EQ(wave.GetLength(), data / 4);
  wave.SetTimeFormat(tfByte);
  EXPECT_EQ(wave.GetDataSize(), 0x7FFFFFFF);
  wave.SetTimeFormat(tfMillisecond);
  EXPECT_EQ(wave.GetDataSize(), 18260915);
  wave.SetTimeFormat(tfSample);
  wave.SetFileName(path);
  EXPECT_EQ(changes, 1) << "the same file, unchanged";

  wave.Open();
  EXPECT_EQ(wave.GetBytesLeft(), 0x7FFFFFFF);
  wave.Seek(static_cast<std::int32_t>((2 * kGiB + 4) / 4));
  Bytes got(8);
  ASSERT_EQ(wave.Read(got.data(), 8), 8);
  EXPECT_EQ(got, middle);
  EXPECT_EQ(wave.GetPosition(), (2 * kGiB + 12) / 4);
  wave.Seek(static_cast<std::int32_t>(data / 4 - 4));
  EXPECT_EQ(wave.GetBytesLeft(), 16);
  EXPECT_EQ(ReadAll(wave, 5), tail);
  EXPECT_EQ(wave.GetPosition(), data / 4);
  EXPECT_EQ(wave.Read(got.data(), 8), -1);
}
