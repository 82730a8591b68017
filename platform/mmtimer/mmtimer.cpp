#include "platform/mmtimer/mmtimer.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const Clock::time_point kProcessStart = Clock::now();

struct Timer {
  LPTIMECALLBACK proc = nullptr;
  DWORD_PTR user = 0;
  bool periodic = false;
  Clock::duration period{};
  Clock::time_point start;
  std::int64_t fired = 0;  // periods elapsed since start
  Clock::time_point due;
};

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
    UINT id = next_id_++;
    if (next_id_ == 0) next_id_ = 1;
    Timer t;
    t.proc = proc;
    t.user = user;
    t.periodic = periodic;
    t.period = std::chrono::milliseconds(delay);
    t.start = Clock::now();
    t.due = t.start + t.period;
    timers_[id] = t;
    wake_.notify_all();
    return id;
  }

  bool Kill(UINT id) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (timers_.erase(id) == 0) return false;
    wake_.notify_all();
    // Wait for a running call of this timer to end, unless we are that call.
    if (std::this_thread::get_id() != timer_thread_id_)
      done_.wait(lock, [&] { return running_ != id; });
    return true;
  }

  int Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(timers_.size());
  }

 private:
  void Run() {
    pthread_setname_np(pthread_self(), "mm-timer");  // told apart in measurements
    std::unique_lock<std::mutex> lock(mutex_);
    timer_thread_id_ = std::this_thread::get_id();
    while (!stop_) {
      if (timers_.empty()) {
        wake_.wait(lock);
        continue;
      }
      auto next = timers_.begin();
      for (auto it = timers_.begin(); it != timers_.end(); ++it)
        if (it->second.due < next->second.due) next = it;
      Clock::time_point now = Clock::now();
      if (next->second.due > now) {
        // A copy: the timer may be killed while this thread waits.
        const Clock::time_point due = next->second.due;
        wake_.wait_until(lock, due);
        continue;
      }
      UINT id = next->first;
      Timer& t = next->second;
      LPTIMECALLBACK proc = t.proc;
      DWORD_PTR user = t.user;
      if (t.periodic) {
        // Schedule from the start time; after a long stall skip the missed
        // periods instead of firing a burst.
        ++t.fired;
        t.due = t.start + t.period * (t.fired + 1);
        if (t.due + t.period * 4 < now) {
          t.fired = (now - t.start) / t.period;
          t.due = t.start + t.period * (t.fired + 1);
        }
      } else {
        timers_.erase(next);
      }
      running_ = id;
      lock.unlock();
      proc(id, 0, user, 0, 0);
      lock.lock();
      running_ = 0;
      done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::map<UINT, Timer> timers_;
  std::thread thread_;
  std::thread::id timer_thread_id_;
  UINT next_id_ = 1;
  UINT running_ = 0;
  bool stop_ = false;
};

TimerService& Service() {
  static TimerService service;
  return service;
}

std::mutex period_mutex;
std::vector<UINT> periods;  // requested resolutions, in request order

}  // namespace

UINT timeSetEvent(UINT uDelay, UINT /*uResolution*/, LPTIMECALLBACK proc, DWORD_PTR dwUser,
                  UINT fuEvent) {
  if (!proc || uDelay < kTimerPeriodMin || uDelay > kTimerPeriodMax) return 0;
  return Service().Add(uDelay, proc, dwUser, (fuEvent & TIME_PERIODIC) != 0);
}

MMRESULT timeKillEvent(UINT uTimerID) {
  return Service().Kill(uTimerID) ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

MMRESULT timeBeginPeriod(UINT uPeriod) {
  if (uPeriod < kTimerPeriodMin || uPeriod > kTimerPeriodMax) return TIMERR_NOCANDO;
  std::lock_guard<std::mutex> lock(period_mutex);
  periods.push_back(uPeriod);
  return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT uPeriod) {
  std::lock_guard<std::mutex> lock(period_mutex);
  for (auto it = periods.begin(); it != periods.end(); ++it) {
    if (*it == uPeriod) {
      periods.erase(it);
      return TIMERR_NOERROR;
    }
  }
  return TIMERR_NOCANDO;
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

std::int64_t NowMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
      .count();
}

namespace platform {

int ActiveTimerCount() {
  return Service().Count();
}

UINT RequestedTimerPeriod() {
  std::lock_guard<std::mutex> lock(period_mutex);
  UINT best = 0;
  for (UINT p : periods)
    if (best == 0 || p < best) best = p;
  return best;
}

}  // namespace platform
