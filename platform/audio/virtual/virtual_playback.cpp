// Playback streams of the virtual back-end.

#include <algorithm>
#include <cmath>
#include <deque>
#include <string>
#include <vector>

#include "platform/audio/virtual/virtual_backend.h"
#include "platform/audio/virtual/virtual_stream.h"

namespace platform {
namespace {

// Highest rate a stream may be set to play at.
constexpr std::uint32_t kMaxRate = 1000000;

class VirtualPlaybackStream : public PlaybackStream, public VirtualStream {
 public:
  VirtualPlaybackStream(const VirtualAudioBackend* backend, std::string endpoint_id,
                        PcmFormat format, const PlaybackOptions& options,
                        std::shared_ptr<VirtualAudioBackend::OutputRecord> record,
                        PlaybackCallbacks callbacks)
      : VirtualStream(backend, std::move(endpoint_id)),
        format_(format),
        frame_(format.FrameBytes()),
        capacity_(std::max(frame_, options.latency_bytes / frame_ * frame_)),
        variable_rate_(options.variable_rate),
        record_(std::move(record)),
        callbacks_(std::move(callbacks)),
        latency_frames_(std::uint64_t{format.rate} * record_->latency_ms / 1000),
        rate_(format.rate) {
    StartThread();
  }

  ~VirtualPlaybackStream() override { StopThread(); }

  void Start() override {
    std::lock_guard<std::mutex> lock(ClockState().mutex);
    if (started_ || lost_) return;
    started_ = true;
    Rebase();
    Fill();
    WakeThread();
  }

  void Stop() override {
    std::lock_guard<std::mutex> lock(ClockState().mutex);
    started_ = false;
  }

  void Flush() override {
    std::lock_guard<std::mutex> lock(ClockState().mutex);
    pending_.clear();
    // What the device held counts as heard: the output's record stays whole.
    record_->heard += consumed_ - heard_;
    held_.clear();
    consumed_ = heard_ = pulled_;
  }

  void Wake() override {
    std::lock_guard<std::mutex> lock(ClockState().mutex);
    if (!lost_) Fill();
  }

  void SetVolume(double left, double right) override {
    std::lock_guard<std::mutex> lock(ClockState().mutex);
    left_ = std::clamp(left, 0.0, 1.0);
    right_ = std::clamp(right, 0.0, 1.0);
  }

  bool SetRate(std::uint32_t frames_per_second) override {
    if (!variable_rate_ || frames_per_second == 0 || frames_per_second > kMaxRate) return false;
    std::lock_guard<std::mutex> lock(ClockState().mutex);
    rate_ = frames_per_second;
    resampled_ = 0;
    // Time from now on counts at the new rate.
    Rebase();
    return true;
  }

  // The rest runs with ClockState().mutex held.

  // Consumes the frames owed by the clock; time without pulled data passes in
  // silence. What the device took is heard its latency later.
  void CatchUp() override {
    const std::uint64_t target = base_frames_ + ElapsedFrames(rate_);
    while (started_ && clock_frames_ < target) {
      if (pending_.empty()) Fill();
      if (pending_.empty()) {
        clock_frames_ = target;
        break;
      }
      std::uint64_t frames =
          std::min<std::uint64_t>(pending_.size() / frame_, target - clock_frames_);
      held_.push_back({clock_frames_, consumed_, frames});
      Consume(static_cast<std::size_t>(frames * frame_));
      clock_frames_ += frames;
    }
    while (!held_.empty()) {
      const Held& h = held_.front();
      const std::uint64_t heard_from = h.taken_at + latency_frames_;
      if (clock_frames_ <= heard_from) break;
      const std::uint64_t frames = std::min(h.frames, clock_frames_ - heard_from);
      const std::uint64_t through = h.first + frames * frame_;
      if (through > heard_) {
        record_->heard += through - heard_;
        heard_ = through;
      }
      if (frames < h.frames) break;
      held_.pop_front();
    }
    Fill();
    const std::uint64_t in_device = consumed_ - heard_;
    if ((heard_ != reported_heard_ || in_device != reported_in_device_) && callbacks_.consumed) {
      reported_heard_ = heard_;
      reported_in_device_ = in_device;
      callbacks_.consumed(heard_, in_device);
    }
  }

  void MarkLost() override {
    if (lost_) return;
    lost_ = true;
    started_ = false;
    pending_.clear();
    if (callbacks_.lost) callbacks_.lost();
  }

 private:
  void OnRebase() override { base_frames_ = clock_frames_; }

  // Pulls until `capacity_` bytes wait to be played or the owner has no more.
  void Fill() {
    while (!lost_ && pending_.size() < capacity_ && callbacks_.pull) {
      std::size_t want = (capacity_ - pending_.size()) / frame_ * frame_;
      buffer_.resize(want);
      std::size_t got = std::min(want, callbacks_.pull(buffer_.data(), want)) / frame_ * frame_;
      if (got == 0) return;
      pending_.insert(pending_.end(), buffer_.begin(), buffer_.begin() + got);
      pulled_ += got;
    }
  }

  // Plays `bytes` (whole frames) of the pulled data into the output's record.
  void Consume(std::size_t bytes) {
    std::vector<std::uint8_t>& out = record_->bytes;
    const std::size_t sample = format_.bits / 8u;
    for (std::size_t at = 0; at < bytes; at += frame_) {
      std::uint64_t copies = 1;
      if (rate_ != format_.rate) {
        // Input frame i covers the device's frames ceil(i R / r) ... ceil((i+1) R / r) - 1.
        const std::uint64_t device = format_.rate, rate = rate_;
        auto edge = [&](std::uint64_t i) { return (i * device + rate - 1) / rate; };
        copies = edge(resampled_ + 1) - edge(resampled_);
        ++resampled_;
      }
      for (std::uint64_t copy = 0; copy < copies; ++copy) {
        for (unsigned c = 0; c < format_.channels; ++c) {
          const double gain =
              format_.channels == 1 ? std::max(left_, right_) : (c % 2 == 0 ? left_ : right_);
          const std::size_t i = at + c * sample;
          if (sample == 1) {
            out.push_back(
                static_cast<std::uint8_t>(128 + Scale(pending_[i] - 128, gain, -128, 127)));
          } else {
            auto raw = static_cast<std::int16_t>(pending_[i] | (pending_[i + 1] << 8));
            auto v = static_cast<std::uint16_t>(
                static_cast<std::int16_t>(Scale(raw, gain, -32768, 32767)));
            out.push_back(static_cast<std::uint8_t>(v & 0xFF));
            out.push_back(static_cast<std::uint8_t>(v >> 8));
          }
        }
      }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(bytes));
    consumed_ += bytes;
  }

  static int Scale(int value, double gain, int low, int high) {
    if (gain >= 1.0) return value;
    return std::clamp(static_cast<int>(std::lround(value * gain)), low, high);
  }

  const PcmFormat format_;
  const std::size_t frame_;
  const std::size_t capacity_;
  const bool variable_rate_;
  const std::shared_ptr<VirtualAudioBackend::OutputRecord> record_;
  const PlaybackCallbacks callbacks_;
  const std::uint64_t latency_frames_;  // the output's own latency

  // Frames taken from the stream one after the other from clock frame
  // `taken_at` on, the first of them byte `first` of the stream; each is
  // heard the latency later.
  struct Held {
    std::uint64_t taken_at;
    std::uint64_t first;
    std::uint64_t frames;
  };

  std::uint32_t rate_;
  double left_ = 1.0;
  double right_ = 1.0;
  std::deque<std::uint8_t> pending_;  // pulled, not yet consumed
  std::uint64_t pulled_ = 0;
  std::uint64_t consumed_ = 0;  // taken by the device (or dropped by a flush)
  std::uint64_t heard_ = 0;     // of those, heard
  std::deque<Held> held_;       // taken, not yet heard
  std::uint64_t reported_heard_ = 0;
  std::uint64_t reported_in_device_ = 0;
  std::uint64_t clock_frames_ = 0;  // frames of playing time accounted for
  std::uint64_t base_frames_ = 0;   // clock_frames_ at the last re-base
  std::uint64_t resampled_ = 0;     // frames consumed since the rate was last set
  std::vector<std::uint8_t> buffer_;
};

}  // namespace

std::unique_ptr<PlaybackStream> VirtualAudioBackend::OpenPlayback(const std::string& endpoint_id,
                                                                  const PcmFormat& format,
                                                                  const PlaybackOptions& options,
                                                                  PlaybackCallbacks callbacks,
                                                                  std::string* reason) {
  const std::size_t index = VirtualEndpointIndex(endpoint_id, "out:", devices_.outputs.size());
  {
    std::lock_guard<std::mutex> lock(removed_mutex_);
    if (index >= devices_.outputs.size() || removed_outputs_[index]) {
      if (reason) *reason = "no virtual output \"" + endpoint_id + "\"";
      return nullptr;
    }
  }
  if ((format.bits != 8 && format.bits != 16) || format.channels == 0 || format.rate == 0 ||
      format.rate > kMaxRate) {
    if (reason) *reason = "unsupported format";
    return nullptr;
  }
  PlaybackOptions chosen = options;
  if (chosen.latency_bytes == 0) {
    chosen.latency_bytes = std::max<std::size_t>(1, format.rate / 50) * format.FrameBytes();
  }
  const auto least = static_cast<std::size_t>(least_latency_.load().count());
  chosen.latency_bytes =
      std::max(chosen.latency_bytes, std::size_t{format.rate} * least / 1000 * format.FrameBytes());
  {
    std::lock_guard<std::mutex> lock(ClockState().mutex);
    records_[index]->channel_map = ChosenChannelMap(format, options);
  }
  return std::make_unique<VirtualPlaybackStream>(this, endpoint_id, format, chosen, records_[index],
                                                 std::move(callbacks));
}

}  // namespace platform
