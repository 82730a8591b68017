#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/mmtimer/timer_schedule.h"

namespace platform {

// The timer thread of both bindings (linux/ or win32/ mmtimer.cpp): it calls each due
// timer in turn, one at a time, and between calls waits as the binding's system lets it.
class TimerLoop {
 public:
  virtual ~TimerLoop() = default;

  // A new timer's id, 0 when the system refuses.
  UINT Add(UINT delay, LPTIMECALLBACK proc, DWORD_PTR user, bool periodic);
  // False for an unknown id. Returns once a running call of the timer has ended, unless
  // called from that call.
  bool Kill(UINT id);
  int Count();

 protected:
  using Clock = TimerSchedule::Clock;

  // The thread's body, from the binding's thread once that is set up; ends once stop_.
  void Run();

  // With mutex_ held. Ready: the thread and what it waits on are there (made with the
  // first timer); false when the system refuses. Added: a timer came, and the thread must
  // look again by the earliest due time; false when the system refuses. Wait: until the
  // earliest timer is due or one was added; it may return early.
  virtual bool Ready() = 0;
  virtual bool Added() = 0;
  virtual void Wait(std::unique_lock<std::mutex>& lock) = 0;

  std::mutex mutex_;
  TimerSchedule schedule_;
  bool stop_ = false;

 private:
  std::condition_variable done_;
  std::thread::id thread_id_;
  UINT running_ = 0;
};

}  // namespace platform
