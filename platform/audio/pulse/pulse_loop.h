#pragma once

#include <pulse/mainloop-api.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// The pulse back-end's event loop: libpulse's I/O, timer and deferred events
// on one thread of ours, used like the library's threaded loop (a lock held
// around every library call, a wait for what the loop's callbacks signal).
// The library's own loop writes to a wake-up pipe whenever an event changes,
// even on its own thread: twice for every packet it reads. This one wakes its
// thread only when another thread changes an event while the loop sleeps.
class PulseLoop {
 public:
  PulseLoop();
  // Stops the thread; events still alive are freed (their destroy callbacks
  // run).
  ~PulseLoop();
  PulseLoop(const PulseLoop&) = delete;
  PulseLoop& operator=(const PulseLoop&) = delete;

  // Starts the thread; false when it cannot run (no wake-up descriptor).
  bool Start();
  // Ends the thread after the callback in progress; not from the loop's
  // own thread.
  void Stop();

  pa_mainloop_api* Api() { return &api_; }

  // Every library call outside the loop's callbacks is made with the lock
  // held; the callbacks run with it held. Not from the loop's own thread.
  void Lock();
  void Unlock();
  // With the lock held, outside the loop's thread: lets go of the lock until
  // a callback signals (or spuriously), then takes it again.
  void Wait();
  // Wakes every waiter; with the lock held (usually in a callback).
  void Signal();

  struct IoEvent;
  struct TimeEvent;
  struct DeferEvent;

 private:
  void Run();
  // With the lock held: an event changed; a sleeping loop looks again.
  void Changed();
  void DispatchDeferred();
  void DispatchTimers();
  // With the lock held, from the loop's thread between dispatches (or at the
  // end): frees the events marked dead (all of them with `all`).
  void Collect(bool all);

  static pa_io_event* IoNew(pa_mainloop_api* api, int fd, pa_io_event_flags_t events,
                            pa_io_event_cb_t cb, void* userdata);
  static void IoEnable(pa_io_event* e, pa_io_event_flags_t events);
  static void IoFree(pa_io_event* e);
  static void IoSetDestroy(pa_io_event* e, pa_io_event_destroy_cb_t cb);
  static pa_time_event* TimeNew(pa_mainloop_api* api, const struct timeval* tv,
                                pa_time_event_cb_t cb, void* userdata);
  static void TimeRestart(pa_time_event* e, const struct timeval* tv);
  static void TimeFree(pa_time_event* e);
  static void TimeSetDestroy(pa_time_event* e, pa_time_event_destroy_cb_t cb);
  static pa_defer_event* DeferNew(pa_mainloop_api* api, pa_defer_event_cb_t cb, void* userdata);
  static void DeferEnable(pa_defer_event* e, int b);
  static void DeferFree(pa_defer_event* e);
  static void DeferSetDestroy(pa_defer_event* e, pa_defer_event_destroy_cb_t cb);
  static void Quit(pa_mainloop_api* api, int retval);

  pa_mainloop_api api_{};
  int wake_fd_ = -1;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable signal_;
  // Under mutex_:
  bool quit_ = false;
  bool sleeping_ = false;      // the loop's thread is in poll, without the lock
  bool wake_pending_ = false;  // written to wake_fd_ and not read yet
  bool rebuild_ = true;        // the I/O events changed since the poll set was made
  int enabled_deferred_ = 0;
  bool dead_ = false;  // some event waits to be freed
  std::vector<IoEvent*> io_;
  std::vector<TimeEvent*> timers_;
  std::vector<DeferEvent*> deferred_;
};

}  // namespace platform
