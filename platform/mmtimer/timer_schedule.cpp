#include "platform/mmtimer/timer_schedule.h"

namespace platform {

UINT TimerSchedule::Add(UINT delay, LPTIMECALLBACK proc, DWORD_PTR user, bool periodic) {
  UINT id = next_id_;
  while (id == 0 || timers_.count(id) > 0) ++id;
  next_id_ = id + 1;
  Timer& t = timers_[id];
  t.proc = proc;
  t.user = user;
  t.periodic = periodic;
  t.period = std::chrono::milliseconds(delay);
  t.start = Clock::now();
  t.due = t.start + t.period;
  return id;
}

bool TimerSchedule::Remove(UINT id) {
  return timers_.erase(id) > 0;
}

std::map<UINT, TimerSchedule::Timer>::const_iterator TimerSchedule::Earliest() const {
  auto next = timers_.begin();
  for (auto it = timers_.begin(); it != timers_.end(); ++it)
    if (it->second.due < next->second.due) next = it;
  return next;
}

TimerSchedule::Clock::time_point TimerSchedule::NextDue() const {
  return Earliest()->second.due;
}

bool TimerSchedule::TakeDue(Clock::time_point now, Call& call) {
  if (timers_.empty()) return false;
  const auto next = timers_.find(Earliest()->first);
  Timer& t = next->second;
  if (t.due > now) return false;
  call = Call{next->first, t.proc, t.user};
  if (t.periodic) {
    ++t.fired;
    t.due = t.start + t.period * (t.fired + 1);
    if (t.due + t.period * 4 < now) {
      t.fired = (now - t.start) / t.period;
      t.due = t.start + t.period * (t.fired + 1);
    }
  } else {
    timers_.erase(next);
  }
  return true;
}

}  // namespace platform
