#pragma once

#include <atomic>
#include <cstdint>
#include <exception>

#include "devices/device_state.h"

// The stop and close handshake of a device component, shared by capture and
// both outputs. A stop asked for while a returned buffer is being handled is
// deferred: the handler that unwinds last posts it to the component's window,
// where it runs again. A close asked for meanwhile waits for that stop and is
// finished by it.
struct TMMDeviceHandshake {
  std::atomic<bool> closing{false};        // a close is in progress
  std::atomic<bool> close_pending{false};  // a close waits for the deferred stop
  std::atomic<bool> stopping{false};       // a stop has begun: returns are not refilled
  std::atomic<bool> resetting{false};      // the device gives back what it holds
  std::atomic<bool> stop_deferred{false};  // a stop waits for the handler to unwind
  std::atomic<bool> stop_posted{false};    // the deferred stop has been posted

  // Open begins with no stop or reset under way (a deferred stop may still
  // be, when an open follows a close that waits for it).
  void ClearForOpen() { closing = resetting = stopping = stop_posted = false; }
  // Start begins with no stop of any kind under way.
  void ClearForStart() { stop_deferred = resetting = stopping = stop_posted = false; }
  // Whether Close may go on: not inside another close, unless it is the
  // deferred stop that finishes a close waiting for it.
  bool MayClose() const { return !closing || close_pending; }
  // Close after its stop: true when that stop is deferred, so that the close
  // is left to it; false when the close goes on now.
  bool LeaveCloseToStop() {
    close_pending = stop_deferred.load();
    return close_pending;
  }
  // The handler unwinding last: true exactly once per deferred stop, which
  // the caller then posts; the returns that follow are not refilled.
  bool TakeStopPost() {
    if (stop_posted) return false;
    stop_posted = true;
    stopping = true;
    return true;
  }
};

// A driver's open or close notification puts the device's state to exactly
// {dsOpen} or {dsClosed}; false when msg is neither.
inline bool NoteOpenOrClose(std::atomic<std::uint32_t>& state, unsigned msg, unsigned open_msg,
                            unsigned close_msg) {
  if (msg == open_msg)
    state = dsOpen;
  else if (msg == close_msg)
    state = dsClosed;
  else
    return false;
  return true;
}

// The application's report of a failure no caller can take.
void ReportDeviceFailure(const std::exception& e);

// Runs the handling of a driver notification on the driver's thread: an
// exception closes the device and goes to the application's report.
template <class Handle, class Close>
void HandleDriverNotification(Handle handle, Close close) {
  try {
    handle();
  } catch (const std::exception& e) {
    close();
    ReportDeviceFailure(e);
  }
}

// Waits up to `rounds` steps of 10 ms until the driver's notification has put
// `flag` in `state`; each step pumps the GUI thread's messages when `pump`.
bool WaitForDeviceState(const std::atomic<std::uint32_t>& state, TMMDeviceStateFlag flag,
                        int rounds, bool pump);

// How a failed guarded operation lets the close see the device.
enum TMMGuardClose : std::uint8_t {
  gcAsIs,       // as it is
  gcAsOpen,     // as {dsOpen}, and exactly closed afterwards
  gcAsStarted,  // with dsStarted added, and exactly closed afterwards
};

// Runs a guarded device operation: on any exception `fire_error` (OnError)
// runs, the device is closed and the exception goes on.
template <class Op, class FireError, class Close>
void RunGuarded(std::atomic<std::uint32_t>& state, TMMGuardClose how, Op op, FireError fire_error,
                Close close) {
  try {
    op();
  } catch (...) {
    fire_error();
    if (how == gcAsOpen) state = dsOpen;
    if (how == gcAsStarted) state |= dsStarted;
    close();
    if (how != gcAsIs) state = dsClosed;
    throw;
  }
}
