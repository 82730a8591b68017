#pragma once

#include "platform/mmtimer/mmtimer.h"

// Between the calls of mmtimer.h (mmtimer.cpp) and the binding's timer service (linux/ or
// win32/ mmtimer.cpp).
namespace platform {

// The binding's service: a running timer's id (0 when the service refuses), its end
// (false for an unknown id; see timeKillEvent for when it returns), and how many run.
UINT StartTimer(UINT delay, LPTIMECALLBACK proc, DWORD_PTR user, bool periodic);
bool StopTimer(UINT id);
int RunningTimers();

// The resolutions requested through timeBeginPeriod, which RequestedTimerPeriod answers.
void RememberTimerPeriod(UINT period);
// False when no such request is outstanding.
bool ForgetTimerPeriod(UINT period);

}  // namespace platform
