#include "stream/device_handshake.h"

#include "platform/messages/messages.h"

namespace {

constexpr unsigned kWaitStepMs = 10;

}  // namespace

void ReportDeviceFailure(const std::exception& e) {
  platform::ShowException(e);
}

bool WaitForDeviceState(const std::atomic<std::uint32_t>& state, TMMDeviceStateFlag flag,
                        int rounds, bool pump) {
  for (int i = 0; i < rounds; ++i) {
    if (state.load() & flag) return true;
    WaitAndPump(kWaitStepMs, pump);
  }
  return (state.load() & flag) != 0;
}
