#include "platform/threads/sync_objects.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace platform {

// Wakes one thread blocked in a wait for several events at once. Events keep a
// list of the waiters currently interested in them.
class Waiter {
 public:
  void Wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
    cv_.notify_one();
  }
  // Blocks until Wake was called since the last return, or until the deadline
  // (none: no time-out). False on time-out.
  bool WaitUntil(const std::chrono::steady_clock::time_point* deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!deadline) {
      cv_.wait(lock, [this] { return woken_; });
    } else if (!cv_.wait_until(lock, *deadline, [this] { return woken_; })) {
      return false;
    }
    woken_ = false;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool woken_ = false;
};

struct EventState {
  EventState(bool manualReset, bool initialState) : manual(manualReset), signaled(initialState) {}

  // Takes the signal if there is one (an auto-reset event is reset by it).
  bool TryAcquire() {
    std::lock_guard<std::mutex> lock(mutex);
    if (!signaled) return false;
    if (!manual) signaled = false;
    return true;
  }
  void AddWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> lock(mutex);
    waiters.push_back(waiter);
  }
  void RemoveWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> lock(mutex);
    std::erase(waiters, waiter);
  }

  std::mutex mutex;
  std::condition_variable cv;
  const bool manual;
  bool signaled;
  std::vector<Waiter*> waiters;
};

struct CriticalSectionState {
  std::recursive_mutex mutex;
};

DWORD WaitForEvents(DWORD count, TEvent* const* events, DWORD milliseconds) {
  if (count > 64) return WAIT_FAILED;
  for (DWORD i = 0; i < count; ++i)
    if (!events[i]) return WAIT_FAILED;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);

  // Interest is registered before the first look, so that a signal between the
  // look and the wait wakes the wait instead of being missed.
  Waiter waiter;
  for (DWORD i = 0; i < count; ++i) events[i]->state_->AddWaiter(&waiter);
  DWORD result = WAIT_TIMEOUT;
  for (bool found = false; !found;) {
    for (DWORD i = 0; i < count && !found; ++i) {
      if (events[i]->state_->TryAcquire()) {
        result = WAIT_OBJECT_0 + i;
        found = true;
      }
    }
    if (!found && !waiter.WaitUntil(milliseconds == INFINITE ? nullptr : &deadline)) break;
  }
  for (DWORD i = 0; i < count; ++i) events[i]->state_->RemoveWaiter(&waiter);
  return result;
}

}  // namespace platform

TEvent::TEvent(bool manualReset, bool initialState)
    : state_(std::make_unique<platform::EventState>(manualReset, initialState)) {}

TEvent::~TEvent() = default;

void TEvent::SetEvent() {
  platform::EventState& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  s.signaled = true;
  if (s.manual)
    s.cv.notify_all();
  else
    s.cv.notify_one();
  for (platform::Waiter* w : s.waiters) w->Wake();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->signaled = false;
}

TWaitResult TEvent::WaitFor(DWORD milliseconds) {
  platform::EventState& s = *state_;
  std::unique_lock<std::mutex> lock(s.mutex);
  if (milliseconds == INFINITE) {
    s.cv.wait(lock, [&s] { return s.signaled; });
  } else if (!s.cv.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [&s] { return s.signaled; })) {
    return wrTimeout;
  }
  if (!s.manual) s.signaled = false;
  return wrSignaled;
}

TCriticalSection::TCriticalSection() : state_(std::make_unique<platform::CriticalSectionState>()) {}

TCriticalSection::~TCriticalSection() = default;

void TCriticalSection::Enter() {
  state_->mutex.lock();
}

void TCriticalSection::Leave() {
  state_->mutex.unlock();
}

bool TCriticalSection::TryEnter() {
  return state_->mutex.try_lock();
}
