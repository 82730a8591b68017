#pragma once

#include <functional>
#include <memory>

#include "platform/audio/audio_backend.h"
#include "platform/messages/messages.h"

// Runs a handler on the GUI thread whenever the audio back-end reports an
// input or output added or removed: once for a burst of such reports, and at
// most once per kFollowPause. Made and destroyed on the GUI thread.
class TDeviceFollower {
 public:
  static constexpr unsigned kFollowPause = 300;  // ms

  explicit TDeviceFollower(std::function<void()> handler);
  ~TDeviceFollower();
  TDeviceFollower(const TDeviceFollower&) = delete;
  TDeviceFollower& operator=(const TDeviceFollower&) = delete;

 private:
  // The notification window's procedure; GUI thread.
  void WndProc(TMessage& message);

  std::function<void()> handler_;
  // The back-end watched, also when the process has chosen another since.
  std::shared_ptr<platform::AudioBackend> backend_;
  HWND window_ = 0;
  bool due_ = false;  // a run of the handler is on its way
};
