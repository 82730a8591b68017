// Playback streams of the pulse back-end.

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

#include "platform/audio/pulse/pulse_backend.h"
#include "platform/audio/pulse/pulse_backlog.h"
#include "platform/audio/pulse/pulse_loop.h"
#include "platform/audio/pulse/pulse_wait.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// How often a playing stream asks the server how far it has played.
constexpr pa_usec_t kPollUsec = 5000;
// The least a stream keeps at the server. The server goes on playing while
// the client is not scheduled; when the whole machine stalls (a busy or
// virtual machine stalls for 100 ms and more) the server catches up at once
// on waking and plays what it holds, so this is what a stall may last
// without a gap or a skip in the sound.
constexpr std::uint64_t kLeastLatencyMs = 100;

// One playback stream. Every member is used with the main loop locked.
// What has been consumed is what was written less what the server's timing
// answers say is not yet audible (see PlaybackBacklog).
// The server's map of these positions; auxiliary channels are numbered in
// order. False when there are more channels than the server takes.
bool ToPulseMap(const std::vector<ChannelPosition>& positions, pa_channel_map* map) {
  static constexpr pa_channel_position_t kSpeakers[] = {PA_CHANNEL_POSITION_FRONT_LEFT,
                                                        PA_CHANNEL_POSITION_FRONT_RIGHT,
                                                        PA_CHANNEL_POSITION_FRONT_CENTER,
                                                        PA_CHANNEL_POSITION_LFE,
                                                        PA_CHANNEL_POSITION_REAR_LEFT,
                                                        PA_CHANNEL_POSITION_REAR_RIGHT,
                                                        PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER,
                                                        PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER,
                                                        PA_CHANNEL_POSITION_REAR_CENTER,
                                                        PA_CHANNEL_POSITION_SIDE_LEFT,
                                                        PA_CHANNEL_POSITION_SIDE_RIGHT,
                                                        PA_CHANNEL_POSITION_TOP_CENTER,
                                                        PA_CHANNEL_POSITION_TOP_FRONT_LEFT,
                                                        PA_CHANNEL_POSITION_TOP_FRONT_CENTER,
                                                        PA_CHANNEL_POSITION_TOP_FRONT_RIGHT,
                                                        PA_CHANNEL_POSITION_TOP_REAR_LEFT,
                                                        PA_CHANNEL_POSITION_TOP_REAR_CENTER,
                                                        PA_CHANNEL_POSITION_TOP_REAR_RIGHT,
                                                        PA_CHANNEL_POSITION_MONO};
  if (positions.empty() || positions.size() > PA_CHANNELS_MAX) return false;
  pa_channel_map_init(map);
  map->channels = static_cast<std::uint8_t>(positions.size());
  int aux = 0;
  for (std::size_t c = 0; c < positions.size(); ++c) {
    const auto index = static_cast<std::size_t>(positions[c]);
    map->map[c] = index < std::size(kSpeakers)
                      ? kSpeakers[index]
                      : static_cast<pa_channel_position_t>(PA_CHANNEL_POSITION_AUX0 + aux++);
  }
  return pa_channel_map_valid(map) != 0;
}

class PulsePlaybackStream : public PlaybackStream {
 public:
  PulsePlaybackStream(PulseLoop* mainloop, const PcmFormat& format, PlaybackCallbacks callbacks)
      : mainloop_(mainloop),
        format_(format),
        frame_(format.FrameBytes()),
        callbacks_(std::move(callbacks)),
        backlog_(format.rate, static_cast<std::uint32_t>(frame_)) {}

  ~PulsePlaybackStream() override {
    mainloop_->Lock();
    Release();
    mainloop_->Unlock();
  }

  // Connects to the sink and waits until the stream is ready (corked).
  bool Connect(pa_context* context, const std::string& sink, const PlaybackOptions& options,
               Clock::time_point deadline, std::string* reason) {
    pa_sample_spec sample_spec;
    sample_spec.format = format_.bits == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    sample_spec.rate = format_.rate;
    sample_spec.channels = static_cast<std::uint8_t>(format_.channels);
    pa_channel_map map;
    if (!pa_sample_spec_valid(&sample_spec) ||
        !ToPulseMap(ChosenChannelMap(format_, options), &map)) {
      if (reason) *reason = "PulseAudio: unsupported format";
      return false;
    }
    stream_ = pa_stream_new(context, "Wave output", &sample_spec, &map);
    if (stream_ == nullptr) {
      if (reason) *reason = std::string("PulseAudio: ") + pa_strerror(pa_context_errno(context));
      return false;
    }
    variable_rate_ = options.variable_rate;
    pa_stream_set_state_callback(stream_, OnState, this);
    pa_stream_set_write_callback(stream_, OnWrite, this);
    std::size_t latency = options.latency_bytes;
    if (latency == 0) latency = std::max<std::size_t>(1, format_.rate / 50) * frame_;
    latency = std::max<std::size_t>(latency,
                                    std::uint64_t{format_.rate} * kLeastLatencyMs / 1000 * frame_);
    latency = std::max(frame_, latency / frame_ * frame_);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(latency);
    // Playback begins as soon as one frame is there, so that even a short
    // last piece is played; after running dry the server waits for new data
    // instead of running ahead of it.
    attr.prebuf = static_cast<std::uint32_t>(frame_);
    attr.minreq = static_cast<std::uint32_t>(std::max(frame_, latency / 4 / frame_ * frame_));
    attr.fragsize = static_cast<std::uint32_t>(-1);
    // Not moved to another sink when this one goes away: the stream fails and
    // the owner hears of it.
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                                PA_STREAM_DONT_MOVE);
    if (variable_rate_) flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_VARIABLE_RATE);
    // The stream starts at full volume, whatever the server remembers for it.
    pa_cvolume volume = Volume();
    if (pa_stream_connect_playback(stream_, sink.c_str(), &attr, flags, &volume, nullptr) < 0) {
      if (reason) *reason = std::string("PulseAudio: ") + pa_strerror(pa_context_errno(context));
      Release();
      return false;
    }
    if (!WaitUntilReady(mainloop_, stream_, deadline, "playback", reason)) {
      Release();
      return false;
    }
    connected_ = true;
    Fill();
    return true;
  }

  void Start() override {
    mainloop_->Lock();
    if (Usable() && !running_) {
      running_ = true;
      backlog_.Restart();
      // A session manager may have put a volume it remembers on the new
      // stream; it plays at its own.
      SendVolume(Volume());
      Forget(pa_stream_cork(stream_, 0, nullptr, nullptr));
      Fill();
      Poll();
    }
    mainloop_->Unlock();
  }

  void Stop() override {
    mainloop_->Lock();
    if (Usable() && running_) {
      running_ = false;
      Forget(pa_stream_cork(stream_, 1, nullptr, nullptr));
      // One last look, answered after the cork: what played up to the pause.
      RequestTiming();
    }
    mainloop_->Unlock();
  }

  void Flush() override {
    mainloop_->Lock();
    if (Usable()) Forget(pa_stream_flush(stream_, nullptr, nullptr));
    backlog_.Restart();
    floor_ = pulled_;
    mainloop_->Unlock();
  }

  void Wake() override {
    mainloop_->Lock();
    Fill();
    mainloop_->Unlock();
  }

  void SetVolume(double left, double right) override {
    mainloop_->Lock();
    left_ = std::clamp(left, 0.0, 1.0);
    right_ = std::clamp(right, 0.0, 1.0);
    if (Usable()) SendVolume(Volume());
    mainloop_->Unlock();
  }

  bool SetRate(std::uint32_t frames_per_second) override {
    if (frames_per_second == 0 || frames_per_second > PA_RATE_MAX) return false;
    mainloop_->Lock();
    bool ok = variable_rate_ && Usable();
    if (ok) {
      pa_operation* op = pa_stream_update_sample_rate(stream_, frames_per_second, nullptr, nullptr);
      ok = op != nullptr;
      Forget(op);
    }
    mainloop_->Unlock();
    return ok;
  }

 private:
  static void Forget(pa_operation* op) {
    if (op != nullptr) pa_operation_unref(op);
  }

  bool Usable() const {
    return stream_ != nullptr && !lost_ && pa_stream_get_state(stream_) == PA_STREAM_READY;
  }

  void SendVolume(const pa_cvolume& volume) {
    Forget(pa_context_set_sink_input_volume(
        pa_stream_get_context(stream_), pa_stream_get_index(stream_), &volume, nullptr, nullptr));
  }

  pa_cvolume Volume() const {
    pa_cvolume volume;
    pa_cvolume_init(&volume);
    volume.channels = static_cast<std::uint8_t>(format_.channels);
    for (unsigned c = 0; c < format_.channels; ++c) {
      double gain = format_.channels == 1 ? std::max(left_, right_) : (c % 2 == 0 ? left_ : right_);
      volume.values[c] = pa_sw_volume_from_linear(gain);
    }
    return volume;
  }

  void Release() {
    if (poll_ != nullptr) {
      pa_mainloop_api* api = mainloop_->Api();
      api->time_free(poll_);
      poll_ = nullptr;
    }
    if (timing_ != nullptr) {
      pa_operation_cancel(timing_);
      pa_operation_unref(timing_);
      timing_ = nullptr;
    }
    if (stream_ == nullptr) return;
    if (Usable() && (left_ < 1.0 || right_ < 1.0)) {
      // A session manager remembers the last volume of a program's streams
      // and gives it to its next ones: leave full volume, silently, so that
      // a mute or a pan of this stream does not silence the next.
      if (running_) Forget(pa_stream_cork(stream_, 1, nullptr, nullptr));
      pa_cvolume full;
      pa_cvolume_reset(&full, static_cast<unsigned>(format_.channels));
      SendVolume(full);
    }
    running_ = false;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }

  // Writes what the owner has, as far as the server takes it.
  void Fill() {
    if (!Usable() || !callbacks_.pull) return;
    std::size_t writable = pa_stream_writable_size(stream_);
    if (writable == static_cast<std::size_t>(-1)) return;
    while (writable >= frame_) {
      void* data = nullptr;
      std::size_t size = writable / frame_ * frame_;
      if (pa_stream_begin_write(stream_, &data, &size) < 0 || data == nullptr) return;
      size = size / frame_ * frame_;
      std::size_t got = 0;
      if (size > 0) {
        got = std::min(size, callbacks_.pull(static_cast<std::uint8_t*>(data), size));
        got = got / frame_ * frame_;
      }
      if (got == 0) {
        pa_stream_cancel_write(stream_);
        RunOut();
        return;
      }
      if (pa_stream_write(stream_, data, got, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
      pulled_ += got;
      ran_out_ = false;
      writable -= std::min(writable, got);
    }
  }

  // The owner has nothing more for now: the server is told to play out what
  // it holds, as it would otherwise keep a last piece shorter than its own
  // period until more comes (PipeWire does).
  void RunOut() {
    if (ran_out_ || !running_) return;
    ran_out_ = true;
    Forget(pa_stream_drain(stream_, nullptr, nullptr));
  }

  // While playing: every few milliseconds, write and ask how far it played.
  void Poll() {
    if (!running_ || !Usable()) return;
    Fill();
    if (pulled_ > consumed_) RequestTiming();
    struct timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, kPollUsec);
    pa_mainloop_api* api = mainloop_->Api();
    if (poll_ == nullptr) {
      poll_ = api->time_new(api, &when, OnPoll, this);
    } else {
      api->time_restart(poll_, &when);
    }
  }

  void RequestTiming() {
    if (timing_ != nullptr || !Usable()) return;
    timing_ = pa_stream_update_timing_info(stream_, OnTiming, this);
  }

  // Works out what has become audible from the latest timing answer.
  void Update() {
    const pa_timing_info* info = pa_stream_get_timing_info(stream_);
    if (info == nullptr || info->write_index_corrupt || info->read_index_corrupt) return;
    PlaybackTiming timing;
    timing.write_index = info->write_index;
    timing.read_index = info->read_index;
    timing.playing = info->playing != 0;
    timing.sink_usec = info->sink_usec;
    timing.reported_usec = pa_timeval_load(&info->timestamp);
    struct timeval now;
    pa_gettimeofday(&now);
    std::uint64_t waiting = backlog_.Waiting(timing, pa_timeval_load(&now), running_);
    waiting = waiting / frame_ * frame_;
    Report(pulled_ > waiting ? pulled_ - waiting : 0, backlog_.InSink() / frame_ * frame_);
  }

  void Report(std::uint64_t total, std::uint64_t in_sink) {
    total = std::min(std::max(total, floor_), pulled_);
    in_sink = std::min(in_sink, pulled_ - total);
    if (total < consumed_ || (total == consumed_ && in_sink == in_sink_)) return;
    consumed_ = total;
    in_sink_ = in_sink;
    if (callbacks_.consumed) callbacks_.consumed(consumed_, in_sink_);
  }

  static void OnState(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulsePlaybackStream*>(userdata);
    self->mainloop_->Signal();
    pa_stream_state_t state = pa_stream_get_state(stream);
    if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && self->connected_ &&
        !self->lost_) {
      self->lost_ = true;
      self->running_ = false;
      if (self->callbacks_.lost) self->callbacks_.lost();
    }
  }

  static void OnWrite(pa_stream*, std::size_t, void* userdata) {
    static_cast<PulsePlaybackStream*>(userdata)->Fill();
  }

  static void OnPoll(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    static_cast<PulsePlaybackStream*>(userdata)->Poll();
  }

  static void OnTiming(pa_stream*, int success, void* userdata) {
    auto* self = static_cast<PulsePlaybackStream*>(userdata);
    if (self->timing_ != nullptr) {
      pa_operation_unref(self->timing_);
      self->timing_ = nullptr;
    }
    if (success && !self->lost_) self->Update();
  }

  PulseLoop* const mainloop_;
  const PcmFormat format_;
  const std::size_t frame_;
  const PlaybackCallbacks callbacks_;
  PlaybackBacklog backlog_;
  pa_stream* stream_ = nullptr;
  pa_time_event* poll_ = nullptr;
  pa_operation* timing_ = nullptr;
  bool variable_rate_ = false;
  bool connected_ = false;
  bool running_ = false;
  bool lost_ = false;
  bool ran_out_ = true;  // nothing written since the last drain
  double left_ = 1.0;
  double right_ = 1.0;
  std::uint64_t pulled_ = 0;    // bytes written to the server since the stream was opened
  std::uint64_t consumed_ = 0;  // the last total reported
  std::uint64_t in_sink_ = 0;   // and what was in the sink after it
  std::uint64_t floor_ = 0;     // pulled_ at the last flush
};

}  // namespace

std::unique_ptr<PlaybackStream> PulseAudioBackend::OpenPlayback(const std::string& endpoint_id,
                                                                const PcmFormat& format,
                                                                const PlaybackOptions& options,
                                                                PlaybackCallbacks callbacks,
                                                                std::string* reason) {
  std::lock_guard<std::mutex> serial(mutex_);
  Clock::time_point deadline = Clock::now() + kTimeout;
  auto stream =
      std::make_unique<PulsePlaybackStream>(mainloop_.get(), format, std::move(callbacks));
  mainloop_->Lock();
  bool ok = EnsureConnected(deadline, reason) &&
            stream->Connect(context_, endpoint_id, options, deadline, reason);
  mainloop_->Unlock();
  if (!ok) return nullptr;
  return stream;
}

}  // namespace platform
