#include "platform/mmtimer/timer_loop.h"

namespace platform {

UINT TimerLoop::Add(UINT delay, LPTIMECALLBACK proc, DWORD_PTR user, bool periodic) {
  std::lock_guard lock(mutex_);
  if (stop_ || !Ready()) return 0;
  const UINT id = schedule_.Add(delay, proc, user, periodic);
  if (!Added()) {
    schedule_.Remove(id);
    return 0;
  }
  return id;
}

bool TimerLoop::Kill(UINT id) {
  std::unique_lock lock(mutex_);
  // A wait for the timer's due time just finds nothing due.
  if (!schedule_.Remove(id)) return false;
  done_.wait(lock, [&] { return running_ != id || std::this_thread::get_id() == thread_id_; });
  return true;
}

int TimerLoop::Count() {
  std::lock_guard lock(mutex_);
  return schedule_.Count();
}

void TimerLoop::Run() {
  std::unique_lock lock(mutex_);
  thread_id_ = std::this_thread::get_id();
  while (!stop_) {
    TimerSchedule::Call call;
    if (schedule_.Empty() || !schedule_.TakeDue(Clock::now(), call)) {
      Wait(lock);
      continue;
    }
    running_ = call.id;
    lock.unlock();
    call.proc(call.id, 0, call.user, 0, 0);
    lock.lock();
    running_ = 0;
    done_.notify_all();
  }
}

}  // namespace platform
