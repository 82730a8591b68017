#pragma once

#include <cstdint>

// Multimedia timers: every callback of every timer runs on one shared timer
// thread. Periodic timers are scheduled from their start time, so they do not
// drift. On Windows these are the system's (win32/), on Linux our own (linux/).

using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using MMRESULT = std::uint32_t;

using LPTIMECALLBACK = void (*)(UINT uTimerID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dw1,
                                DWORD_PTR dw2);

inline constexpr UINT TIME_ONESHOT = 0x0000;
inline constexpr UINT TIME_PERIODIC = 0x0001;
inline constexpr UINT TIME_CALLBACK_FUNCTION = 0x0000;

inline constexpr MMRESULT TIMERR_NOERROR = 0;
inline constexpr MMRESULT TIMERR_NOCANDO = 97;

// Smallest and largest period and resolution the timer service accepts, in ms.
inline constexpr UINT kTimerPeriodMin = 1;
inline constexpr UINT kTimerPeriodMax = 1000000;

// Starts a timer that calls proc after uDelay ms (TIME_ONESHOT) or every
// uDelay ms (TIME_PERIODIC) on the timer thread. Returns its id, 0 on failure
// (no callback, a delay outside the accepted range; on Windows also a delay the
// system's service refuses).
UINT timeSetEvent(UINT uDelay, UINT uResolution, LPTIMECALLBACK proc, DWORD_PTR dwUser,
                  UINT fuEvent);
// Stops a timer. When it returns, the timer's callback is not running and
// will not run again, except when called from inside that callback (it then
// will not run again after the current call). TIMERR_NOCANDO for an unknown id.
MMRESULT timeKillEvent(UINT uTimerID);
// Requests and releases a minimum timer resolution; calls must be paired.
MMRESULT timeBeginPeriod(UINT uPeriod);
MMRESULT timeEndPeriod(UINT uPeriod);
// Milliseconds of a steady clock, counted from the process's start on Linux and
// from the system's start on Windows (wraps after 49.7 days).
DWORD timeGetTime();

// The high-resolution counter: ticks of a steady clock and their frequency (per second).
bool QueryPerformanceCounter(std::int64_t* count);
bool QueryPerformanceFrequency(std::int64_t* frequency);
// The 64-bit microsecond clock (steady, never goes back).
std::int64_t NowMicroseconds();

namespace platform {
// Number of timers currently running (for tests and diagnostics).
int ActiveTimerCount();
// The resolution currently requested through timeBeginPeriod (0 for none).
UINT RequestedTimerPeriod();
}  // namespace platform
