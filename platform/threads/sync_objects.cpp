#include "platform/threads/sync_objects.h"

#include <algorithm>
#include <chrono>

namespace platform {

void Waiter::Wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  woken_ = true;
  cv_.notify_one();
}

bool Waiter::WaitUntil(const std::chrono::steady_clock::time_point* deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!deadline) {
    cv_.wait(lock, [this] { return woken_; });
  } else if (!cv_.wait_until(lock, *deadline, [this] { return woken_; })) {
    return false;
  }
  woken_ = false;
  return true;
}

}  // namespace platform

TEvent::TEvent(bool manualReset, bool initialState)
    : manual_(manualReset), signaled_(initialState) {}

void TEvent::SetEvent() {
  std::lock_guard<std::mutex> lock(mutex_);
  signaled_ = true;
  if (manual_)
    cv_.notify_all();
  else
    cv_.notify_one();
  for (platform::Waiter* w : waiters_) w->Wake();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> lock(mutex_);
  signaled_ = false;
}

TWaitResult TEvent::WaitFor(DWORD milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (milliseconds == INFINITE) {
    cv_.wait(lock, [this] { return signaled_; });
  } else if (!cv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return signaled_; })) {
    return wrTimeout;
  }
  if (!manual_) signaled_ = false;
  return wrSignaled;
}

bool TEvent::TryAcquire() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!signaled_) return false;
  if (!manual_) signaled_ = false;
  return true;
}

void TEvent::AddWaiter(platform::Waiter* waiter) {
  std::lock_guard<std::mutex> lock(mutex_);
  waiters_.push_back(waiter);
}

void TEvent::RemoveWaiter(platform::Waiter* waiter) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase(waiters_, waiter);
}
