#include "platform/mmtimer/mmtimer.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/mmtimer/timer_loop.h"
#include "platform/mmtimer/timer_schedule.h"
#include "platform/mmtimer/timer_service.h"

namespace {

using Clock = platform::TimerSchedule::Clock;

const Clock::time_point kProcessStart = Clock::now();

// The one timer thread, which waits on a condition variable.
class TimerService : public platform::TimerLoop {
 public:
  ~TimerService() override {
    std::thread t;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      t = std::move(thread_);
    }
    wake_.notify_all();
    if (t.joinable()) t.join();
  }

 private:
  bool Ready() override {
    if (!thread_.joinable()) {
      thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "mm-timer");  // told apart in measurements
        Run();
      });
    }
    return true;
  }

  bool Added() override {
    wake_.notify_all();
    return true;
  }

  void Wait(std::unique_lock<std::mutex>& lock) override {
    if (schedule_.Empty()) {
      wake_.wait(lock);
    } else {
      // A copy: the timer may be killed while this thread waits.
      const Clock::time_point due = schedule_.NextDue();
      wake_.wait_until(lock, due);
    }
  }

  std::condition_variable wake_;
  std::thread thread_;
};

TimerService& Service() {
  static TimerService service;
  return service;
}

}  // namespace

MMRESULT timeBeginPeriod(UINT uPeriod) {
  if (uPeriod < kTimerPeriodMin || uPeriod > kTimerPeriodMax) return TIMERR_NOCANDO;
  platform::RememberTimerPeriod(uPeriod);
  return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT uPeriod) {
  return platform::ForgetTimerPeriod(uPeriod) ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

DWORD timeGetTime() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - kProcessStart);
  return static_cast<DWORD>(ms.count());
}

bool QueryPerformanceCounter(std::int64_t* count) {
  if (!count) return false;
  *count =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
  return true;
}

bool QueryPerformanceFrequency(std::int64_t* frequency) {
  if (!frequency) return false;
  *frequency = 1000000000;
  return true;
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
