// One refresh pass of an input row's connector: a TMMConnector with the row's
// two meters (left and right), opened and started as the capture component
// does, fed a captured 2048-byte buffer (512 frames of 16-bit stereo) and
// refreshed by hand: RealTime, AutoTrigger and Synchronize off, so that each
// Trigger() is one synchronous pass that hands each meter one 200-byte slice.
// The buffer is fed again after every ten passes (ten slices use it up); that
// copy is part of the measured time, as it is part of the real display path.
//
// The baseline is a plain copy of 2048 bytes, measured in the same process
// just before the passes; "ratio_to_memcpy" is pass time / copy time.
// "slices_per_pass" must be 1 (every measured pass fed the meters) and both
// meters must show a level at the end, else the run reports an error.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/main_window_meter.h"
#include "controls/level.h"
#include "devices/wave_format.h"
#include "platform/framework/application.h"
#include "platform/framework/form.h"
#include "platform/messages/messages.h"
#include "platform/threads/thread.h"
#include "stream/connector.h"
#include "stream/mm_wave_hdr.h"

namespace {

constexpr int kBufferBytes = 2048;
// 200-byte slices: ten fit in one buffer.
constexpr int kPassesPerBuffer = 10;

// The connector's own 20 ms timer calls Trigger on the timer thread while
// AutoTrigger is off. There that call only posts a refresh, which a connector
// without RealTime never runs, and its pending count then makes every later
// Trigger on the GUI thread return without a pass. The benchmark measures the
// passes it asks for, so calls from other threads are counted and dropped.
class TBenchConnector : public TMMConnector {
 public:
  using TMMConnector::TMMConnector;
  void Trigger() override {
    if (platform::IsGuiThread())
      TMMConnector::Trigger();
    else
      ++other_thread_calls;
  }
  std::atomic<int> other_thread_calls{0};
};

// A captured buffer: the stream header followed by 512 frames of a 440 Hz
// sine at half scale on the left and a 1 kHz sine at a tenth on the right.
struct CapturedBuffer {
  CapturedBuffer() : block(kWaveHdrSize + kBufferBytes) {
    hdr = new (block.data()) TMMWaveHdr();
    hdr->lpData = WaveHdrData(hdr);
    hdr->dwBufferLength = kBufferBytes;
    hdr->dwBytesRecorded = kBufferBytes;
    auto* frames = reinterpret_cast<std::int16_t*>(hdr->lpData);
    const double pi = std::acos(-1.0);
    for (int i = 0; i < kBufferBytes / 4; ++i) {
      frames[2 * i] = static_cast<std::int16_t>(16384 * std::sin(2 * pi * 440 * i / 44100.0));
      frames[2 * i + 1] = static_cast<std::int16_t>(3277 * std::sin(2 * pi * 1000 * i / 44100.0));
    }
  }
  std::vector<char> block;
  PWaveHdr hdr = nullptr;
};

// Nanoseconds of one 2048-byte copy, timed over about 50 ms.
double MemcpyNanoseconds() {
  std::vector<char> src(kBufferBytes, 1), dst(kBufferBytes);
  char* d = dst.data();
  benchmark::DoNotOptimize(d);
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::int64_t copies = 0;
  Clock::duration elapsed{};
  do {
    for (int i = 0; i < 1000; ++i) {
      std::memcpy(d, src.data(), kBufferBytes);
      benchmark::ClobberMemory();
    }
    copies += 1000;
    elapsed = Clock::now() - start;
  } while (elapsed < std::chrono::milliseconds(50));
  return std::chrono::duration<double, std::nano>(elapsed).count() / static_cast<double>(copies);
}

void BM_BaselineMemcpy2048(benchmark::State& state) {
  std::vector<char> src(kBufferBytes, 1), dst(kBufferBytes);
  char* d = dst.data();
  benchmark::DoNotOptimize(d);
  for (auto _ : state) {
    std::memcpy(d, src.data(), kBufferBytes);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BaselineMemcpy2048);

// state.range(0): 0 = meters not on a window (no painting), 1 = meters on a
// shown window (each pass that changes a picture paints it at once).
void BM_ConnectorTriggerPass(benchmark::State& state) {
  const double memcpy_ns = MemcpyNanoseconds();
  platform::EnsureToolkit();
  const bool shown = state.range(0) != 0;
  TForm form(nullptr);
  form.SetBounds(0, 0, 400, 100);
  auto* left = new TMMLevel(&form);
  auto* right = new TMMLevel(&form);
  if (shown) {
    left->SetParent(&form);
    right->SetParent(&form);
  }
  SetUpLikeMainWindow(*left, chLeft);
  SetUpLikeMainWindow(*right, chRight);
  right->SetBounds(1, 20, 241, 9);
  std::int64_t paints = 0;
  left->OnPaint = right->OnPaint = [&](TComponent*) { ++paints; };
  if (shown) {
    form.Show();
    WaitAndPump(20, true);  // let the window appear before measuring
  }

  WAVEFORMATEX format{};
  BuildPCMFormat(format, 16, 2, 44100);
  CapturedBuffer buffer;
  TBenchConnector connector(nullptr);
  connector.SetTriggerMode(tmDownFlank);
  connector.SetEnterIdle(false);
  connector.SetRealTime(false);
  connector.SetAutoTrigger(false);
  connector.SetSynchronize(false);
  connector.SetLevel1(left);
  connector.SetLevel2(right);
  connector.SetPWaveFormat(&format);
  connector.Opened();
  connector.Started();
  if (!connector.Active() || left->BytesPerRefresh() != 200) {
    state.SkipWithError("the connector did not become active with 200-byte slices");
    return;
  }

  connector.BufferReady(buffer.hdr);
  const int slices_before = connector.LevelSlices();
  paints = 0;
  int pass = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (pass == kPassesPerBuffer) {
      connector.BufferReady(buffer.hdr);
      pass = 0;
    }
    connector.Trigger();
    ++pass;
  }
  const double loop_ns =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  const auto passes = static_cast<double>(state.iterations());
  const double slices_per_pass = (connector.LevelSlices() - slices_before) / passes;

  // What the meters show (a half-scale sine lights 60 of 120 spots, a tenth 12).
  const int left_spots = left->Level(), right_spots = right->Level();
  connector.Stopped();
  connector.Closed();
  connector.SetAutoTrigger(true);  // ends the connector's timer before it goes

  state.counters["memcpy_2048_ns"] = memcpy_ns;
  state.counters["ratio_to_memcpy"] = loop_ns / passes / memcpy_ns;
  state.counters["slices_per_pass"] = slices_per_pass;
  state.counters["paints_per_pass"] = static_cast<double>(paints) / passes;
  state.counters["timer_calls_dropped"] = connector.other_thread_calls.load();
  state.counters["left_spots"] = left_spots;
  state.counters["right_spots"] = right_spots;
  if (slices_per_pass != 1.0) state.SkipWithError("not every pass fed the meters one slice");
  if (left_spots <= 0 || right_spots <= 0) state.SkipWithError("a meter shows nothing");
}
BENCHMARK(BM_ConnectorTriggerPass)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
