#pragma once

#include <chrono>
#include <cstdint>
#include <map>

#include "platform/mmtimer/mmtimer.h"

namespace platform {

// The running timers of the process and when each is due next, for the service that
// calls them (linux/ or win32/ mmtimer.cpp). Periodic timers are scheduled from their
// start time, so they do not drift. Not thread-safe: the service locks around it.
class TimerSchedule {
 public:
  using Clock = std::chrono::steady_clock;

  struct Call {
    UINT id = 0;
    LPTIMECALLBACK proc = nullptr;
    DWORD_PTR user = 0;
  };

  // The new timer's id: never 0, never one in use.
  UINT Add(UINT delay, LPTIMECALLBACK proc, DWORD_PTR user, bool periodic);
  // False for an unknown id.
  bool Remove(UINT id);
  int Count() const { return static_cast<int>(timers_.size()); }
  bool Empty() const { return timers_.empty(); }
  // When the earliest timer is due; only while not Empty.
  Clock::time_point NextDue() const;
  // Takes the earliest timer when it is due at `now`: a one-shot timer leaves the
  // schedule, a periodic one is due again a period later (after a long stall the missed
  // periods are skipped instead of called in a burst). False when none is due.
  bool TakeDue(Clock::time_point now, Call& call);

 private:
  struct Timer {
    LPTIMECALLBACK proc = nullptr;
    DWORD_PTR user = 0;
    bool periodic = false;
    Clock::duration period{};
    Clock::time_point start;
    std::int64_t fired = 0;  // periods elapsed since start
    Clock::time_point due;
  };

  std::map<UINT, Timer>::const_iterator Earliest() const;

  std::map<UINT, Timer> timers_;
  UINT next_id_ = 1;
};

}  // namespace platform
