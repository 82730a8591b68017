// Capture streams of the ALSA back-end.

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/alsa/alsa_backend.h"
#include "platform/audio/alsa/alsa_pcm.h"

namespace platform {
namespace {

constexpr int kWaitMs = 20;
constexpr int kReadRounds = 8;

// One capture PCM read by a thread of its own. The PCM is used under mutex_
// (but for the thread's wait, which ALSA allows beside the other calls), and
// the data callback runs under it too, so that once Stop returns no callback
// runs.
class AlsaCaptureStream : public CaptureStream {
 public:
  AlsaCaptureStream(const AlsaPcm& pcm, std::size_t frame_bytes, CaptureCallbacks callbacks)
      : pcm_(pcm.pcm),
        frame_(frame_bytes),
        chunk_frames_(pcm.period_frames),
        callbacks_(std::move(callbacks)) {
    thread_ = std::thread([this] { Run(); });
  }

  ~AlsaCaptureStream() override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      closing_ = true;
    }
    idle_.notify_all();
    thread_.join();
    snd_pcm_close(pcm_);
  }

  void Start() override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (running_ || lost_) return;
      // Started by the first read, once the device is ready for it (a
      // plugin's stream may still be connecting).
      if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED && snd_pcm_prepare(pcm_) < 0) {
        Lose();
        return;
      }
      running_ = true;
    }
    idle_.notify_all();
  }

  void Stop() override {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!running_) return;
    running_ = false;
    snd_pcm_drop(pcm_);
  }

  void ReportHeld() override {
    std::lock_guard<std::mutex> hold(mutex_);
    report_held_ = true;
  }

 private:
  // With mutex_ held.
  void Lose() {
    if (lost_) return;
    lost_ = true;
    running_ = false;
    if (callbacks_.lost) callbacks_.lost();
  }

  // The stream's thread: waits for recorded data and hands it on. ALSA's
  // own wait lets a plugin take note of its wake-ups; the stream's state is
  // looked at every kWaitMs, so a stop or a close is seen that soon.
  void Run() {
    std::vector<std::uint8_t> chunk(chunk_frames_ * frame_);
    for (;;) {
      std::unique_lock<std::mutex> hold(mutex_);
      idle_.wait(hold, [this] { return closing_ || running_; });
      if (closing_) return;
      Read(chunk);
      hold.unlock();
      snd_pcm_wait(pcm_, kWaitMs);
    }
  }

  // Reads what the device holds, a few periods at most, so that a device
  // that always has more (a plugin that does not keep time) lets Stop in;
  // with mutex_ held.
  void Read(std::vector<std::uint8_t>& chunk) {
    for (int round = 0; round < kReadRounds && running_; ++round) {
      const snd_pcm_sframes_t got = snd_pcm_readi(pcm_, chunk.data(), chunk_frames_);
      if (got == -EAGAIN || got == 0) return;
      if (got < 0) {
        // An overrun loses what the device could not hold; recording goes on.
        if (RecoverAlsaPcm(pcm_, static_cast<int>(got))) continue;
        Lose();
        return;
      }
      if (callbacks_.data) callbacks_.data(chunk.data(), static_cast<std::size_t>(got) * frame_);
      // What the device recorded and has not handed over yet.
      snd_pcm_sframes_t delay = 0;
      if (report_held_ && callbacks_.held && snd_pcm_delay(pcm_, &delay) == 0 && delay > 0) {
        callbacks_.held(static_cast<std::uint64_t>(delay) * frame_);
      }
    }
  }

  snd_pcm_t* const pcm_;
  const std::size_t frame_;
  const snd_pcm_uframes_t chunk_frames_;
  const CaptureCallbacks callbacks_;
  std::mutex mutex_;
  std::condition_variable idle_;  // a start or a close
  bool running_ = false;
  bool report_held_ = false;
  bool lost_ = false;
  bool closing_ = false;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<CaptureStream> AlsaAudioBackend::OpenCapture(const std::string& endpoint_id,
                                                             const PcmFormat& format,
                                                             std::size_t preferred_chunk_bytes,
                                                             CaptureCallbacks callbacks,
                                                             std::string* reason) {
  const std::size_t frame = format.FrameBytes();
  const snd_pcm_uframes_t period = std::max<std::size_t>(1, preferred_chunk_bytes / frame);
  // Room for a stall of the reading thread of about a quarter of a second.
  const snd_pcm_uframes_t buffer = std::max<snd_pcm_uframes_t>(period * 4, format.rate / 4);
  AlsaPcm pcm;
  if (!OpenAlsaPcm(endpoint_id, SND_PCM_STREAM_CAPTURE, format, period, buffer, &pcm, reason)) {
    return nullptr;
  }
  return std::make_unique<AlsaCaptureStream>(pcm, frame, std::move(callbacks));
}

}  // namespace platform
