// The meter path for one 200-byte slice (50 frames of 16-bit stereo):
// RefreshPCMData + UpdateLevel, once when the picture stays the same and once
// with a repaint on a shown window. The baseline is the bare peak reduction of
// the same slice, so the ratios show what the meter adds.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bench/main_window_meter.h"
#include "controls/level.h"
#include "platform/framework/application.h"
#include "platform/framework/form.h"
#include "platform/messages/messages.h"

namespace {

std::vector<std::int16_t> Slice(int peak) {
  std::vector<std::int16_t> s(100);
  for (int i = 0; i < 100; ++i) s[i] = static_cast<std::int16_t>((i * 977) % (peak + 1) - peak / 2);
  s[40] = static_cast<std::int16_t>(peak);
  return s;
}

void Setup(TMMLevel& m) {
  SetUpLikeMainWindow(m, chLeft);
}

void BM_BaselinePeakReduction(benchmark::State& state) {
  auto s = Slice(16000);
  for (auto _ : state) {
    int a = 0;
    for (int i = 0; i < 50; ++i) a = std::max(a, std::abs(static_cast<int>(s[2 * i])));
    benchmark::DoNotOptimize(a);
  }
}
BENCHMARK(BM_BaselinePeakReduction);

void BM_RefreshWithoutRepaint(benchmark::State& state) {
  platform::EnsureToolkit();
  TMMLevel m(nullptr);
  Setup(m);
  auto s = Slice(16000);
  m.RefreshPCMData(s.data());
  for (auto _ : state) m.RefreshPCMData(s.data());  // same level: no picture change
}
BENCHMARK(BM_RefreshWithoutRepaint);

void BM_RefreshWithRepaint(benchmark::State& state) {
  platform::EnsureToolkit();
  TForm form(nullptr);
  form.SetBounds(0, 0, 400, 100);
  auto* m = new TMMLevel(&form);
  m->SetParent(&form);
  Setup(*m);
  m->SetDecayMode(dmNone);
  form.Show();
  WaitAndPump(20, true);  // let the window appear before measuring
  std::int64_t paints = 0;
  m->OnPaint = [&](TComponent*) { ++paints; };
  auto loud = Slice(30000), quiet = Slice(3000);
  bool flip = false;
  for (auto _ : state) {
    m->RefreshPCMData(flip ? loud.data() : quiet.data());  // the level changes every time
    flip = !flip;
  }
  // Proves that every refresh really painted.
  state.counters["paints_per_refresh"] =
      static_cast<double>(paints) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RefreshWithRepaint);

}  // namespace

BENCHMARK_MAIN();
