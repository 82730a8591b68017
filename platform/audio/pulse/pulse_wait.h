#pragma once

// Bounded waits on the threaded main loop of the pulse back-end.

#include <pulse/pulseaudio.h>

#include <chrono>

namespace platform {

struct PulseWaker {
  pa_threaded_mainloop* mainloop;
  bool fired = false;
};

inline void OnPulseWakeTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                             void* userdata) {
  auto* waker = static_cast<PulseWaker*>(userdata);
  waker->fired = true;
  pa_threaded_mainloop_signal(waker->mainloop, 0);
}

// Waits, with the main loop locked, until done() holds or the deadline passes.
// A timer on the loop itself wakes the wait at the deadline.
template <typename Done>
bool WaitUntil(pa_threaded_mainloop* mainloop, std::chrono::steady_clock::time_point deadline,
               Done done) {
  if (done()) return true;
  auto remaining = std::chrono::duration_cast<std::chrono::microseconds>(
      deadline - std::chrono::steady_clock::now());
  if (remaining.count() <= 0) return false;
  struct timeval when;
  pa_gettimeofday(&when);
  pa_timeval_add(&when, static_cast<pa_usec_t>(remaining.count()));
  PulseWaker waker{mainloop};
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop);
  pa_time_event* timer = api->time_new(api, &when, OnPulseWakeTimer, &waker);
  while (!done() && !waker.fired) pa_threaded_mainloop_wait(mainloop);
  api->time_free(timer);
  return done();
}

}  // namespace platform
