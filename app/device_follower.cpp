#include "app/device_follower.h"

namespace {

// A device was added or removed (posted from the back-end's thread).
constexpr UINT WM_DEVICESCHANGED = 0x8010;
// The pause after the first report is over: run the handler.
constexpr UINT WM_FOLLOWDEVICES = 0x8011;

}  // namespace

TDeviceFollower::TDeviceFollower(std::function<bool()> handler) : handler_(std::move(handler)) {
  window_ = AllocateHWnd([this](TMessage& message) { WndProc(message); });
  backend_ = platform::CurrentAudioBackend();
  if (backend_) {
    HWND window = window_;
    // Runs on a back-end thread: it only posts.
    backend_->WatchEndpoints([window] { PostMessage(window, WM_DEVICESCHANGED, 0, 0); });
  }
}

TDeviceFollower::~TDeviceFollower() {
  if (backend_) backend_->WatchEndpoints(nullptr);
  DeallocateHWnd(window_);
}

void TDeviceFollower::RunLater() {
  due_ = true;
  platform::PostMessageAfter(window_, WM_FOLLOWDEVICES, 0, 0, kFollowPause);
}

void TDeviceFollower::WndProc(TMessage& message) {
  if (message.Msg == WM_DEVICESCHANGED) {
    // Later reports of the same burst ride with the run already on its way.
    if (!due_) RunLater();
  } else if (message.Msg == WM_FOLLOWDEVICES) {
    if (running_) {
      RunLater();
      return;
    }
    due_ = false;
    running_ = true;
    bool done = true;
    platform::Guarded([this, &done] { done = handler_(); });
    running_ = false;
    if (!done && !due_) RunLater();
  }
}
