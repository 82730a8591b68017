#pragma once

#include <functional>
#include <memory>

#include "platform/audio/audio_backend.h"
#include "platform/messages/messages.h"

// Runs a handler on the GUI thread whenever the audio back-end reports an
// input or output added or removed: once for a burst of such reports, and at
// most once per kFollowPause. A handler that is not ready answers false, and
// runs again a pause later; nor does it run inside itself (from a message
// loop it runs): such a run waits a pause too. Made and destroyed on the GUI
// thread.
class TDeviceFollower {
 public:
  static constexpr unsigned kFollowPause = 300;  // ms

  explicit TDeviceFollower(std::function<bool()> handler);
  ~TDeviceFollower();
  TDeviceFollower(const TDeviceFollower&) = delete;
  TDeviceFollower& operator=(const TDeviceFollower&) = delete;

 private:
  // The notification window's procedure; GUI thread.
  void WndProc(TMessage& message);

  // Asks again for a run of the handler, a pause from now.
  void RunLater();

  std::function<bool()> handler_;
  // The back-end watched, also when the process has chosen another since.
  std::shared_ptr<platform::AudioBackend> backend_;
  HWND window_ = 0;
  bool due_ = false;      // a run of the handler is on its way
  bool running_ = false;  // the handler runs
};
