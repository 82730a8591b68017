// Capture streams of the virtual back-end and their clock.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <numbers>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/virtual/virtual_backend.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kPeriod{10};

class VirtualCaptureStream;

// Everything the virtual streams share, under one lock: the clock and every
// stream's state. Data callbacks run with it held, so a stream's Stop or
// destruction waits for a delivery in progress. Never destroyed: streams may
// outlive static destruction order.
struct ClockState {
  std::mutex mutex;
  bool manual = false;
  std::uint64_t manual_ms = 0;
  std::set<VirtualCaptureStream*> streams;
};

ClockState& State() {
  static ClockState* state = new ClockState;
  return *state;
}

class VirtualCaptureStream : public CaptureStream {
 public:
  VirtualCaptureStream(const VirtualAudioBackend* backend, std::string endpoint_id,
                       VirtualInput input, PcmFormat format, std::size_t period_frames,
                       CaptureCallbacks callbacks)
      : backend_(backend),
        endpoint_id_(std::move(endpoint_id)),
        input_(std::move(input)),
        format_(format),
        period_frames_(period_frames),
        callbacks_(std::move(callbacks)) {
    {
      std::lock_guard<std::mutex> lock(State().mutex);
      State().streams.insert(this);
    }
    thread_ = std::thread([this] { Run(); });
  }

  ~VirtualCaptureStream() override {
    {
      std::lock_guard<std::mutex> lock(State().mutex);
      closing_ = true;
      started_ = false;
      State().streams.erase(this);
    }
    wake_.notify_all();
    thread_.join();
  }

  void Start() override {
    std::lock_guard<std::mutex> lock(State().mutex);
    if (started_ || lost_) return;
    started_ = true;
    Rebase();
    wake_.notify_all();
  }

  void Stop() override {
    std::lock_guard<std::mutex> lock(State().mutex);
    started_ = false;
  }

  // The rest runs with State().mutex held.

  bool Started() const { return started_; }
  bool On(const VirtualAudioBackend* backend, const std::string& id) const {
    return backend == backend_ && id == endpoint_id_;
  }

  // From now on the clock counts from the current time.
  void Rebase() {
    base_frames_ = delivered_;
    start_ms_ = State().manual_ms;
    start_time_ = Clock::now();
  }

  void Wake() { wake_.notify_all(); }

  // Delivers every frame owed by the current time of the clock in use.
  void CatchUp() {
    std::uint64_t owed;
    if (State().manual) {
      owed = (State().manual_ms - start_ms_) * format_.rate / 1000;
    } else {
      auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start_time_);
      std::uint64_t total = ns.count() > 0 ? static_cast<std::uint64_t>(ns.count()) : 0;
      owed = total / 1000000000u * format_.rate + total % 1000000000u * format_.rate / 1000000000u;
    }
    std::uint64_t target = base_frames_ + owed;
    while (started_ && delivered_ < target) {
      std::uint64_t frames = std::min<std::uint64_t>(period_frames_, target - delivered_);
      Fill(frames);
      if (callbacks_.data) callbacks_.data(buffer_.data(), buffer_.size());
      delivered_ += frames;
    }
  }

  void MarkLost() {
    if (lost_) return;
    lost_ = true;
    started_ = false;
    if (callbacks_.lost) callbacks_.lost();
  }

 private:
  void Fill(std::uint64_t frames) {
    const unsigned channels = format_.channels;
    const std::size_t sample_bytes = format_.bits / 8u;
    buffer_.resize(frames * channels * sample_bytes);
    std::uint8_t* out = buffer_.data();
    for (std::uint64_t f = 0; f < frames; ++f) {
      const std::uint64_t n = delivered_ + f;
      const int left = VirtualSampleValue(input_, 0, n, format_.rate, format_.bits);
      const int right =
          channels > 1 ? VirtualSampleValue(input_, 1, n, format_.rate, format_.bits) : left;
      for (unsigned c = 0; c < channels; ++c) {
        int value = (c % 2 == 0) ? left : right;
        if (sample_bytes == 1) {
          *out++ = static_cast<std::uint8_t>(value);
        } else {
          auto bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
          *out++ = static_cast<std::uint8_t>(bits & 0xFF);
          *out++ = static_cast<std::uint8_t>(bits >> 8);
        }
      }
    }
  }

  void Run() {
    ClockState& state = State();
    std::unique_lock<std::mutex> lock(state.mutex);
    while (!closing_) {
      if (!started_ || state.manual) {
        wake_.wait(lock);
        continue;
      }
      CatchUp();
      // Sleep to the next period boundary counted from the start, so that
      // late wake-ups never add up.
      auto elapsed = Clock::now() - start_time_;
      auto next = start_time_ + (elapsed / kPeriod + 1) * kPeriod;
      wake_.wait_until(lock, next);
    }
  }

  const VirtualAudioBackend* backend_;
  const std::string endpoint_id_;
  const VirtualInput input_;
  const PcmFormat format_;
  const std::size_t period_frames_;
  const CaptureCallbacks callbacks_;

  bool started_ = false;
  bool closing_ = false;
  bool lost_ = false;
  std::uint64_t delivered_ = 0;    // frames delivered since the stream was opened
  std::uint64_t base_frames_ = 0;  // frames delivered when the clock was last re-based
  std::uint64_t start_ms_ = 0;     // manual clock at the re-base
  Clock::time_point start_time_;   // steady clock at the re-base
  std::vector<std::uint8_t> buffer_;
  std::condition_variable wake_;
  std::thread thread_;
};

}  // namespace

int VirtualSampleValue(const VirtualInput& input, unsigned channel, std::uint64_t n,
                       std::uint32_t rate, unsigned bits) {
  const int center = bits == 8 ? 128 : 0;
  if (!input.has_tone || rate == 0) return center;
  const double level = channel % 2 == 0 ? input.left_dbfs : input.right_dbfs;
  const double x =
      std::sin(2.0 * std::numbers::pi * input.frequency_hz * static_cast<double>(n) / rate);
  const double a = std::pow(10.0, level / 20.0);
  if (bits == 8) return 128 + static_cast<int>(std::lround(127.0 * a * x));
  return static_cast<int>(std::lround(32767.0 * a * x));
}

void VirtualClock::SetManual(bool manual) {
  ClockState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.manual == manual) return;
  state.manual = manual;
  for (VirtualCaptureStream* stream : state.streams) {
    if (stream->Started()) stream->Rebase();
    stream->Wake();
  }
}

bool VirtualClock::IsManual() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return State().manual;
}

void VirtualClock::Advance(unsigned milliseconds) {
  ClockState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.manual) return;
  state.manual_ms += milliseconds;
  for (VirtualCaptureStream* stream : state.streams) {
    if (stream->Started()) stream->CatchUp();
  }
}

VirtualAudioBackend::~VirtualAudioBackend() = default;

std::unique_ptr<CaptureStream> VirtualAudioBackend::OpenCapture(const std::string& endpoint_id,
                                                                const PcmFormat& format,
                                                                std::size_t preferred_chunk_bytes,
                                                                CaptureCallbacks callbacks,
                                                                std::string* reason) {
  const std::string prefix = "in:";
  std::size_t index = devices_.inputs.size();
  if (endpoint_id.compare(0, prefix.size(), prefix) == 0 && endpoint_id.size() > prefix.size() &&
      endpoint_id.find_first_not_of("0123456789", prefix.size()) == std::string::npos &&
      endpoint_id.size() - prefix.size() < 10) {
    index = std::stoul(endpoint_id.substr(prefix.size()));
  }
  {
    std::lock_guard<std::mutex> lock(removed_mutex_);
    if (index >= devices_.inputs.size() || removed_[index]) {
      if (reason) *reason = "no virtual input \"" + endpoint_id + "\"";
      return nullptr;
    }
  }
  if ((format.bits != 8 && format.bits != 16) || format.channels == 0 || format.rate == 0) {
    if (reason) *reason = "unsupported format";
    return nullptr;
  }
  std::size_t period = std::max<std::size_t>(1, format.rate / 100);
  if (preferred_chunk_bytes > 0) {
    period =
        std::min(period, std::max<std::size_t>(1, preferred_chunk_bytes / format.FrameBytes()));
  }
  return std::make_unique<VirtualCaptureStream>(this, endpoint_id, devices_.inputs[index], format,
                                                period, std::move(callbacks));
}

void VirtualAudioBackend::RemoveInput(const std::string& endpoint_id) {
  {
    std::lock_guard<std::mutex> lock(removed_mutex_);
    for (std::size_t i = 0; i < devices_.inputs.size(); ++i) {
      if ("in:" + std::to_string(i) == endpoint_id) removed_[i] = true;
    }
  }
  std::lock_guard<std::mutex> lock(State().mutex);
  for (VirtualCaptureStream* stream : State().streams) {
    if (stream->On(this, endpoint_id)) stream->MarkLost();
  }
}

}  // namespace platform
