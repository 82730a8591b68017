#pragma once

#include <functional>
#include <mutex>
#include <utility>

namespace platform {

// The function a back-end calls when its list of devices changes. Notify
// calls it under a lock, so that once Set returns the function given before
// is no longer running and never runs again.
class EndpointWatcher {
 public:
  void Set(std::function<void()> changed) {
    std::lock_guard<std::mutex> hold(mutex_);
    changed_ = std::move(changed);
  }
  void Notify() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (changed_) changed_();
  }
  bool Watching() {
    std::lock_guard<std::mutex> hold(mutex_);
    return static_cast<bool>(changed_);
  }

 private:
  std::mutex mutex_;
  std::function<void()> changed_;
};

}  // namespace platform
