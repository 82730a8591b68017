#include "platform/audio/pulse/pulse_backend.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstdint>

#include "platform/audio/pulse/pulse_wait.h"

#if defined(__SANITIZE_THREAD__)
// libpulse is not instrumented: ThreadSanitizer misreads the library's own
// mutex handling between its main-loop thread and ours. Only reports on the
// mutex word inside pa_mutex_lock are silenced; races on our data still show.
// The toolkit's painting runs helper
// threads of its own whose memory handling ThreadSanitizer cannot follow, and
// its X library hands events from its reader thread to the GUI thread through
// a queue of its own. libpulse recycles its packets and read buffers between
// main-loop threads through lock-free lists (seen with ALSA's pulse plugin,
// which runs one main loop per device). The accessibility bridge's bus library
// guards its connections in ways it cannot follow either. Each race is named
// by the library's own functions, not by the libraries our callbacks run
// under. The toolkit's threads wake each other through the event library's
// eventfd under that library's own futex locks, so the library's calls into
// the system are not followed. (One list per program, so it is here.)
extern "C" const char* __tsan_default_suppressions() {
  return "race:pa_mutex_lock\nrace:pa_iochannel_read_with_ancil_data\nrace:pa_packet_new_data\n"
         "called_from_lib:libQt6Gui.so\ncalled_from_lib:libQt6Core.so\n"
         "called_from_lib:libglib-2.0.so\n"
         "race:libxcb.so\nrace:libdbus-1.so\ndeadlock:libdbus-1.so\n";
}
#endif

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// A sink or source added or removed; runs on the main-loop thread.
void OnSubscription(pa_context*, pa_subscription_event_type_t event, uint32_t, void* userdata) {
  const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  if ((facility == PA_SUBSCRIPTION_EVENT_SINK || facility == PA_SUBSCRIPTION_EVENT_SOURCE) &&
      (type == PA_SUBSCRIPTION_EVENT_NEW || type == PA_SUBSCRIPTION_EVENT_REMOVE)) {
    static_cast<EndpointWatcher*>(userdata)->Notify();
  }
}

bool ContextUsable(pa_context* context) {
  return pa_context_get_state(context) == PA_CONTEXT_READY;
}

// The answers of one enumeration, filled by the main loop's callbacks.
struct Query {
  PulseLoop* mainloop = nullptr;
  bool input = true;
  bool server_done = false;
  bool list_done = false;
  bool failed = false;
  std::string default_name;
  struct Item {
    uint32_t index;
    std::string key;
    std::string name;
  };
  std::vector<Item> items;

  void Add(uint32_t index, const char* key, const char* description) {
    std::string name = description && *description ? description : (key ? key : "");
    items.push_back({index, key ? key : "", name});
  }
};

void OnServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
  auto* query = static_cast<Query*>(userdata);
  if (info == nullptr) {
    query->failed = true;
  } else {
    // A server without devices may have no default.
    const char* name = query->input ? info->default_source_name : info->default_sink_name;
    query->default_name = name ? name : "";
  }
  query->server_done = true;
  query->mainloop->Signal();
}

void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto* query = static_cast<Query*>(userdata);
  if (eol != 0) {
    if (eol < 0) query->failed = true;
    query->list_done = true;
    query->mainloop->Signal();
    return;
  }
  // A monitor of a sink replays what is played; it is not a recording device.
  if (info->monitor_of_sink != PA_INVALID_INDEX) return;
  query->Add(info->index, info->name, info->description);
}

void OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
  auto* query = static_cast<Query*>(userdata);
  if (eol != 0) {
    if (eol < 0) query->failed = true;
    query->list_done = true;
    query->mainloop->Signal();
    return;
  }
  query->Add(info->index, info->name, info->description);
}

}  // namespace

PulseAudioBackend::PulseAudioBackend() = default;

std::unique_ptr<PulseAudioBackend> PulseAudioBackend::Connect(std::string* reason) {
  std::unique_ptr<PulseAudioBackend> backend(new PulseAudioBackend());
  backend->mainloop_ = std::make_unique<PulseLoop>();
  if (!backend->mainloop_->Start()) {
    if (reason) *reason = "PulseAudio: cannot start the client main loop";
    return nullptr;
  }
  backend->mainloop_->Lock();
  bool connected = backend->EnsureConnected(Clock::now() + kTimeout, reason);
  backend->mainloop_->Unlock();
  if (!connected) return nullptr;
  return backend;
}

PulseAudioBackend::~PulseAudioBackend() {
  if (reconnector_.joinable()) {
    {
      std::lock_guard<std::mutex> hold(reconnect_mutex_);
      stop_reconnecting_ = true;
    }
    reconnect_wake_.notify_all();
    reconnector_.join();
  }
  if (mainloop_ == nullptr) return;
  mainloop_->Lock();
  Disconnect();
  mainloop_->Unlock();
  mainloop_->Stop();
}

void PulseAudioBackend::OnContextState(pa_context* context, void* userdata) {
  auto* self = static_cast<PulseAudioBackend*>(userdata);
  self->mainloop_->Signal();
  if (context != self->context_ || !self->ready_ ||
      PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
    return;
  // The server went away, and every device with it.
  self->ready_ = false;
  {
    std::lock_guard<std::mutex> hold(self->reconnect_mutex_);
    self->server_lost_ = true;
  }
  self->reconnect_wake_.notify_all();
  self->watcher_.Notify();
}

void PulseAudioBackend::Reconnect() {
  std::unique_lock<std::mutex> hold(reconnect_mutex_);
  while (!stop_reconnecting_) {
    if (!server_lost_ || !watcher_.Watching()) {
      reconnect_wake_.wait(hold);
      continue;
    }
    hold.unlock();
    bool back = false;
    {
      std::lock_guard<std::mutex> serial(mutex_);
      mainloop_->Lock();
      back = EnsureConnected(Clock::now() + kTimeout, nullptr);
      // Under the main loop's lock, so that a failure of the new connection,
      // reported there, is never overwritten.
      if (back) {
        std::lock_guard<std::mutex> lost(reconnect_mutex_);
        server_lost_ = false;
      }
      mainloop_->Unlock();
    }
    // The devices are back (listing them may have reconnected already).
    if (back) watcher_.Notify();
    hold.lock();
    if (!back)
      reconnect_wake_.wait_for(hold, kReconnectPause, [this] { return stop_reconnecting_; });
  }
}

void PulseAudioBackend::Disconnect() {
  busy_until_ = {};  // a new connection is asked at once
  ready_ = false;
  if (context_ == nullptr) return;
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  context_ = nullptr;
}

bool PulseAudioBackend::EnsureConnected(Clock::time_point deadline, std::string* reason) {
  if (context_ != nullptr && ContextUsable(context_)) return true;
  Disconnect();  // the server went away (or never answered): start over
  if (Clock::now() < retry_after_) {
    if (reason) *reason = "PulseAudio: the server did not answer recently";
    return false;
  }
  pa_mainloop_api* api = mainloop_->Api();
  context_ = pa_context_new(api, "tessaline");
  if (context_ == nullptr) {
    if (reason) *reason = "PulseAudio: cannot create a client context";
    return false;
  }
  pa_context_set_state_callback(context_, OnContextState, this);
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    if (reason) *reason = std::string("PulseAudio: ") + pa_strerror(pa_context_errno(context_));
    Disconnect();
    return false;
  }
  bool settled = WaitUntil(mainloop_.get(), deadline, [this] {
    pa_context_state_t state = pa_context_get_state(context_);
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
  });
  if (settled && ContextUsable(context_)) {
    ready_ = true;
    Subscribe();
    return true;
  }
  if (reason) {
    *reason = settled ? std::string("PulseAudio: ") + pa_strerror(pa_context_errno(context_))
                      : std::string("PulseAudio: the server did not answer in time");
  }
  if (!settled) retry_after_ = Clock::now() + kRetryPause;
  Disconnect();
  return false;
}

void PulseAudioBackend::Subscribe() {
  const bool watching = watcher_.Watching();
  pa_context_set_subscribe_callback(context_, watching ? OnSubscription : nullptr, &watcher_);
  const auto mask = watching ? PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE
                             : PA_SUBSCRIPTION_MASK_NULL;
  if (pa_operation* op = pa_context_subscribe(context_, static_cast<pa_subscription_mask_t>(mask),
                                              nullptr, nullptr)) {
    pa_operation_unref(op);
  }
}

void PulseAudioBackend::WatchEndpoints(std::function<void()> changed) {
  const bool watching = static_cast<bool>(changed);
  watcher_.Set(std::move(changed));
  {
    std::lock_guard<std::mutex> hold(reconnect_mutex_);
    if (watching && !reconnector_.joinable()) reconnector_ = std::thread([this] { Reconnect(); });
  }
  reconnect_wake_.notify_all();
  std::lock_guard<std::mutex> serial(mutex_);
  mainloop_->Lock();
  if (context_ != nullptr && ContextUsable(context_)) {
    Subscribe();
  } else {
    EnsureConnected(Clock::now() + kTimeout, nullptr);
  }
  mainloop_->Unlock();
}

std::vector<AudioEndpoint> PulseAudioBackend::Endpoints(AudioDirection direction) {
  std::lock_guard<std::mutex> serial(mutex_);
  Clock::time_point deadline = Clock::now() + kTimeout;
  mainloop_->Lock();
  std::vector<AudioEndpoint> endpoints;
  if (!EnsureConnected(deadline, nullptr)) {
    known_inputs_.clear();
    known_outputs_.clear();
    mainloop_->Unlock();
    return endpoints;
  }
  bool input = direction == AudioDirection::kInput;
  std::vector<AudioEndpoint>& known = input ? known_inputs_ : known_outputs_;
  if (Clock::now() < busy_until_) {
    // It did not answer a moment ago: not asked again so soon.
    endpoints = known;
    mainloop_->Unlock();
    return endpoints;
  }
  Query query;
  query.mainloop = mainloop_.get();
  query.input = input;
  pa_operation* server_op = pa_context_get_server_info(context_, OnServerInfo, &query);
  pa_operation* list_op = input ? pa_context_get_source_info_list(context_, OnSourceInfo, &query)
                                : pa_context_get_sink_info_list(context_, OnSinkInfo, &query);
  bool answered = false;
  if (server_op != nullptr && list_op != nullptr) {
    answered = WaitUntil(mainloop_.get(), deadline, [&] {
      return (query.server_done && query.list_done) || !ContextUsable(context_);
    });
    answered = answered && query.server_done && query.list_done && !query.failed;
  }
  // Cancelled operations never call back into the query, which ends here.
  for (pa_operation* op : {server_op, list_op}) {
    if (op == nullptr) continue;
    if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
    pa_operation_unref(op);
  }
  if (!answered) {
    // A slow or failed answer leaves the connection alone, and with it every
    // stream on it; the list is the last full answer. A server that has gone
    // away is dropped, and the next call reconnects.
    if (!ContextUsable(context_)) {
      Disconnect();
      known.clear();
    } else if (Clock::now() >= deadline) {
      busy_until_ = Clock::now() + kRetryPause;
    }
    endpoints = known;
    mainloop_->Unlock();
    return endpoints;
  }
  mainloop_->Unlock();

  std::stable_sort(query.items.begin(), query.items.end(),
                   [](const Query::Item& a, const Query::Item& b) { return a.index < b.index; });
  for (const Query::Item& item : query.items) {
    endpoints.push_back({item.key, item.name, item.key == query.default_name});
  }
  known = endpoints;
  return endpoints;
}

}  // namespace platform

namespace platform {
namespace {

// One record stream. Every member is used with the main loop locked.
class PulseCaptureStream : public CaptureStream {
 public:
  PulseCaptureStream(PulseLoop* mainloop, CaptureCallbacks callbacks)
      : mainloop_(mainloop), callbacks_(std::move(callbacks)) {}

  ~PulseCaptureStream() override {
    mainloop_->Lock();
    Release();
    mainloop_->Unlock();
  }

  // Connects to the source and waits until the stream records (corked).
  bool Connect(pa_context* context, const std::string& source, const PcmFormat& format,
               std::size_t chunk_bytes, Clock::time_point deadline, std::string* reason) {
    pa_sample_spec sample_spec;
    sample_spec.format = format.bits == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    sample_spec.rate = format.rate;
    sample_spec.channels = static_cast<std::uint8_t>(format.channels);
    pa_channel_map map;
    if (!pa_sample_spec_valid(&sample_spec) ||
        pa_channel_map_init_extend(&map, sample_spec.channels, PA_CHANNEL_MAP_DEFAULT) == nullptr) {
      if (reason) *reason = "PulseAudio: unsupported format";
      return false;
    }
    stream_ = pa_stream_new(context, "Wave input", &sample_spec, &map);
    if (stream_ == nullptr) {
      if (reason) *reason = std::string("PulseAudio: ") + pa_strerror(pa_context_errno(context));
      return false;
    }
    pa_stream_set_state_callback(stream_, OnState, this);
    pa_stream_set_read_callback(stream_, OnRead, this);
    const std::size_t frame = format.FrameBytes();
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(std::max(frame, chunk_bytes / frame * frame));
    // Not moved to another source when this one goes away: the stream fails
    // and the owner hears of it.
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                                PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, source.c_str(), &attr, flags) < 0) {
      if (reason) *reason = std::string("PulseAudio: ") + pa_strerror(pa_context_errno(context));
      Release();
      return false;
    }
    if (!WaitUntilReady(mainloop_, stream_, deadline, "record", reason)) {
      Release();
      return false;
    }
    connected_ = true;
    return true;
  }

  void Start() override {
    mainloop_->Lock();
    if (stream_ != nullptr && !lost_ && !running_) {
      running_ = true;
      Forget(pa_stream_cork(stream_, 0, nullptr, nullptr));
    }
    mainloop_->Unlock();
  }

  void Stop() override {
    mainloop_->Lock();
    if (stream_ != nullptr && running_) {
      running_ = false;
      if (!lost_) {
        Forget(pa_stream_cork(stream_, 1, nullptr, nullptr));
        Forget(pa_stream_flush(stream_, nullptr, nullptr));
      }
    }
    mainloop_->Unlock();
  }

  void ReportHeld() override {
    mainloop_->Lock();
    report_held_ = true;
    mainloop_->Unlock();
  }

 private:
  static void Forget(pa_operation* op) {
    if (op != nullptr) pa_operation_unref(op);
  }

  void Release() {
    if (stream_ == nullptr) return;
    running_ = false;
    if (timing_ != nullptr) {
      pa_operation_cancel(timing_);
      pa_operation_unref(timing_);
      timing_ = nullptr;
    }
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }

  static void OnState(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulseCaptureStream*>(userdata);
    self->mainloop_->Signal();
    pa_stream_state_t state = pa_stream_get_state(stream);
    if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && self->connected_ &&
        !self->lost_) {
      self->lost_ = true;
      self->running_ = false;
      if (self->callbacks_.lost) self->callbacks_.lost();
    }
  }

  static void OnRead(pa_stream* stream, std::size_t readable, void* userdata) {
    auto* self = static_cast<PulseCaptureStream*>(userdata);
    // The library says how much it holds: every call into it costs a system
    // call of its own, so none is made to ask again.
    while (readable > 0) {
      const void* data = nullptr;
      std::size_t bytes = 0;
      if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
      // data is null for a hole in the recording: nothing to hand on.
      if (data != nullptr && self->running_ && self->callbacks_.data) {
        self->callbacks_.data(static_cast<const std::uint8_t*>(data), bytes);
      }
      pa_stream_drop(stream);
      readable -= std::min(readable, bytes);
    }
    // Asks where the source stands now that the queue was read; one question
    // at a time.
    if (self->report_held_ && self->running_ && self->timing_ == nullptr && self->callbacks_.held) {
      self->timing_ = pa_stream_update_timing_info(stream, OnTiming, self);
    }
  }

  // The server's answer: the source has recorded what it wrote to the
  // stream's queue and what it still holds itself, and has gone on recording
  // since the answer was made. Of that, what the queue and the library gave
  // this stream so far (the read index) is delivered; the rest is held.
  static void OnTiming(pa_stream* stream, int success, void* userdata) {
    auto* self = static_cast<PulseCaptureStream*>(userdata);
    if (self->timing_ != nullptr) {
      pa_operation_unref(self->timing_);
      self->timing_ = nullptr;
    }
    const pa_timing_info* info = success ? pa_stream_get_timing_info(stream) : nullptr;
    if (info == nullptr || !self->running_ || self->lost_ || info->write_index_corrupt ||
        info->read_index_corrupt || info->write_index < info->read_index) {
      return;
    }
    struct timeval now;
    pa_gettimeofday(&now);
    const pa_usec_t made = pa_timeval_load(&info->timestamp);
    const pa_usec_t since = std::max(pa_timeval_load(&now), made) - made;
    const pa_sample_spec* sample_format = pa_stream_get_sample_spec(stream);
    const std::size_t frame = pa_frame_size(sample_format);
    const std::uint64_t queued = static_cast<std::uint64_t>(info->write_index - info->read_index);
    const std::uint64_t in_source = pa_usec_to_bytes(info->source_usec + since, sample_format);
    self->callbacks_.held((queued + in_source) / frame * frame);
  }

  PulseLoop* const mainloop_;
  const CaptureCallbacks callbacks_;
  pa_stream* stream_ = nullptr;
  pa_operation* timing_ = nullptr;  // the timing question under way
  bool report_held_ = false;
  bool connected_ = false;
  bool running_ = false;
  bool lost_ = false;
};

}  // namespace

std::unique_ptr<CaptureStream> PulseAudioBackend::OpenCapture(const std::string& endpoint_id,
                                                              const PcmFormat& format,
                                                              std::size_t preferred_chunk_bytes,
                                                              CaptureCallbacks callbacks,
                                                              std::string* reason) {
  std::lock_guard<std::mutex> serial(mutex_);
  Clock::time_point deadline = Clock::now() + kTimeout;
  auto stream = std::make_unique<PulseCaptureStream>(mainloop_.get(), std::move(callbacks));
  mainloop_->Lock();
  bool ok = EnsureConnected(deadline, reason) &&
            stream->Connect(context_, endpoint_id, format, preferred_chunk_bytes, deadline, reason);
  mainloop_->Unlock();
  if (!ok) return nullptr;
  return stream;
}

}  // namespace platform
