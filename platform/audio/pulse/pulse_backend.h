#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/audio/endpoint_watcher.h"

struct pa_context;

namespace platform {

class PulseLoop;

// The PulseAudio back-end (also PipeWire's PulseAudio service). One connection
// for the back-end's lifetime, on the back-end's own event loop thread; each enumeration asks
// the server again. The server is the one libpulse finds by itself
// (PULSE_SERVER, client.conf, the user's runtime folder); a server is never
// spawned. Every wait is bounded, so a dead or hung server costs at most about
// two seconds and then gives empty lists.
class PulseAudioBackend : public AudioBackend {
 public:
  // Connects; nullptr and *reason when no server answers in time.
  static std::unique_ptr<PulseAudioBackend> Connect(std::string* reason);
  ~PulseAudioBackend() override;

  std::string Name() const override { return "pulse"; }

  // Sources that are not monitors of sinks (input) or sinks (output), in the
  // server's index order, named by their descriptions. A connection that went
  // away is re-established first; without a server the list is empty. A
  // server that is connected but does not answer in time, or refuses the
  // query, gives the last full answer and keeps the connection (and so the
  // streams on it); after a time-out it is not asked again for kRetryPause.
  // Not to be called from the back-end's own main-loop thread.
  std::vector<AudioEndpoint> Endpoints(AudioDirection direction) override;

  // A record stream from the source named endpoint_id, in the format asked
  // (u8 or s16le), with fragments of at most preferred_chunk_bytes. The source
  // disappearing, or the server, ends the stream with `lost`. Callbacks run on
  // the main-loop thread. Not to be called from the main-loop thread.
  std::unique_ptr<CaptureStream> OpenCapture(const std::string& endpoint_id,
                                             const PcmFormat& format,
                                             std::size_t preferred_chunk_bytes,
                                             CaptureCallbacks callbacks,
                                             std::string* reason) override;

  // A playback stream to the sink named endpoint_id, in the format asked (u8
  // or s16le), at full volume, holding about options.latency_bytes at the
  // server (sink latency included), and at least 100 ms. What it reports as consumed is what the
  // server says it has played. The sink disappearing, or the server, ends the
  // stream with `lost`. Callbacks run on the main-loop thread. Not to be
  // called from the main-loop thread.
  std::unique_ptr<PlaybackStream> OpenPlayback(const std::string& endpoint_id,
                                               const PcmFormat& format,
                                               const PlaybackOptions& options,
                                               PlaybackCallbacks callbacks,
                                               std::string* reason) override;

  // Follows the server's sink and source events (added or removed) on the
  // main-loop thread; a connection made again later follows them too. The
  // server going away is a change too (every device went), and so is its
  // return: while someone watches, a thread of the back-end's own tries to
  // connect again every kReconnectPause until the server answers.
  void WatchEndpoints(std::function<void()> changed) override;

  // The bound on one connection attempt plus query.
  static constexpr std::chrono::milliseconds kTimeout{2000};
  // After a time-out (a server that accepts but does not answer) no new attempt
  // is made for this long, so that a burst of queries does not stall each time.
  static constexpr std::chrono::milliseconds kRetryPause{5000};
  // Between two attempts to reach a server that went away, while watched.
  static constexpr std::chrono::milliseconds kReconnectPause{500};

 private:
  PulseAudioBackend();
  PulseAudioBackend(const PulseAudioBackend&) = delete;
  PulseAudioBackend& operator=(const PulseAudioBackend&) = delete;

  // Both run with the main loop locked.
  bool EnsureConnected(std::chrono::steady_clock::time_point deadline, std::string* reason);
  void Disconnect();
  // Asks the server for device events, or for none when nobody watches.
  void Subscribe();
  // The context's state changed; main-loop thread.
  static void OnContextState(pa_context* context, void* userdata);
  // The reconnecting thread's body.
  void Reconnect();

  std::mutex mutex_;  // one enumeration at a time
  std::unique_ptr<PulseLoop> mainloop_;
  pa_context* context_ = nullptr;
  std::chrono::steady_clock::time_point retry_after_{};
  // The last full answer of each direction, given while the connected server
  // is too busy to answer (after a time-out, until busy_until_); used under
  // mutex_.
  std::vector<AudioEndpoint> known_inputs_, known_outputs_;
  std::chrono::steady_clock::time_point busy_until_{};
  EndpointWatcher watcher_;
  // The context reached the ready state (and has not failed since); with the
  // main loop locked.
  bool ready_ = false;

  std::thread reconnector_;
  std::mutex reconnect_mutex_;
  std::condition_variable reconnect_wake_;
  // Under reconnect_mutex_:
  bool server_lost_ = false;  // a ready connection failed and none is back yet
  bool stop_reconnecting_ = false;
};

}  // namespace platform
