#include <chrono>

#include "platform/messages/messages.h"

bool WaitAndPumpUntil(unsigned milliseconds, bool pump, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (unsigned round = 0; round < milliseconds; ++round) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) break;
    WaitAndPump(1, pump);
  }
  return done();
}
