#include "platform/mmtimer/mmtimer.h"

#include <chrono>
#include <mutex>
#include <vector>

#include "platform/mmtimer/timer_service.h"

namespace {

std::mutex period_mutex;
std::vector<UINT> periods;  // requested resolutions, in request order

}  // namespace

UINT timeSetEvent(UINT uDelay, UINT /*uResolution*/, LPTIMECALLBACK proc, DWORD_PTR dwUser,
                  UINT fuEvent) {
  if (!proc || uDelay < kTimerPeriodMin || uDelay > kTimerPeriodMax) return 0;
  return platform::StartTimer(uDelay, proc, dwUser, (fuEvent & TIME_PERIODIC) != 0);
}

MMRESULT timeKillEvent(UINT uTimerID) {
  return platform::StopTimer(uTimerID) ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

std::int64_t NowMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

namespace platform {

int ActiveTimerCount() {
  return RunningTimers();
}

void RememberTimerPeriod(UINT period) {
  std::lock_guard<std::mutex> lock(period_mutex);
  periods.push_back(period);
}

bool ForgetTimerPeriod(UINT period) {
  std::lock_guard<std::mutex> lock(period_mutex);
  for (auto it = periods.begin(); it != periods.end(); ++it) {
    if (*it == period) {
      periods.erase(it);
      return true;
    }
  }
  return false;
}

UINT RequestedTimerPeriod() {
  std::lock_guard<std::mutex> lock(period_mutex);
  UINT best = 0;
  for (UINT p : periods)
    if (best == 0 || p < best) best = p;
  return best;
}

}  // namespace platform
