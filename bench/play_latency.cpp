// How soon a sound is heard after Play, and how closely the player's buffer
// notifications follow what is heard, on a real sound server.
//
// Usage: bench_play_latency MONITOR K [runs]
//   MONITOR  the source that records what output device K plays (its monitor)
//   K        the output device (1 ... number of outputs)
//
// The signal is silence with a short burst (a 1.4 kHz square wave, which
// survives the server's resampling) at the very start of the sound and one at
// the end of each 8196-byte buffer. What MONITOR records is timed by
// the arrival of each recorded piece (its last frame reached the monitor just
// before it arrived). For each subject, after one run to warm up:
//   - Play -> heard: from just before Play (or opening the stream) to the
//     moment the first burst reached the monitor;
//   - done - heard: from the moment the last frame of a buffer reached the
//     monitor to the player's OnData for that buffer (positive: after); for
//     the bare stream, to the back-end's report that the buffer's bytes were
//     played, which shows how much later the monitor hears what the server
//     counts as played.
// Subjects: a bare back-end stream fed from memory (the baseline), the player
// on the wave output, and the player on the DirectSound output.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "devices/audio_library.h"
#include "devices/wave_format.h"
#include "files/wave_io.h"
#include "platform/audio/audio_backend.h"
#include "platform/framework/application.h"
#include "platform/messages/messages.h"
#include "playback/audio_player.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kRate = 44100;
constexpr std::size_t kFrame = 4;
constexpr std::size_t kBufferBytes = 8196;
constexpr std::size_t kBufferFrames = kBufferBytes / kFrame;
constexpr std::size_t kBuffers = 30;
constexpr std::size_t kBurst = 64;
constexpr int kLoud = 16000;
constexpr int kThreshold = 8000;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Frames of the signal, 16-bit stereo.
std::vector<std::int16_t> Signal() {
  std::vector<std::int16_t> s(kBuffers * kBufferFrames * 2, 0);
  auto burst = [&](std::size_t from) {
    for (std::size_t f = from; f < from + kBurst; ++f)
      s[2 * f] = s[2 * f + 1] = static_cast<std::int16_t>((f / 16) % 2 ? kLoud : -kLoud);
  };
  burst(0);
  for (std::size_t b = 0; b < kBuffers; ++b) burst((b + 1) * kBufferFrames - kBurst);
  return s;
}

// Records a source and keeps, for every burst, when its first and its last
// frame reached the source.
class TMonitor {
 public:
  explicit TMonitor(const std::string& source) {
    platform::PcmFormat format;
    std::string reason;
    stream_ = platform::CurrentAudioBackend()->OpenCapture(
        source, format, 441 * kFrame,
        {[this](const std::uint8_t* data, std::size_t bytes) { Take(data, bytes); }, nullptr,
         nullptr},
        &reason);
    if (!stream_) {
      std::fprintf(stderr, "bench_play_latency: cannot record %s: %s\n", source.c_str(),
                   reason.c_str());
      std::exit(1);
    }
    stream_->Start();
  }
  // Waits until the source delivers small pieces steadily (a sink that has
  // been idle renders in large blocks at first).
  bool WaitForFlow() {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
      WaitAndPump(100, true);
      std::lock_guard<std::mutex> lock(mutex_);
      if (arrivals_.size() < 20) continue;
      bool steady = true;
      for (std::size_t i = arrivals_.size() - 20; i + 1 < arrivals_.size(); ++i)
        steady = steady && Ms(arrivals_[i + 1] - arrivals_[i]) < 60;
      if (steady) return true;
    }
    return false;
  }
  // Forget the bursts heard so far.
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    starts_.clear();
    ends_.clear();
  }
  std::size_t Bursts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ends_.size();
  }
  std::vector<Clock::time_point> Starts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return starts_;
  }
  std::vector<Clock::time_point> Ends() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ends_;
  }

 private:
  // Runs on the back-end's thread.
  void Take(const std::uint8_t* data, std::size_t bytes) {
    const auto now = Clock::now();
    const std::size_t frames = bytes / kFrame;
    std::lock_guard<std::mutex> lock(mutex_);
    arrivals_.push_back(now);
    for (std::size_t f = 0; f < frames; ++f) {
      std::int16_t l, r;
      std::memcpy(&l, data + f * kFrame, 2);
      std::memcpy(&r, data + f * kFrame + 2, 2);
      const bool loud = std::abs(l) > kThreshold || std::abs(r) > kThreshold;
      // The frame reached the monitor this long before the piece arrived.
      const auto at = now - std::chrono::microseconds((frames - 1 - f) * 1000000 / kRate);
      if (loud && quiet_ > 8) starts_.push_back(at);
      if (loud) {
        last_loud_ = at;
        quiet_ = 0;
      } else if (++quiet_ == 9 && !starts_.empty() && ends_.size() < starts_.size()) {
        ends_.push_back(last_loud_);
      }
    }
  }

  std::unique_ptr<platform::CaptureStream> stream_;
  std::mutex mutex_;
  std::vector<Clock::time_point> arrivals_, starts_, ends_;
  Clock::time_point last_loud_;
  std::size_t quiet_ = 1000;
};

struct TRun {
  double heard_ms = NAN;
  std::vector<double> done_lag_ms;  // one per buffer whose end burst was heard
};

// Waits for every burst (the start and one per buffer) and what follows it.
bool WaitForBursts(TMonitor& monitor, const std::function<bool()>& ended) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline && (monitor.Bursts() < kBuffers + 1 || !ended()))
    WaitAndPump(5, true);
  return monitor.Bursts() >= kBuffers + 1;
}

TRun Measure(TMonitor& monitor, Clock::time_point play,
             const std::vector<Clock::time_point>& done) {
  TRun run;
  const auto starts = monitor.Starts();
  const auto ends = monitor.Ends();
  if (starts.empty()) return run;
  run.heard_ms = Ms(starts[0] - play);
  // Burst 0 is the start; burst b + 1 ends buffer b.
  for (std::size_t b = 0; b < done.size() && b + 1 < ends.size(); ++b)
    run.done_lag_ms.push_back(Ms(done[b] - ends[b + 1]));
  return run;
}

// The baseline: the signal written straight to a back-end stream.
TRun BareStream(TMonitor& monitor, const std::string& endpoint,
                const std::vector<std::int16_t>& signal) {
  monitor.Reset();
  std::atomic<std::size_t> offset{0};
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(signal.data());
  const std::size_t total = signal.size() * 2;
  std::atomic<std::uint64_t> consumed{0};
  // When each buffer's worth had been reported played, for comparison with
  // the player's notifications.
  std::mutex done_mutex;
  std::vector<Clock::time_point> done;
  const auto play = Clock::now();
  std::string reason;
  auto stream = platform::CurrentAudioBackend()->OpenPlayback(
      endpoint, platform::PcmFormat{}, platform::PlaybackOptions{},
      {[&](std::uint8_t* data, std::size_t n) {
         const std::size_t from = offset;
         const std::size_t take = std::min(n, total - from);
         std::memcpy(data, bytes + from, take);
         offset = from + take;
         return take;
       },
       [&](std::uint64_t played, std::uint64_t) {
         consumed = played;
         std::lock_guard<std::mutex> lock(done_mutex);
         while (done.size() < kBuffers && played >= (done.size() + 1) * kBufferBytes)
           done.push_back(Clock::now());
       },
       nullptr},
      &reason);
  if (!stream) {
    std::fprintf(stderr, "bench_play_latency: cannot play: %s\n", reason.c_str());
    std::exit(1);
  }
  stream->Start();
  WaitForBursts(monitor, [&] { return consumed >= total; });
  stream.reset();
  return Measure(monitor, play, done);
}

TRun Player(TMonitor& monitor, const std::string& file, TMMDeviceId k, bool dsound) {
  monitor.Reset();
  TMMAudioPlayer player(nullptr);
  player.SetBufferSize(static_cast<std::int32_t>(kBufferBytes));
  player.SetNumBuffers(10);
  player.SetDeviceID(InvalidId);
  player.SetCallBackMode(cmWindow);
  player.SetUseDSound(dsound);
  player.SetFileName(file);
  // Catalogue output k - 1; the DirectSound output counts the default first.
  player.SetDeviceID(dsound ? k : k - 1);
  std::vector<Clock::time_point> done;
  bool stopped = false;
  player.OnData = [&](TComponent*, PWaveHdr) { done.push_back(Clock::now()); };
  player.OnStop = [&](TComponent*) { stopped = true; };
  const auto play = Clock::now();
  player.Play();
  WaitForBursts(monitor, [&] { return stopped; });
  player.Stop();
  return Measure(monitor, play, done);
}

double Median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Report(const char* name, const std::vector<TRun>& runs) {
  std::vector<double> heard, lags;
  for (const TRun& r : runs) {
    heard.push_back(r.heard_ms);
    lags.insert(lags.end(), r.done_lag_ms.begin(), r.done_lag_ms.end());
  }
  std::printf("%-22s Play->heard median %6.1f ms  max %6.1f ms", name, Median(heard),
              *std::max_element(heard.begin(), heard.end()));
  if (!lags.empty()) {
    const auto [lo, hi] = std::minmax_element(lags.begin(), lags.end());
    std::printf("   done-heard median %6.1f ms  range %6.1f ... %6.1f ms (%zu buffers)",
                Median(lags), *lo, *hi, lags.size());
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "Usage: bench_play_latency MONITOR K [runs]\n");
    return 2;
  }
  const std::string monitor_name = argv[1];
  const int k = std::atoi(argv[2]);
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  platform::EnsureToolkit();
  InitAudioLibrary();
  auto backend = platform::CurrentAudioBackend();
  if (!backend || backend->Name() != "pulse") {
    std::fprintf(stderr, "bench_play_latency: needs the sound server\n");
    return 1;
  }
  const auto outputs = backend->Endpoints(platform::AudioDirection::kOutput);
  if (k < 1 || k > static_cast<int>(outputs.size())) {
    std::fprintf(stderr, "bench_play_latency: there is no output %d\n", k);
    return 1;
  }
  const std::string endpoint = outputs[static_cast<std::size_t>(k - 1)].id;

  const std::vector<std::int16_t> signal = Signal();
  const std::string file =
      (std::filesystem::temp_directory_path() / "tessaline-play-latency.wav").string();
  WAVEFORMATEX format{};
  BuildPCMFormat(format, 16, 2, kRate);
  PWaveIOBlock block = nullptr;
  if (WaveCreate(block, &format) != 0 || WaveCreateFile(block, file.c_str()) != 0 ||
      WaveWrite(block, reinterpret_cast<const char*>(signal.data()),
                static_cast<std::int32_t>(signal.size() * 2)) !=
          static_cast<std::int32_t>(signal.size() * 2) ||
      WaveFinish(block) != 0) {
    std::fprintf(stderr, "bench_play_latency: cannot write %s\n", file.c_str());
    return 1;
  }
  WaveFree(block);

  TMonitor monitor(monitor_name);
  if (!monitor.WaitForFlow()) {
    std::fprintf(stderr, "bench_play_latency: %s does not deliver steadily\n",
                 monitor_name.c_str());
    return 1;
  }
  std::vector<TRun> bare, wave, dsound;
  BareStream(monitor, endpoint, signal);  // warm-up
  for (int i = 0; i < runs; ++i) {
    bare.push_back(BareStream(monitor, endpoint, signal));
    wave.push_back(Player(monitor, file, k, false));
    dsound.push_back(Player(monitor, file, k, true));
  }
  std::filesystem::remove(file);
  std::printf("%d runs each on %s\n", runs, outputs[static_cast<std::size_t>(k - 1)].name.c_str());
  Report("back-end stream", bare);
  Report("player, wave output", wave);
  Report("player, DirectSound", dsound);
  return 0;
}
