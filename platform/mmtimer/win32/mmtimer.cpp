#include "platform/mmtimer/mmtimer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/mmtimer/timer_schedule.h"
#include "platform/mmtimer/timer_service.h"
#include "platform/mmtimer/win32/system_timers.h"

// The timers run on the system's multimedia timer thread, woken by the system's one-shot
// timers. The system serves only a few timers at once (Wine: 16), fewer than the outputs
// keep (one per waiting buffer), so every timer of the process is kept here and the system
// is asked for one wake-up at the earliest time any of them is due. The system's timer
// thread then calls each due timer in turn, as it would call its own.

namespace {

using Clock = platform::TimerSchedule::Clock;

// The system's longest delay.
constexpr auto kLongestWake = std::chrono::milliseconds(65535);

void Wake(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

class TimerService {
 public:
  UINT Add(UINT delay, LPTIMECALLBACK proc, DWORD_PTR user, bool periodic) {
    std::lock_guard lock(mutex_);
    const UINT id = schedule_.Add(delay, proc, user, periodic);
    if (!WakeBy(schedule_.NextDue())) {
      schedule_.Remove(id);
      return 0;
    }
    return id;
  }

  bool Kill(UINT id) {
    std::unique_lock lock(mutex_);
    if (!schedule_.Remove(id)) return false;
    // Waits for a running call of this timer to end, unless this is that call.
    done_.wait(lock, [&] { return running_ != id || std::this_thread::get_id() == timer_thread_; });
    return true;
  }

  int Count() {
    std::lock_guard lock(mutex_);
    return schedule_.Count();
  }

  // Called by the system on its timer thread: calls the due timers, then asks for the
  // next wake-up.
  void Run(UINT wake) {
    std::unique_lock lock(mutex_);
    if (wake == armed_) armed_ = 0;
    timer_thread_ = std::this_thread::get_id();
    while (!schedule_.Empty()) {
      platform::TimerSchedule::Call call;
      if (!schedule_.TakeDue(Clock::now(), call)) {
        WakeBy(schedule_.NextDue());
        return;
      }
      running_ = call.id;
      lock.unlock();
      call.proc(call.id, 0, call.user, 0, 0);
      lock.lock();
      running_ = 0;
      done_.notify_all();
    }
  }

 private:
  // Makes sure that the system wakes the timer thread by `due`: a new one-shot wake-up
  // when none is asked for that early (one asked for later still comes, finds nothing due
  // and is harmless). False when the system refuses.
  bool WakeBy(Clock::time_point due) {
    if (armed_ != 0 && armed_due_ <= due) return true;
    auto delay = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
    delay = std::clamp(delay, std::chrono::milliseconds(1), kLongestWake);
    const UINT wake =
        platform::winmm::timeSetEvent(static_cast<UINT>(delay.count()), 1, Wake, 0, TIME_ONESHOT);
    if (wake == 0) return armed_ != 0;  // the wake-up asked for earlier still comes
    armed_ = wake;
    armed_due_ = Clock::now() + delay;
    return true;
  }

  std::mutex mutex_;
  std::condition_variable done_;
  platform::TimerSchedule schedule_;
  std::thread::id timer_thread_;
  UINT running_ = 0;
  UINT armed_ = 0;  // the earliest wake-up asked for, 0 for none
  Clock::time_point armed_due_;
};

// Never destroyed: a wake-up may come while the process ends.
TimerService& Service() {
  static auto* service = new TimerService;
  return *service;
}

// Called by the system on its timer thread.
void Wake(UINT wake, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  Service().Run(wake);
}

}  // namespace

MMRESULT timeBeginPeriod(UINT uPeriod) {
  if (uPeriod < kTimerPeriodMin || uPeriod > kTimerPeriodMax) return TIMERR_NOCANDO;
  const MMRESULT result = platform::winmm::timeBeginPeriod(uPeriod);
  if (result == TIMERR_NOERROR) platform::RememberTimerPeriod(uPeriod);
  return result;
}

MMRESULT timeEndPeriod(UINT uPeriod) {
  // Only a request made is ended, so that the system's requests stay paired.
  if (!platform::ForgetTimerPeriod(uPeriod)) return TIMERR_NOCANDO;
  return platform::winmm::timeEndPeriod(uPeriod);
}

DWORD timeGetTime() {
  return platform::winmm::timeGetTime();
}

bool QueryPerformanceCounter(std::int64_t* count) {
  return count && platform::kernel32::QueryPerformanceCounter(count) != 0;
}

bool QueryPerformanceFrequency(std::int64_t* frequency) {
  return frequency && platform::kernel32::QueryPerformanceFrequency(frequency) != 0;
}

namespace platform {

UINT StartTimer(UINT delay, LPTIMECALLBACK proc, DWORD_PTR user, bool periodic) {
  return Service().Add(delay, proc, user, periodic);
}

bool StopTimer(UINT id) {
  return Service().Kill(id);
}

int RunningTimers() {
  return Service().Count();
}

}  // namespace platform
