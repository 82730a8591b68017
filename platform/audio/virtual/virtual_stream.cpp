// The virtual clock and the pacing of the virtual streams.

#include "platform/audio/virtual/virtual_stream.h"

#include "platform/audio/virtual/virtual_backend.h"

namespace platform {
namespace {

constexpr std::chrono::milliseconds kPeriod{10};

}  // namespace

VirtualClockState& ClockState() {
  static VirtualClockState* state = new VirtualClockState;
  return *state;
}

void VirtualStream::Rebase() {
  start_ms_ = ClockState().manual_ms;
  start_time_ = Clock::now();
  OnRebase();
}

void VirtualStream::StartThread() {
  {
    std::lock_guard<std::mutex> lock(ClockState().mutex);
    ClockState().streams.insert(this);
  }
  thread_.Start([this] { Run(); });
}

void VirtualStream::StopThread() {
  {
    std::lock_guard<std::mutex> lock(ClockState().mutex);
    closing_ = true;
    started_ = false;
    ClockState().streams.erase(this);
  }
  wake_.notify_all();
  thread_.Join();
}

std::uint64_t VirtualStream::ElapsedFrames(std::uint32_t rate) const {
  if (ClockState().manual) return (ClockState().manual_ms - start_ms_) * rate / 1000;
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start_time_);
  std::uint64_t total = ns.count() > 0 ? static_cast<std::uint64_t>(ns.count()) : 0;
  return total / 1000000000u * rate + total % 1000000000u * rate / 1000000000u;
}

void VirtualStream::Run() {
  VirtualClockState& state = ClockState();
  std::unique_lock<std::mutex> lock(state.mutex);
  while (!closing_) {
    if (!started_ || state.manual) {
      wake_.wait(lock);
      continue;
    }
    CatchUp();
    auto elapsed = Clock::now() - start_time_;
    auto next = start_time_ + (elapsed / kPeriod + 1) * kPeriod;
    wake_.wait_until(lock, next);
  }
}

std::size_t VirtualEndpointIndex(const std::string& endpoint_id, const std::string& prefix,
                                 std::size_t count) {
  if (endpoint_id.compare(0, prefix.size(), prefix) != 0 || endpoint_id.size() <= prefix.size() ||
      endpoint_id.find_first_not_of("0123456789", prefix.size()) != std::string::npos ||
      endpoint_id.size() - prefix.size() >= 10) {
    return count;
  }
  std::size_t index = std::stoul(endpoint_id.substr(prefix.size()));
  return index < count ? index : count;
}

void VirtualClock::SetManual(bool manual) {
  VirtualClockState& state = ClockState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.manual == manual) return;
  state.manual = manual;
  for (VirtualStream* stream : state.streams) {
    if (stream->Started()) stream->Rebase();
    stream->WakeThread();
  }
}

bool VirtualClock::IsManual() {
  std::lock_guard<std::mutex> lock(ClockState().mutex);
  return ClockState().manual;
}

void VirtualClock::Advance(unsigned milliseconds) {
  VirtualClockState& state = ClockState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.manual) return;
  state.manual_ms += milliseconds;
  for (VirtualStream* stream : state.streams) {
    if (stream->Started()) stream->CatchUp();
  }
}

}  // namespace platform
