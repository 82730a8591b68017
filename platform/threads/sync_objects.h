#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

// Events and critical sections shaped like the operating-system objects the
// components were written against.

using DWORD = std::uint32_t;

// Wait without a time-out.
inline constexpr DWORD INFINITE = 0xFFFFFFFF;
// Results of the multi-object waits.
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

enum TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

namespace platform {

// Wakes one thread blocked in a wait for several objects at once. Objects
// keep a list of the waiters currently interested in them.
class Waiter {
 public:
  void Wake();
  // Blocks until Wake was called since the last return, or until the
  // deadline (none: no time-out). False on time-out.
  bool WaitUntil(const std::chrono::steady_clock::time_point* deadline);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool woken_ = false;
};

}  // namespace platform

// An event object. An auto-reset event lets exactly one wait through per
// SetEvent and then falls back to non-signalled; a manual-reset event stays
// signalled until ResetEvent.
class TEvent {
 public:
  explicit TEvent(bool manualReset = false, bool initialState = false);
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  // Waits until the event is signalled (INFINITE: no time-out).
  TWaitResult WaitFor(DWORD milliseconds);

  // For multi-object waits: takes the signal if there is one (an auto-reset
  // event is reset by it), and registers interest in the next SetEvent.
  bool TryAcquire();
  void AddWaiter(platform::Waiter* waiter);
  void RemoveWaiter(platform::Waiter* waiter);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  const bool manual_;
  bool signaled_;
  std::vector<platform::Waiter*> waiters_;
};

// A critical section: a lock the owning thread may enter again.
class TCriticalSection {
 public:
  TCriticalSection() = default;
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;

  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  bool TryEnter() { return mutex_.try_lock(); }
  void Acquire() { Enter(); }
  void Release() { Leave(); }
  // So that std::lock_guard / std::unique_lock can hold it.
  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return TryEnter(); }

 private:
  std::recursive_mutex mutex_;
};
