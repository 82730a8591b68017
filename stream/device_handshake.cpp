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
  const auto reached = [&] { return (state.load() & flag) != 0; };
  for (int i = 0; i < rounds; ++i)
    if (WaitAndPumpUntil(kWaitStepMs, pump, reached)) return true;
  return reached();
}
