#include "files/audio_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "files/file_type_registry.h"
#include "files/wave_file.h"
#include "files/wave_io.h"
#include "tests/files/memory_source.h"
#include "tests/files/temp_files.h"
#include "tests/support/wave_formats.h"

namespace {

namespace fs = std::filesystem;
using filestest::Bytes;

void WriteWave(const std::string& path, const WAVEFORMATEX* format, const Bytes& data) {
  PWaveIOBlock block = nullptr;
  ASSERT_EQ(WaveCreate(block, format), 0);
  ASSERT_EQ(WaveCreateFile(block, path.c_str()), 0);
  ASSERT_EQ(WaveWrite(block, data.data(), static_cast<std::int32_t>(data.size())),
            static_cast<std::int32_t>(data.size()));
  ASSERT_EQ(WaveFinish(block), 0);
  WaveFree(block);
}

Bytes Samples16(std::initializer_list<std::int16_t> values) {
  Bytes b;
  for (std::int16_t v : values) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  }
  return b;
}

// A file type known only by its class side.
struct TFakeType final : TMMFileTypeClass {
  TFakeType(std::string name, TMMAudioFileType kind, std::string filter)
      : name_(std::move(name)), kind_(kind), filter_(std::move(filter)) {}
  std::string ClassName() const override { return name_; }
  TMMAudioFileType FileType() const override { return kind_; }
  bool CanLoad(const std::string&, std::int32_t, std::int32_t, std::int32_t) const override {
    return false;
  }
  bool GetFileInfo(const std::string&, TMMFileInfo&) const override { return false; }
  std::string GetFilter() const override { return filter_; }
  std::string GetDefaultMask() const override { return {}; }
  TMMCustomFile* Create(TComponent*) const override { return nullptr; }
  std::string name_;
  TMMAudioFileType kind_;
  std::string filter_;
};

// An audio file whose chain runs without an output, pulling `size` bytes at a time.
struct Running {
  Running(TMMAudioFile& file, std::int32_t size) : file(file), buffer(size) {
    file.OpenChain(size);
    file.StartChain();
  }
  ~Running() {
    file.StopChain();
    file.CloseChain();
  }
  Bytes Load(bool& more) { return buffer.Load(file, more); }
  TMMAudioFile& file;
  filestest::Buffer buffer;
};

class AudioFileTest : public TempFilesTest {
 protected:
  // A 16-bit mono file at 8000 Hz of `samples` samples of a ramp; its data.
  Bytes WritePcm16(const std::string& path, int samples) {
    Bytes data(static_cast<std::size_t>(samples) * 2);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 5 + 3);
    WriteWave(path, wavetest::Pcm(16, 1, 8000).get(), data);
    return data;
  }
  std::string Copy(const std::string& from, const std::string& to) {
    paths_.push_back(to);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    return to;
  }
};

// A little-endian IEEE float sample of 32 or 64 bits.
void AppendFloat(Bytes& data, double x, int bits) {
  std::uint8_t bytes[8];
  if (bits == 32) {
    const auto f = static_cast<float>(x);
    std::memcpy(bytes, &f, 4);
  } else {
    std::memcpy(bytes, &x, 8);
  }
  data.insert(data.end(), bytes, bytes + bits / 8);
}

// IEEE float and every depth in the extensible header (plain PCM plays as it is) are
// delivered as 16-bit PCM of the same channels and rate: each sample scaled to 32 bits
// (floats: times 2^31, cut towards zero), rounded to 16 with halves upwards and held
// within full scale. The same samples on every system.
TEST_F(AudioFileTest, DecodesEveryWholeSampleFormatToTheSameSixteenBitPcm) {
  struct Case {
    const char* name;
    wavetest::Format format;
    int bits;
    bool isFloat;
  };
  const Case cases[] = {
      {"float32 stereo", wavetest::MakeFormat(WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 32, 8), 32, true},
      {"float64 mono", wavetest::MakeFormat(WAVE_FORMAT_IEEE_FLOAT, 1, 48000, 64, 8), 64, true},
      {"float32 six", wavetest::MakeFormat(WAVE_FORMAT_IEEE_FLOAT, 6, 48000, 32, 24), 32, true},
      {"ext pcm8 mono", wavetest::Extensible(8, 1, 8000, WAVE_FORMAT_PCM), 8, false},
      {"ext pcm16 stereo", wavetest::Extensible(16, 2, 44100, WAVE_FORMAT_PCM), 16, false},
      {"ext pcm24 six", wavetest::Extensible(24, 6, 48000, WAVE_FORMAT_PCM), 24, false},
      {"ext pcm32 stereo", wavetest::Extensible(32, 2, 96000, WAVE_FORMAT_PCM), 32, false},
      {"ext float32 stereo", wavetest::Extensible(32, 2, 44100, WAVE_FORMAT_IEEE_FLOAT), 32, true},
      {"ext float64 four", wavetest::Extensible(64, 4, 44100, WAVE_FORMAT_IEEE_FLOAT), 64, true},
  };
  // Full-scale samples at the edges and where rounding turns, then varied ones.
  std::vector<std::uint32_t> raw = {0x00000000, 0x7FFFFFFF, 0x80000000, 0x7FFF8000, 0x7FFF7FFF,
                                    0x00008000, 0xFFFF8000, 0xFFFF7FFF, 0x12348000, 0xC0000000};
  for (std::uint32_t r = 0x2545F491; raw.size() < 600;) {
    r = r * 1664525u + 1013904223u;
    raw.push_back(r);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int channels = c.format.get()->nChannels;
    const std::size_t count = raw.size() / channels * channels;
    Bytes data;
    std::vector<std::int16_t> expected;
    for (std::size_t i = 0; i < count; ++i) {
      // The sample as the source holds it: the top bits its depth keeps (a float of 32 bits
      // holds 24 of them exactly).
      const int kept = c.isFloat ? (c.bits == 32 ? 24 : 32) : c.bits;
      const std::uint32_t top = kept == 32 ? raw[i] : raw[i] & ~((1u << (32 - kept)) - 1);
      const auto value = static_cast<std::int32_t>(top);
      if (c.isFloat) {
        AppendFloat(data, value / 2147483648.0, c.bits);
      } else {
        const std::uint32_t stored = c.bits == 8 ? (top >> 24) ^ 0x80 : top >> (32 - c.bits);
        for (int b = 0; b < c.bits / 8; ++b)
          data.push_back(static_cast<std::uint8_t>(stored >> (8 * b)));
      }
      expected.push_back(static_cast<std::int16_t>(
          std::min<std::int64_t>((std::int64_t{value} + 0x8000) >> 16, 32767)));
    }
    if (c.isFloat) {
      // Frames beyond full scale and of no number, on every channel.
      const double extra[] = {1.0, 1.5, -1.0, -3.0, std::nan("")};
      const std::int16_t held[] = {32767, 32767, -32768, -32768, 0};
      for (std::size_t e = 0; e < std::size(extra); ++e) {
        for (int k = 0; k < channels; ++k) {
          AppendFloat(data, extra[e], c.bits);
          expected.push_back(held[e]);
        }
      }
    }
    const std::string path = Path(std::string("whole") + std::to_string(&c - cases));
    WriteWave(path, c.format.get(), data);
    TMMAudioFile file(nullptr);
    file.SetFileName(path);
    const WAVEFORMATEX* pcm = file.GetPWaveFormat();
    ASSERT_NE(pcm, nullptr);
    EXPECT_EQ(pcm->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(pcm->wBitsPerSample, 16);
    EXPECT_EQ(pcm->nChannels, channels);
    EXPECT_EQ(pcm->nSamplesPerSec, c.format.get()->nSamplesPerSec);
    Running run(file, 4096);
    const Bytes decoded = run.buffer.Drain(file);
    ASSERT_EQ(decoded.size(), expected.size() * 2);
    std::size_t differ = 0, first = expected.size();
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const auto got = static_cast<std::int16_t>(decoded[2 * i] | (decoded[2 * i + 1] << 8));
      if (got != expected[i]) {
        ++differ;
        first = std::min(first, i);
      }
    }
    EXPECT_EQ(differ, 0u) << "first at sample " << first;
  }
}

}  // namespace

TEST(FileTypeRegistry, KeepsOrderAndBuildsTheFilter) {
  const TFakeType mpeg("TMMMPEGFile", ftMpeg, "MPEG Audio (*.mp1;*.mp2;*.mp3)|*.mp1;*.mp2;*.mp3");
  const TFakeType cda("TMMCDAFile", ftCDA, "CD Audio (*.cda)|*.cda");
  const TFakeType other("TMMOtherFile", ftVorbis, "Other Waves|*.wav;*.wave");
  const TFakeType again("TMMCDAFile", ftWMA, "ignored|*.x");
  TMMFileTypeRegistry registry;
  registry.Register(FileTypeClass<TMMWaveFile>(), kMMWaveFileOrder);
  EXPECT_EQ(registry.BuildFilter(true), "Wave Files(*.wav)|*.wav");
  registry.Register(cda, kMMCDAFileOrder);
  registry.Register(other, kMMCDAFileOrder);  // behind the one already at that order
  registry.Register(mpeg, kMMMpegFileOrder);
  registry.Register(again, 0);  // the same class name: ignored
  std::vector<std::string> names;
  for (const TRegisterRec& e : registry.Entries()) names.push_back(e.Class->ClassName());
  EXPECT_EQ(names,
            (std::vector<std::string>{"TMMMPEGFile", "TMMCDAFile", "TMMOtherFile", "TMMWaveFile"}));
  EXPECT_EQ(registry.Find(ftCDA), &cda);
  EXPECT_EQ(registry.Find(ftWMA), nullptr);
  // Each pattern field once: "*.wav" is already contained in "*.wav;*.wave".
  EXPECT_EQ(registry.BuildFilter(true),
            "All Audio Files (*.mp1;*.mp2;*.mp3;*.cda;*.wav;*.wave)|"
            "*.mp1;*.mp2;*.mp3;*.cda;*.wav;*.wave|"
            "MPEG Audio (*.mp1;*.mp2;*.mp3)|*.mp1;*.mp2;*.mp3|CD Audio (*.cda)|*.cda|"
            "Other Waves|*.wav;*.wave|Wave Files(*.wav)|*.wav");
  EXPECT_EQ(registry.BuildFilter(false).rfind("MPEG Audio", 0), 0u);

  // The program registers the wave type only; MPEG and CD audio keep their places free.
  EXPECT_EQ(BuildFilter(true), "Wave Files(*.wav)|*.wav");
  ASSERT_NE(FindFileType(ftWave), nullptr);
  EXPECT_EQ(FindFileType(ftWave)->ClassName(), "TMMWaveFile");
  EXPECT_EQ(FindFileType(ftMpeg), nullptr);
  EXPECT_EQ(FileTypeRegistry().Entries().front().Order, kMMWaveFileOrder);
}

TEST_F(AudioFileTest, LoadsWhatTheWaveTypeTakes) {
  const std::string path = Path("load");
  WritePcm16(path, 8000);
  const std::string stem = path.substr(0, path.size() - 4);
  TMMAudioFile file(nullptr);
  int loaded = 0;
  int changes = 0;
  file.OnFileLoaded = [&](TComponent*) { ++loaded; };
  file.OnChange = [&](TComponent*) { ++changes; };
  EXPECT_EQ(file.GetFilter(), "Wave Files(*.wav)|*.wav");

  // The extension in capitals is the wave type's.
  const std::string capitals = Copy(path, stem + ".WAV");
  file.SetFileName(capitals);
  EXPECT_EQ(loaded, 1);
  EXPECT_GE(changes, 1);
  EXPECT_EQ(file.GetFileType(), ftWave);
  EXPECT_FALSE(file.IsEmpty());
  EXPECT_EQ(file.GetLength(), 1000);
  EXPECT_EQ(file.GetBlockAlign(), 2);
  EXPECT_EQ(file.GetFileName(), capitals);
  EXPECT_FALSE(file.ADPCMConverter()->GetEnabled());
  EXPECT_EQ(file.GetPWaveFormat()->nSamplesPerSec, 8000u);
  // The same full name again loads nothing; a relative name for it loads again.
  file.SetFileName(capitals);
  EXPECT_EQ(loaded, 1);
  file.SetFileName(fs::relative(capitals).string());
  EXPECT_EQ(loaded, 2);
  file.SetFileType(ftMpeg);
  EXPECT_EQ(file.GetFileType(), ftWave);

  // Another extension is refused; no extension is probed by content.
  const std::string text = Copy(path, stem + ".txt");
  try {
    file.SetFileName(text);
    ADD_FAILURE() << "a .txt file was loaded";
  } catch (const EMMAudioError& e) {
    EXPECT_STREQ(e.what(), "This is not a valid Audiofile");
  }
  EXPECT_EQ(file.FileObject(), nullptr);
  EXPECT_EQ(file.GetFileName(), "");
  EXPECT_TRUE(file.IsEmpty());
  EXPECT_EQ(file.GetLength(), 0);
  file.SetFileName(Copy(path, stem));
  EXPECT_EQ(file.GetFileType(), ftWave);
  // Asking for the wave type by kind.
  file.LoadFile(path, ftWave);
  EXPECT_EQ(file.GetFileName(), path);

  // A name that is no file loads nothing and says nothing; a file that is no wave is refused.
  file.SetFileName(stem + ".missing.wav");
  EXPECT_EQ(file.FileObject(), nullptr);
  const std::string junk = Path("junk");
  std::ofstream(junk) << "not a wave at all";
  EXPECT_THROW(file.SetFileName(junk), EMMAudioError);
  // A name that is there but is no regular file, or cannot be read, says so.
  const auto refusal = [&](const std::string& name) {
    try {
      file.SetFileName(name);
    } catch (const EMMAudioError& e) {
      return std::string(e.what());
    }
    return std::string("loaded");
  };
  const std::string folder = stem + ".folder.wav";
  fs::create_directory(folder);
  EXPECT_EQ(refusal(folder), "Cannot read " + folder + ": not a regular file");
  fs::remove(folder);
#ifndef _WIN32
  const std::string fifo = stem + ".fifo.wav";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(refusal(fifo), "Cannot read " + fifo + ": not a regular file");
  fs::remove(fifo);
  if (geteuid() != 0) {  // the superuser reads every file
    const std::string locked = Copy(path, stem + ".locked.wav");
    fs::permissions(locked, fs::perms::none);
    EXPECT_EQ(refusal(locked), "Cannot read " + locked + ": Permission denied");
  }
#endif
  EXPECT_EQ(file.FileObject(), nullptr);

  TMMFileInfo info;
  ASSERT_TRUE(TMMWaveFile::GetFileInfo(path, info));
  EXPECT_EQ(info.Kind, 1u);
  EXPECT_EQ(info.Length, 1000);
  EXPECT_EQ(info.FileName, fs::path(path).filename().string());
  EXPECT_FALSE(TMMWaveFile::GetFileInfo(junk, info));

  file.SetVolume(40000);
  EXPECT_EQ(file.GetVolume(), 32768);
  file.SetPanning(-40000);
  EXPECT_EQ(file.GetPanning(), -32768);
  file.SetVolume(-1);
  EXPECT_EQ(file.GetVolume(), 0);
}

TEST_F(AudioFileTest, DeliversToTheEndLoopsAndSeeks) {
  const std::string path = Path("play");
  const Bytes data = WritePcm16(path, 1000);  // 125 ms
  TMMAudioFile file(nullptr);
  file.SetFileName(path);
  {
    Running run(file, 512);
    bool more = false;
    Bytes all;
    int loads = 0;
    for (more = true; more && loads < 100; ++loads) {
      const Bytes got = run.Load(more);
      all.insert(all.end(), got.begin(), got.end());
    }
    EXPECT_EQ(all, data);
    EXPECT_EQ(file.GetPosition(), 125);
    // Once at the end: 4 fill bytes, then nothing.
    EXPECT_EQ(run.Load(more), Bytes(4, 0));
    EXPECT_FALSE(more);
    EXPECT_EQ(run.Load(more), Bytes());
    EXPECT_FALSE(more);

    // Looping without a count restarts at the beginning each time.
    file.SetPosition(0);
    run.buffer.hdr->bLooping = -1;
    run.buffer.hdr->dwLoopCount = 0;
    for (int round = 0; round < 3; ++round) {
      Bytes lap;
      for (int i = 0; i < 10; ++i) {
        const Bytes got = run.Load(more);
        lap.insert(lap.end(), got.begin(), got.end());
        if (run.buffer.hdr->bLoopDone != 0) break;
      }
      EXPECT_EQ(lap, data) << round;
      EXPECT_TRUE(more);
      EXPECT_EQ(file.GetPosition(), 0);
    }
    run.buffer.hdr->bLooping = 0;

    // A position in milliseconds: the data from there.
    file.SetPosition(100);
    EXPECT_EQ(file.GetPosition(), 100);
    EXPECT_EQ(run.Load(more), Bytes(data.begin() + 1600, data.end()));
    file.SetPosition(1000000);
    EXPECT_EQ(file.GetPosition(), 125);
  }
  // Not running: the reader's position.
  file.SetPosition(50);
  EXPECT_EQ(file.GetPosition(), 50);
}

TEST_F(AudioFileTest, AppliesVolumeAndPanningWithoutWrapping) {
  const std::string path16 = Path("gain16");
  WriteWave(path16, wavetest::Pcm(16, 2, 8000).get(),
            Samples16({32767, -32768, 1000, -1001, -3, 3}));
  const std::string path8 = Path("gain8");
  WriteWave(path8, wavetest::Pcm(8, 1, 8000).get(), Bytes{0, 128, 255, 100, 129});
  TMMAudioFile file(nullptr);
  const auto play = [&](std::int32_t volume, std::int32_t panning) {
    file.SetPosition(0);
    file.SetVolume(volume);
    file.SetPanning(panning);
    Running run(file, 64);
    bool more = false;
    return run.Load(more);
  };
  file.SetFileName(path16);
  EXPECT_EQ(play(16384, 0), Samples16({32767, -32768, 1000, -1001, -3, 3}));
  EXPECT_EQ(play(32768, 0), Samples16({32767, -32768, 2000, -2002, -6, 6}));
  EXPECT_EQ(play(0, 0), Samples16({0, 0, 0, 0, 0, 0}));
  // Half to the right: the left channel at half gain (halves round upwards).
  EXPECT_EQ(play(16384, 16384), Samples16({16384, -32768, 500, -1001, -1, 3}));
  EXPECT_EQ(play(32768, -32768), Samples16({32767, 0, 2000, 0, -6, 0}));
  EXPECT_EQ(file.Gains().Left, 32768);
  EXPECT_EQ(file.Gains().Right, 0);

  // Gains change on one thread while another loads: each buffer has one gain pair.
  {
    file.SetPosition(0);
    file.SetPanning(0);
    Running run(file, 12);
    std::atomic<bool> done{false};
    std::atomic<int> loads{0};
    std::atomic<int> mixed{0};
    std::thread puller([&] {
      filestest::Buffer buffer(12);
      buffer.hdr->bLooping = -1;
      while (!done) {
        bool more = false;
        const Bytes got = buffer.Load(file, more);
        if (got.size() == 12 && got != Samples16({32767, -32768, 1000, -1001, -3, 3}) &&
            got != Samples16({32767, -32768, 2000, -2002, -6, 6})) {
          ++mixed;
        }
        ++loads;
      }
    });
    for (int i = 0; i < 200 || loads < 50; ++i) file.SetVolume(i % 2 == 0 ? 32768 : 16384);
    done = true;
    puller.join();
    EXPECT_EQ(mixed, 0);
  }

  file.SetFileName(path8);
  EXPECT_EQ(play(16384, 0), (Bytes{0, 128, 255, 100, 129}));
  EXPECT_EQ(play(32768, 0), (Bytes{0, 128, 255, 72, 130}));
  EXPECT_EQ(play(0, 0), (Bytes{128, 128, 128, 128, 128}));
  // One channel takes the unpanned level.
  EXPECT_EQ(play(8192, 32768), (Bytes{64, 128, 192, 114, 129}));
}

TEST_F(AudioFileTest, ConvertsReportsErrorsAndPlaysPcmWithoutTheCodecs) {
  const wavetest::Format ima = wavetest::Ima(1, 8000, 256);
  const Bytes blocks = wavetest::ImaBlocks(1, 256, 5);
  const std::string imaPath = Path("ima");
  WriteWave(imaPath, ima.get(), blocks);
  const std::string pcmPath = Path("pcm");
  const Bytes pcm = WritePcm16(pcmPath, 300);

  TMMAudioFile file(nullptr);
  file.SetFileName(imaPath);
  EXPECT_EQ(file.GetPWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(file.FileObject()->GetPWaveFormat()->wFormatTag, WAVE_FORMAT_IMA_ADPCM);
  Bytes decoded;
  {
    Running run(file, 4096);
    decoded = run.buffer.Drain(file);
    EXPECT_EQ(decoded.size(), 5u * 505 * 2);
    EXPECT_EQ(file.GetPosition(), 316);  // 2525 samples at 8000 Hz
  }
  // A partial last block plays the samples it holds: 249 of the half block.
  const std::string partialPath = Path("partial");
  WriteWave(partialPath, ima.get(), Bytes(blocks.begin(), blocks.begin() + 4 * 256 + 128));
  file.SetFileName(partialPath);
  {
    Running run(file, 1000);
    const Bytes all = run.buffer.Drain(file);
    ASSERT_EQ(all.size(), (4u * 505 + 249) * 2);
    EXPECT_TRUE(std::equal(all.begin(), all.end(), decoded.begin()));
  }

  // An error inside: a handler that sets Handled gets 4 bytes delivered, else it passes on.
  file.SetFileName(pcmPath);
  file.OnBufferLoad = [](TComponent*, PWaveHdr, bool&) { throw Exception("broken"); };
  {
    Running run(file, 256);
    bool more = false;
    EXPECT_THROW(run.Load(more), Exception);
    int errors = 0;
    file.OnError = [&](TComponent* sender, bool& handled) {
      EXPECT_EQ(sender, &file);
      ++errors;
      handled = true;
    };
    EXPECT_EQ(run.Load(more).size(), 4u);
    EXPECT_EQ(errors, 1);
  }
  file.OnBufferLoad = nullptr;

  // Without the compression manager PCM plays; the compressed file fails at open.
  setenv("TESSALINE_ACM", "none", 1);
  platform::ReloadAcm();
  file.SetFileName(imaPath);
  try {
    file.OpenChain(1024);
    ADD_FAILURE() << "opened without a codec";
  } catch (const EMMConverterError& e) {
    EXPECT_STREQ(e.what(), "Unable to convert to destination format");
  }
  EXPECT_FALSE(file.IsOpened());
  file.SetFileName(pcmPath);
  {
    Running run(file, 4096);
    EXPECT_EQ(run.buffer.Drain(file), pcm);
  }
  // PCM in the extensible header plays too, as plain PCM of its bytes, at 16 and 8 bits.
  for (const int bits : {16, 8}) {
    SCOPED_TRACE(bits);
    const std::string extensiblePath = Path("extensible" + std::to_string(bits));
    WriteWave(extensiblePath, wavetest::Extensible(bits, 2, 8000, WAVE_FORMAT_PCM).get(), pcm);
    file.SetFileName(extensiblePath);
    EXPECT_EQ(file.GetPWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(file.GetPWaveFormat()->wBitsPerSample, bits);
    EXPECT_EQ(file.GetPWaveFormat()->nChannels, 2);
    Running run(file, 4096);
    EXPECT_EQ(run.buffer.Drain(file), pcm);
  }
  unsetenv("TESSALINE_ACM");
  platform::ReloadAcm();
}
