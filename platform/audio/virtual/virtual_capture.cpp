// Capture streams of the virtual back-end.

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "platform/audio/virtual/virtual_backend.h"
#include "platform/audio/virtual/virtual_stream.h"

namespace platform {
namespace {

class VirtualCaptureStream : public CaptureStream, public VirtualStream {
 public:
  VirtualCaptureStream(const VirtualAudioBackend* backend, std::string endpoint_id,
                       VirtualInput input, PcmFormat format, std::size_t period_frames,
                       CaptureCallbacks callbacks)
      : VirtualStream(backend, std::move(endpoint_id)),
        input_(std::move(input)),
        format_(format),
        period_frames_(period_frames),
        lag_frames_(
            static_cast<std::uint64_t>(std::llround(input_.latency_ms * format.rate / 1000))),
        callbacks_(std::move(callbacks)) {
    StartThread();
  }

  ~VirtualCaptureStream() override { StopThread(); }

  void Start() override {
    std::lock_guard<std::mutex> lock(ClockState().mutex);
    if (started_ || lost_) return;
    started_ = true;
    Rebase();
    WakeThread();
  }

  void Stop() override {
    std::lock_guard<std::mutex> lock(ClockState().mutex);
    started_ = false;
  }

  void ReportHeld() override {
    std::lock_guard<std::mutex> lock(ClockState().mutex);
    report_held_ = true;
  }

  // The rest runs with ClockState().mutex held.

  // Delivers every frame recorded by the current time of the clock in use
  // and no longer held back by the device's latency, then tells how many it
  // still holds.
  void CatchUp() override {
    if (!started_) return;
    const std::uint64_t recorded = base_frames_ + ElapsedFrames(format_.rate);
    const std::uint64_t target = recorded > lag_frames_ ? recorded - lag_frames_ : 0;
    while (started_ && delivered_ < target) {
      std::uint64_t frames = std::min<std::uint64_t>(period_frames_, target - delivered_);
      Fill(frames);
      if (callbacks_.data) callbacks_.data(buffer_.data(), buffer_.size());
      delivered_ += frames;
    }
    if (started_ && report_held_ && callbacks_.held && recorded > delivered_) {
      callbacks_.held((recorded - delivered_) * format_.FrameBytes());
    }
  }

  void MarkLost() override {
    if (lost_) return;
    lost_ = true;
    started_ = false;
    if (callbacks_.lost) callbacks_.lost();
  }

 private:
  void OnRebase() override { base_frames_ = delivered_; }

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

  const VirtualInput input_;
  const PcmFormat format_;
  const std::size_t period_frames_;
  const std::uint64_t lag_frames_;  // the device's latency
  const CaptureCallbacks callbacks_;

  bool report_held_ = false;
  std::uint64_t delivered_ = 0;    // frames delivered since the stream was opened
  std::uint64_t base_frames_ = 0;  // frames delivered when the clock was last re-based
  std::vector<std::uint8_t> buffer_;
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

std::unique_ptr<CaptureStream> VirtualAudioBackend::OpenCapture(const std::string& endpoint_id,
                                                                const PcmFormat& format,
                                                                std::size_t preferred_chunk_bytes,
                                                                CaptureCallbacks callbacks,
                                                                std::string* reason) {
  const std::size_t index = VirtualEndpointIndex(endpoint_id, "in:", devices_.inputs.size());
  {
    std::lock_guard<std::mutex> lock(removed_mutex_);
    if (index >= devices_.inputs.size() || removed_inputs_[index]) {
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

}  // namespace platform
