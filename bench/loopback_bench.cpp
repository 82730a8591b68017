// The loopback check's analysis of one recording: the test sound found, with
// crosstalk and noise, 0.5 s before the end of the search window, for windows
// of 1, 3 and 10 s (the recording lasts the window, the sound and 0.5 s, as
// the check records). The time per analysis is the figure to watch (the goal
// for the 10 s search is well under a second); "ratio_to_1s" compares each
// window with the 1 s search measured in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "app/loopback_analysis.h"
#include "tests/support/stereo_sound.h"

namespace {

constexpr double kRate = 44100;

StereoSamples TestSound() {
  return ReadStereoSound(TESSALINE_TEST_SOUND);
}

StereoSamples Recording(const StereoSamples& sound, double window_s) {
  const auto delay = static_cast<std::size_t>((window_s - 0.5) * kRate);
  const std::size_t frames = static_cast<std::size_t>((window_s + 0.5) * kRate) + sound.left.size();
  std::mt19937 random(1);
  std::normal_distribution<double> noise(0.0, 0.001);
  StereoSamples recorded;
  for (std::size_t n = 0; n < frames; ++n) {
    double l = noise(random), r = noise(random);
    if (n >= delay && n - delay < sound.left.size()) {
      l += 0.5 * sound.left[n - delay] + 0.25 * sound.right[n - delay];
      r += 0.5 * sound.right[n - delay] + 0.25 * sound.left[n - delay];
    }
    recorded.left.push_back(static_cast<float>(l));
    recorded.right.push_back(static_cast<float>(r));
  }
  return recorded;
}

std::map<std::int64_t, double> seconds_per_analysis;

void BM_AnalyseLoopback(benchmark::State& state) {
  const double window_s = static_cast<double>(state.range(0));
  const StereoSamples sound = TestSound();
  if (sound.left.empty()) {
    state.SkipWithError("no test sound at " TESSALINE_TEST_SOUND);
    return;
  }
  const StereoSamples recorded = Recording(sound, window_s);
  double total = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const LoopbackResult result = AnalyseLoopback(sound, recorded, kRate, window_s * 1000);
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result.verdict != LoopbackVerdict::ok) state.SkipWithError("the sound was not found");
    benchmark::DoNotOptimize(result);
  }
  const double per = total / static_cast<double>(state.iterations());
  seconds_per_analysis[state.range(0)] = per;
  state.counters["ms_per_analysis"] = per * 1000;
  if (seconds_per_analysis.count(1)) {
    state.counters["ratio_to_1s"] = per / seconds_per_analysis[1];
  }
}

BENCHMARK(BM_AnalyseLoopback)->Arg(1)->Arg(3)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
