// Playback streams of the ALSA back-end.

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/alsa/alsa_backend.h"
#include "platform/audio/alsa/alsa_pcm.h"

namespace platform {
namespace {

// The least a stream keeps in the device, as with the sound server: what a
// stall of the machine may last without a gap.
constexpr std::uint64_t kLeastLatencyMs = 100;
// How often a stream that has nothing to write looks at how far it played.
constexpr int kIdlePollMs = 5;

// One playback PCM fed by a thread of its own. The PCM, the counters and the
// callbacks are used only under mutex_; the thread waits in poll without it.
//
// Everything pulled is either played, in the device (its delay), or waiting
// here (pending_: what a Stop took back from the device, played first after
// the next Start). A Stop drops what the device holds and keeps its copy of
// it (history_, the bytes last written), so that it works on every device,
// also those that cannot pause.
class AlsaPlaybackStream : public PlaybackStream {
 public:
  AlsaPlaybackStream(const AlsaPcm& pcm, const PcmFormat& format, PlaybackCallbacks callbacks)
      : pcm_(pcm.pcm),
        format_(format),
        frame_(format.FrameBytes()),
        period_frames_(pcm.period_frames),
        history_limit_(pcm.buffer_frames * format.FrameBytes()),
        callbacks_(std::move(callbacks)) {
    snd_pcm_prepare(pcm_);
    thread_ = std::thread([this] { Run(); });
  }

  ~AlsaPlaybackStream() override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      closing_ = true;
    }
    wake_.Signal();
    thread_.join();
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
  }

  void Start() override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (running_ || lost_) return;
      running_ = true;
      Feed();
    }
    wake_.Signal();
  }

  void Stop() override {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!running_) return;
    running_ = false;
    if (lost_) return;
    // What the device still holds comes back to the front of pending_.
    const std::uint64_t held = std::min<std::uint64_t>(DeviceBytes(), history_.size());
    pending_.insert(pending_.begin(), history_.end() - static_cast<std::ptrdiff_t>(held),
                    history_.end());
    history_.clear();
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
    Report();
  }

  void Flush() override {
    std::lock_guard<std::mutex> hold(mutex_);
    pending_.clear();
    history_.clear();
    floor_ = pulled_;
    if (!lost_) {
      snd_pcm_drop(pcm_);
      snd_pcm_prepare(pcm_);
    }
    Report();
  }

  void Wake() override { wake_.Signal(); }

  void SetVolume(double left, double right) override {
    std::lock_guard<std::mutex> hold(mutex_);
    left_ = std::clamp(left, 0.0, 1.0);
    right_ = std::clamp(right, 0.0, 1.0);
  }

  // ALSA cannot change a running stream's rate.
  bool SetRate(std::uint32_t) override { return false; }

 private:
  // Bytes written to the device and not yet audible; with mutex_ held.
  std::uint64_t DeviceBytes() {
    snd_pcm_sframes_t delay = 0;
    switch (snd_pcm_state(pcm_)) {
      case SND_PCM_STATE_RUNNING:
      case SND_PCM_STATE_DRAINING:
      case SND_PCM_STATE_PAUSED:
        if (snd_pcm_delay(pcm_, &delay) < 0) delay = 0;
        break;
      case SND_PCM_STATE_PREPARED: {
        // Written, not started: all of it waits.
        const snd_pcm_sframes_t avail = snd_pcm_avail(pcm_);
        snd_pcm_uframes_t buffer = 0, period = 0;
        snd_pcm_get_params(pcm_, &buffer, &period);
        delay = avail >= 0 ? static_cast<snd_pcm_sframes_t>(buffer) - avail : 0;
        break;
      }
      default:  // ran dry (underrun): everything written was played
        break;
    }
    return static_cast<std::uint64_t>(std::max<snd_pcm_sframes_t>(0, delay)) * frame_;
  }

  // With mutex_ held.
  void Lose() {
    if (lost_) return;
    lost_ = true;
    running_ = false;
    if (callbacks_.lost) callbacks_.lost();
  }

  // Applies the volume to bytes about to be written.
  void ApplyVolume(std::uint8_t* data, std::size_t bytes) const {
    if (left_ >= 1.0 && right_ >= 1.0) return;
    const std::size_t sample_bytes = format_.bits / 8u;
    const std::size_t samples = bytes / sample_bytes;
    for (std::size_t i = 0; i < samples; ++i) {
      const unsigned channel = static_cast<unsigned>(i % format_.channels);
      const double gain =
          format_.channels == 1 ? std::max(left_, right_) : (channel % 2 == 0 ? left_ : right_);
      if (sample_bytes == 1) {
        data[i] = static_cast<std::uint8_t>(128 + static_cast<int>((data[i] - 128) * gain));
      } else {
        std::int16_t sample;
        std::memcpy(&sample, data + 2 * i, 2);
        sample = static_cast<std::int16_t>(sample * gain);
        std::memcpy(data + 2 * i, &sample, 2);
      }
    }
  }

  // Writes what there is to write, as far as the device takes it, and at
  // most a buffer's worth, so that a device that always takes more (a plugin
  // that does not keep time) lets the other calls in; with mutex_ held.
  void Feed() {
    if (!running_ || lost_) return;
    ran_out_ = false;
    std::uint64_t written_now = 0;
    while (written_now <= history_limit_) {
      snd_pcm_sframes_t room = snd_pcm_avail_update(pcm_);
      if (room < 0) {
        // Ran dry (everything written was played) or suspended: ready anew.
        if (!RecoverAlsaPcm(pcm_, static_cast<int>(room))) {
          Lose();
          return;
        }
        history_.clear();
        continue;
      }
      if (room == 0) break;
      const std::size_t frames =
          std::min<std::size_t>(static_cast<std::size_t>(room), period_frames_);
      chunk_.resize(frames * frame_);
      std::size_t got;
      if (!pending_.empty()) {
        got = std::min(chunk_.size(), pending_.size() / frame_ * frame_);
        std::copy(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(got),
                  chunk_.begin());
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(got));
      } else {
        got = callbacks_.pull ? callbacks_.pull(chunk_.data(), chunk_.size()) : 0;
        got = std::min(got, chunk_.size()) / frame_ * frame_;
        ApplyVolume(chunk_.data(), got);
        pulled_ += got;
      }
      if (got == 0) {
        ran_out_ = true;
        break;
      }
      const snd_pcm_sframes_t written =
          snd_pcm_writei(pcm_, chunk_.data(), static_cast<snd_pcm_uframes_t>(got / frame_));
      const std::size_t taken =
          written > 0 ? static_cast<std::size_t>(written) * frame_ : std::size_t{0};
      // What the device did not take waits for the next round.
      pending_.insert(pending_.begin(), chunk_.begin() + static_cast<std::ptrdiff_t>(taken),
                      chunk_.begin() + static_cast<std::ptrdiff_t>(got));
      history_.insert(history_.end(), chunk_.begin(),
                      chunk_.begin() + static_cast<std::ptrdiff_t>(taken));
      if (history_.size() > history_limit_) {
        history_.erase(history_.begin(),
                       history_.end() - static_cast<std::ptrdiff_t>(history_limit_));
      }
      if (written < 0 && written != -EAGAIN) {
        if (!RecoverAlsaPcm(pcm_, static_cast<int>(written))) {
          Lose();
          return;
        }
        history_.clear();
      }
      if (written <= 0) break;
      written_now += taken;
    }
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED && DeviceBytes() > 0) {
      // Started with a period in the device, or with whatever the owner had
      // when that was all.
      snd_pcm_sframes_t avail = snd_pcm_avail(pcm_);
      snd_pcm_uframes_t buffer = 0, period = 0;
      snd_pcm_get_params(pcm_, &buffer, &period);
      if (ran_out_ || avail <= static_cast<snd_pcm_sframes_t>(buffer - period)) {
        const int err = snd_pcm_start(pcm_);
        if (err < 0 && !RecoverAlsaPcm(pcm_, err)) Lose();
      }
    }
  }

  // Tells the owner how far the device played; with mutex_ held.
  void Report() {
    if (!callbacks_.consumed) return;
    std::uint64_t in_device = running_ && !lost_ ? DeviceBytes() : 0;
    const std::uint64_t waiting = pending_.size() + in_device;
    std::uint64_t total = pulled_ > waiting ? pulled_ - waiting : 0;
    total = std::min(std::max({total, floor_, consumed_}), pulled_);
    in_device = std::min(in_device, pulled_ - total);
    if (total == consumed_ && in_device == in_device_) return;
    consumed_ = total;
    in_device_ = in_device;
    callbacks_.consumed(consumed_, in_device_);
  }

  // The stream's thread: writes as the device makes room and reports what
  // it played.
  void Run() {
    std::vector<pollfd> fds;
    for (;;) {
      int timeout = 200;
      {
        std::lock_guard<std::mutex> hold(mutex_);
        if (closing_) return;
        fds.clear();
        if (running_ && !lost_) {
          Feed();
          if (!lost_) Report();
          if (ran_out_) {
            // Nothing to write: woken by Wake, and now and then to report.
            timeout = kIdlePollMs;
          } else {
            const int count = snd_pcm_poll_descriptors_count(pcm_);
            if (count > 0) {
              fds.resize(static_cast<std::size_t>(count));
              snd_pcm_poll_descriptors(pcm_, fds.data(), static_cast<unsigned>(count));
            }
            timeout = kIdlePollMs * 4;
          }
        }
      }
      fds.push_back({wake_.ReadFd(), POLLIN, 0});
      poll(fds.data(), fds.size(), timeout);
      if (fds.back().revents != 0) wake_.Drain();
      if (fds.size() > 1) {
        // The device takes note of its wake-up (a plugin clears its own).
        std::lock_guard<std::mutex> hold(mutex_);
        unsigned short revents = 0;
        if (!closing_ && !lost_) {
          snd_pcm_poll_descriptors_revents(pcm_, fds.data(), static_cast<unsigned>(fds.size() - 1),
                                           &revents);
        }
      }
    }
  }

  snd_pcm_t* const pcm_;
  const PcmFormat format_;
  const std::size_t frame_;
  const snd_pcm_uframes_t period_frames_;
  const std::size_t history_limit_;
  const PlaybackCallbacks callbacks_;
  WakePipe wake_;
  std::mutex mutex_;
  std::vector<std::uint8_t> chunk_;
  std::deque<std::uint8_t> pending_;
  std::deque<std::uint8_t> history_;
  bool running_ = false;
  bool lost_ = false;
  bool closing_ = false;
  bool ran_out_ = false;
  double left_ = 1.0;
  double right_ = 1.0;
  std::uint64_t pulled_ = 0;     // bytes pulled from the owner since the stream was opened
  std::uint64_t consumed_ = 0;   // the last total reported
  std::uint64_t in_device_ = 0;  // and what the device held after it
  std::uint64_t floor_ = 0;      // pulled_ at the last flush
  std::thread thread_;
};

}  // namespace

std::unique_ptr<PlaybackStream> AlsaAudioBackend::OpenPlayback(const std::string& endpoint_id,
                                                               const PcmFormat& format,
                                                               const PlaybackOptions& options,
                                                               PlaybackCallbacks callbacks,
                                                               std::string* reason) {
  const std::size_t frame = format.FrameBytes();
  std::size_t latency = options.latency_bytes / frame;
  latency = std::max<std::size_t>(latency, format.rate * kLeastLatencyMs / 1000);
  AlsaPcm pcm;
  if (!OpenAlsaPcm(endpoint_id, SND_PCM_STREAM_PLAYBACK, format, latency / 4, latency, &pcm,
                   reason)) {
    return nullptr;
  }
  return std::make_unique<AlsaPlaybackStream>(pcm, format, std::move(callbacks));
}

}  // namespace platform
