#pragma once

// Bounded waits on the event loop of the pulse back-end.

#include <pulse/pulseaudio.h>

#include <chrono>

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

}  // namespace platform
