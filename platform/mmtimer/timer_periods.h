#pragma once

#include "platform/mmtimer/mmtimer.h"

// The resolutions requested through timeBeginPeriod, which platform::RequestedTimerPeriod
// answers on either platform.
namespace platform {

void RememberTimerPeriod(UINT period);
// False when no such request is outstanding.
bool ForgetTimerPeriod(UINT period);

}  // namespace platform
