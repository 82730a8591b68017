#pragma once

#include <cstdint>
#include <memory>

// Events and critical sections shaped like the operating-system objects the
// components were written against: on Windows the system's own (win32/), on
// Linux our own over the C++ library (linux/).

using DWORD = std::uint32_t;

// Wait without a time-out.
inline constexpr DWORD INFINITE = 0xFFFFFFFF;
// Results of the multi-object waits.
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

enum TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

class TEvent;

namespace platform {

// The binding's state of an event and of a critical section.
struct EventState;
struct CriticalSectionState;

// Waits until one of the events is signalled and gives WAIT_OBJECT_0 + its index
// (an auto-reset event is reset by it; when several are, the lowest index), or
// WAIT_TIMEOUT when the time is up (INFINITE: none; no events: the wait is only a
// pause). WAIT_FAILED for a null event or more than the system waits for at once (64).
DWORD WaitForEvents(DWORD count, TEvent* const* events, DWORD milliseconds);

}  // namespace platform

// An event object. An auto-reset event lets exactly one wait through per
// SetEvent and then falls back to non-signalled; a manual-reset event stays
// signalled until ResetEvent. An event the system could not make is never
// signalled, and waits for it give wrError (WAIT_FAILED).
class TEvent {
 public:
  explicit TEvent(bool manualReset = false, bool initialState = false);
  ~TEvent();
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  // Waits until the event is signalled (INFINITE: no time-out).
  TWaitResult WaitFor(DWORD milliseconds);

 private:
  friend DWORD platform::WaitForEvents(DWORD, TEvent* const*, DWORD);
  std::unique_ptr<platform::EventState> state_;
};

// A critical section: a lock the owning thread may enter again.
class TCriticalSection {
 public:
  TCriticalSection();
  ~TCriticalSection();
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;

  void Enter();
  void Leave();
  bool TryEnter();
  void Acquire() { Enter(); }
  void Release() { Leave(); }
  // So that std::lock_guard / std::unique_lock can hold it.
  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return TryEnter(); }

 private:
  std::unique_ptr<platform::CriticalSectionState> state_;
};
