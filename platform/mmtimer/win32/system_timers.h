#pragma once

// The timer and clock calls of Windows' multimedia library (WINMM.DLL) and of KERNEL32.DLL,
// declared with the platform layer's types, whose sizes are the system's own.

#include "platform/mmtimer/mmtimer.h"

namespace platform::winmm {

// timeSetEvent's `proc` is an event handle, which the system sets when the timer is due.
inline constexpr UINT kTimeCallbackEventSet = 0x0010;

extern "C" {
UINT timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK proc, DWORD_PTR user, UINT flags);
MMRESULT timeKillEvent(UINT id);
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);
DWORD timeGetTime();
}  // extern "C"

}  // namespace platform::winmm

namespace platform::kernel32 {

extern "C" {
// BOOL results; the counts are the system's 64-bit LARGE_INTEGER.
int QueryPerformanceCounter(std::int64_t* count);
int QueryPerformanceFrequency(std::int64_t* frequency);
// Auto-reset or manual events (BOOL flags, a HANDLE result; null on failure).
void* CreateEventW(void* attributes, int manual_reset, int initial_state, const wchar_t* name);
DWORD WaitForSingleObject(void* handle, DWORD milliseconds);
void* GetCurrentThread();
int SetThreadPriority(void* thread, int priority);
}  // extern "C"

}  // namespace platform::kernel32
