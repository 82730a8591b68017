#include "platform/mmtimer/mmtimer.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/mmtimer/timer_schedule.h"
#include "platform/mmtimer/timer_service.h"

namespace {

using Clock = platform::TimerSchedule::Clock;

const Clock::time_point kProcessStart = Clock::now();

// The one timer thread and the timers it serves.
class TimerService {
 public:
  ~TimerService() {
    std::thread t;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      t = std::move(thread_);
    }
    wake_.notify_all();
    if (t.joinable()) t.join();
  }

  UINT Add(UINT delay, LPTIMECALLBACK proc, DWORD_PTR user, bool periodic) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_) return 0;
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    const UINT id = schedule_.Add(delay, proc, user, periodic);
    wake_.notify_all();
    return id;
  }

  bool Kill(UINT id) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!schedule_.Remove(id)) return false;
    wake_.notify_all();
    // Wait for a running call of this timer to end, unless we are that call.
    if (std::this_thread::get_id() != timer_thread_id_)
      done_.wait(lock, [&] { return running_ != id; });
    return true;
  }

  int Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return schedule_.Count();
  }

 private:
  void Run() {
    pthread_setname_np(pthread_self(), "mm-timer");  // told apart in measurements
    std::unique_lock<std::mutex> lock(mutex_);
    timer_thread_id_ = std::this_thread::get_id();
    while (!stop_) {
      if (schedule_.Empty()) {
        wake_.wait(lock);
        continue;
      }
      platform::TimerSchedule::Call call;
      if (!schedule_.TakeDue(Clock::now(), call)) {
        // A copy: the timer may be killed while this thread waits.
        const Clock::time_point due = schedule_.NextDue();
        wake_.wait_until(lock, due);
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

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  platform::TimerSchedule schedule_;
  std::thread thread_;
  std::thread::id timer_thread_id_;
  UINT running_ = 0;
  bool stop_ = false;
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
