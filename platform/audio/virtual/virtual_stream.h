#pragma once

// The clock of the virtual streams and the pacing they share (internal to
// the virtual back-end).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "platform/threads/system_thread.h"

namespace platform {

class VirtualAudioBackend;
class VirtualStream;

// Everything the virtual streams share, under one lock: the clock and every
// stream's state. Stream callbacks run with it held, so a stream's calls and
// its destruction wait for a callback in progress. Never destroyed: streams
// may outlive static destruction order.
struct VirtualClockState {
  std::mutex mutex;
  bool manual = false;
  std::uint64_t manual_ms = 0;
  std::set<VirtualStream*> streams;
};

VirtualClockState& ClockState();

// A stream on the virtual clock. By the real-time clock, a thread of its own
// calls CatchUp every 10 ms, at period boundaries counted from the last
// re-base so that late wake-ups never add up; by the manual clock, Advance
// calls it.
class VirtualStream {
 public:
  VirtualStream(const VirtualStream&) = delete;
  VirtualStream& operator=(const VirtualStream&) = delete;

  // The rest runs with ClockState().mutex held.
  bool Started() const { return started_; }
  bool On(const VirtualAudioBackend* backend, const std::string& id) const {
    return backend == backend_ && id == endpoint_id_;
  }
  // From now on the clock counts from the current time.
  void Rebase();
  void WakeThread() { wake_.notify_all(); }
  // Does what the stream owes by the current time of the clock in use.
  virtual void CatchUp() = 0;
  // The device was unplugged: report it once, do nothing more.
  virtual void MarkLost() = 0;

 protected:
  VirtualStream(const VirtualAudioBackend* backend, std::string endpoint_id)
      : backend_(backend), endpoint_id_(std::move(endpoint_id)) {}
  virtual ~VirtualStream() = default;

  // Registers the stream and starts its thread: the last step of a derived
  // constructor. StopThread undoes it: the first step of a derived destructor.
  void StartThread();
  void StopThread();

  // Frames that `rate` gives from the last re-base to now, by the clock in use.
  std::uint64_t ElapsedFrames(std::uint32_t rate) const;
  // The derived stream's own counting at a re-base.
  virtual void OnRebase() = 0;

  bool started_ = false;
  bool lost_ = false;

 private:
  using Clock = std::chrono::steady_clock;
  void Run();

  const VirtualAudioBackend* const backend_;
  const std::string endpoint_id_;
  bool closing_ = false;
  std::uint64_t start_ms_ = 0;    // manual clock at the re-base
  Clock::time_point start_time_;  // steady clock at the re-base
  std::condition_variable wake_;
  platform::SystemThread thread_;
};

// The index in "<prefix><index>" when that names one of `count` devices,
// else `count`.
std::size_t VirtualEndpointIndex(const std::string& endpoint_id, const std::string& prefix,
                                 std::size_t count);

}  // namespace platform
