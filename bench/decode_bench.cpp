// Decoding one minute of stereo IMA ADPCM at 44100 Hz (2048-byte blocks, as common writers
// make them) through the audio file, as the player pulls it: load the file, open and start
// the chain, pull 8196-byte buffers to the end, stop and close. "x_realtime" is the minute of
// sound divided by the time one pass took (the goal is at least 200 on one core: run it
// pinned, e.g. taskset -c 0).
//
// The baseline is the same minute as 16-bit stereo PCM through the same audio file, which
// passes it through unconverted; "ratio_to_pcm" is decode time / PCM time.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "files/audio_file.h"
#include "files/wave_io.h"
#include "tests/support/wave_formats.h"

namespace {

constexpr int kSeconds = 60;
constexpr int kRate = 44100;
constexpr int kBlock = 2048;
constexpr std::int32_t kBufferSize = 8196;

std::string TempName(const std::string& tag) {
  return (std::filesystem::temp_directory_path() /
          ("tessaline_bench_" + std::to_string(::getpid()) + "_" + tag + ".wav"))
      .string();
}

void Write(const std::string& path, const WAVEFORMATEX* format,
           const std::vector<std::uint8_t>& data) {
  PWaveIOBlock block = nullptr;
  if (WaveCreate(block, format) != 0 || WaveCreateFile(block, path.c_str()) != 0 ||
      WaveWrite(block, data.data(), static_cast<std::int32_t>(data.size())) !=
          static_cast<std::int32_t>(data.size()) ||
      WaveFinish(block) != 0) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  WaveFree(block);
}

struct Files {
  Files() : ima(TempName("ima")), pcm(TempName("pcm")) {
    const int perBlock = (kBlock - 8) + 1;  // samples per block and channel
    const int blocks = (kSeconds * kRate + perBlock - 1) / perBlock;
    Write(ima, wavetest::Ima(2, kRate, kBlock).get(), wavetest::ImaBlocks(2, kBlock, blocks));
    Write(pcm, wavetest::Pcm(16, 2, kRate).get(),
          std::vector<std::uint8_t>(std::size_t{kSeconds} * kRate * 4, 0x11));
  }
  ~Files() {
    std::filesystem::remove(ima);
    std::filesystem::remove(pcm);
  }
  std::string ima;
  std::string pcm;
};

const Files& TheFiles() {
  static const Files files;
  return files;
}

// Plays `path` through an audio file to its end; the PCM bytes delivered.
std::int64_t PlayThrough(const std::string& path) {
  TMMAudioFile file(nullptr);
  file.SetFileName(path);
  file.OpenChain(kBufferSize);
  file.StartChain();
  std::vector<char> buffer(kBufferSize);
  std::int64_t total = 0;
  for (bool more = true; more;) {
    more = false;
    total += file.LoadBuffer(buffer.data(), kBufferSize, more);
  }
  file.StopChain();
  file.CloseChain();
  return total;
}

double PcmSeconds() {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  benchmark::DoNotOptimize(PlayThrough(TheFiles().pcm));
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_DecodeImaMinute(benchmark::State& state) {
  const std::string& path = TheFiles().ima;
  const double pcm = PcmSeconds();
  const std::int64_t expected = std::int64_t{kSeconds} * kRate * 4;
  std::int64_t delivered = 0;
  using Clock = std::chrono::steady_clock;
  double decoding = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    delivered = PlayThrough(path);
    decoding += std::chrono::duration<double>(Clock::now() - start).count();
  }
  if (delivered < expected) state.SkipWithError("the minute was not delivered whole");
  const double each = decoding / static_cast<double>(state.iterations());
  state.counters["x_realtime"] = kSeconds / each;
  state.counters["ratio_to_pcm"] = each / pcm;
}
BENCHMARK(BM_DecodeImaMinute)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
