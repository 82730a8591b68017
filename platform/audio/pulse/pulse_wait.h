#pragma once

// Bounded waits on the event loop of the pulse back-end.

#include <pulse/pulseaudio.h>

#include <chrono>
#include <string>

#include "platform/audio/pulse/pulse_loop.h"

namespace platform {

struct PulseWaker {
  PulseLoop* mainloop;
  bool fired = false;
};

inline void OnPulseWakeTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                             void* userdata) {
  auto* waker = static_cast<PulseWaker*>(userdata);
  waker->fired = true;
  waker->mainloop->Signal();
}

// Waits, with the main loop locked, until done() holds or the deadline passes.
// A timer on the loop itself wakes the wait at the deadline.
template <typename Done>
bool WaitUntil(PulseLoop* mainloop, std::chrono::steady_clock::time_point deadline, Done done) {
  if (done()) return true;
  auto remaining = std::chrono::duration_cast<std::chrono::microseconds>(
      deadline - std::chrono::steady_clock::now());
  if (remaining.count() <= 0) return false;
  struct timeval when;
  pa_gettimeofday(&when);
  pa_timeval_add(&when, static_cast<pa_usec_t>(remaining.count()));
  PulseWaker waker{mainloop};
  pa_mainloop_api* api = mainloop->Api();
  pa_time_event* timer = api->time_new(api, &when, OnPulseWakeTimer, &waker);
  while (!done() && !waker.fired) mainloop->Wait();
  api->time_free(timer);
  return done();
}

// Waits, with the main loop locked, until a connecting stream is ready. When
// it fails or the deadline passes, false and the reason: the server's, or
// that the `kind` stream did not start in time.
inline bool WaitUntilReady(PulseLoop* mainloop, pa_stream* stream,
                           std::chrono::steady_clock::time_point deadline, const char* kind,
                           std::string* reason) {
  const bool settled = WaitUntil(mainloop, deadline, [stream] {
    pa_stream_state_t state = pa_stream_get_state(stream);
    return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
  });
  if (settled && pa_stream_get_state(stream) == PA_STREAM_READY) return true;
  if (reason) {
    *reason = settled ? std::string("PulseAudio: ") +
                            pa_strerror(pa_context_errno(pa_stream_get_context(stream)))
                      : std::string("PulseAudio: the ") + kind + " stream did not start in time";
  }
  return false;
}

}  // namespace platform
