#pragma once

#include <functional>

// Runs the GUI thread's message loop, as WaitAndPump does, until `done` holds
// (asked after each batch of messages handled) or the time is up: a loop
// that waits for what its messages bring wakes only when they come (for a
// condition another thread sets without a message, WaitAndPumpUntil looks
// every millisecond). Off the GUI thread it sleeps the whole time.
void PumpMessagesUntil(unsigned milliseconds, const std::function<bool()>& done);
