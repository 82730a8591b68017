#include "platform/mmtimer/mmtimer.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/mmtimer/timer_loop.h"
#include "platform/mmtimer/timer_schedule.h"
#include "platform/mmtimer/timer_service.h"
#include "platform/mmtimer/win32/system_timers.h"

// The timers run on a thread of our own. The system's multimedia timer callback may make
// almost no system calls (our timers lock sound buffers and write files), so the system is
// asked only to set an event at the earliest time any timer is due; the thread waits for
// that event. One wake-up at a time is asked for, as the system serves only a few timers
// at once (Wine: 16), fewer than the outputs keep.

namespace {

using Clock = platform::TimerSchedule::Clock;

// The system's longest delay.
constexpr auto kLongestWake = std::chrono::milliseconds(65535);
constexpr DWORD kInfinite = 0xFFFFFFFF;
constexpr int kTimeCriticalPriority = 15;

// The one timer thread, which waits for the event the system sets.
class TimerService : public platform::TimerLoop {
 private:
  // The event and the thread, made with the first timer.
  bool Ready() override {
    if (thread_.joinable()) return true;
    if (!event_) event_ = platform::kernel32::CreateEventW(nullptr, 0, 0, nullptr);
    if (!event_) return false;
    thread_ = std::thread([this] {
      // As urgent as the system's own timer thread: the outputs feed their devices here.
      platform::kernel32::SetThreadPriority(platform::kernel32::GetCurrentThread(),
                                            kTimeCriticalPriority);
      Run();
    });
    return true;
  }

  bool Added() override { return WakeBy(schedule_.NextDue()); }

  void Wait(std::unique_lock<std::mutex>& lock) override {
    // A wake-up the system refused is made up for by the wait's own limit, which is
    // coarser (the system's tick).
    DWORD limit = kInfinite;
    if (!schedule_.Empty()) {
      const Clock::time_point due = schedule_.NextDue();
      WakeBy(due);
      limit = static_cast<DWORD>(Delay(due).count());
    }
    lock.unlock();
    platform::kernel32::WaitForSingleObject(event_, limit);
    lock.lock();
    // Which wake-up set the event is not told: the next one is asked for afresh (one
    // still on its way finds nothing due and is harmless).
    armed_ = 0;
  }

  static std::chrono::milliseconds Delay(Clock::time_point due) {
    const auto delay = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
    return std::clamp(delay, std::chrono::milliseconds(1), kLongestWake);
  }

  // Makes sure that the system sets the event by `due`: a new one-shot wake-up when none
  // is asked for that early (one asked for later still comes, finds nothing due and is
  // harmless). False when the system refuses.
  bool WakeBy(Clock::time_point due) {
    if (armed_ != 0 && armed_due_ <= due) return true;
    const std::chrono::milliseconds delay = Delay(due);
    const UINT wake = platform::winmm::timeSetEvent(
        static_cast<UINT>(delay.count()), 1, reinterpret_cast<LPTIMECALLBACK>(event_), 0,
        TIME_ONESHOT | platform::winmm::kTimeCallbackEventSet);
    if (wake == 0) return armed_ != 0;  // the wake-up asked for earlier still comes
    armed_ = wake;
    armed_due_ = Clock::now() + delay;
    return true;
  }

  void* event_ = nullptr;
  std::thread thread_;
  UINT armed_ = 0;  // the earliest wake-up asked for, 0 for none
  Clock::time_point armed_due_;
};

// Never destroyed: its thread runs while the process ends.
TimerService& Service() {
  static auto* service = new TimerService;
  return *service;
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
