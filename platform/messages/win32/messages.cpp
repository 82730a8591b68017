#include "platform/messages/messages.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/messages/message_hook.h"
#include "platform/messages/pump_until.h"
#include "platform/messages/win32/gui_loop.h"
#include "platform/messages/win32/native_windows.h"

// Notification windows are real hidden (message-only) windows of the GUI
// thread; posting goes through the system's message queue, which keeps
// posting order and drops what was posted to a window that is destroyed.

namespace {

// Posted to the GUI thread's own window: wParam is a function to run.
constexpr UINT kRunMessage = WM_APP + 0x3F00;
// Posted to a notification window that another thread deallocated: the
// system lets only a window's own thread destroy it. wParam is the window.
constexpr UINT kDestroyMessage = WM_APP + 0x3F01;

class NotifyWindow {
 public:
  explicit NotifyWindow(TWndMethod method) : method_(std::move(method)) {}

  // Runs on the GUI thread.
  static std::intptr_t Proc(void* context, unsigned msg, std::uintptr_t wParam,
                            std::intptr_t lParam) {
    auto* self = static_cast<NotifyWindow*>(context);
    if (msg == kDestroyMessage) {
      platform::win32::DestroyNotifyWindow(wParam);
      self->Close();
      return 0;
    }
    if (self->silenced_) return 0;
    TMessage m{msg, wParam, lParam, 0};
    ++self->depth_;
    if (self->method_) platform::Guarded([&] { self->method_(m); });
    if (--self->depth_ == 0 && self->closed_) delete self;
    return m.Result;
  }
  // A window destroyed from its own procedure goes once the procedure returned.
  void Close() {
    if (depth_ == 0)
      delete this;
    else
      closed_ = true;
  }
  // From another thread: the procedure is called no more.
  void Silence() { silenced_ = true; }

 private:
  TWndMethod method_;
  int depth_ = 0;
  bool closed_ = false;
  std::atomic<bool> silenced_{false};
};

std::mutex windows_lock;
std::map<HWND, NotifyWindow*> windows;

std::atomic<unsigned long> gui_thread{0};
HWND gui_window = 0;  // set once with gui_thread, before it is published

std::intptr_t GuiWindowProc(void*, unsigned msg, std::uintptr_t wParam, std::intptr_t) {
  if (msg == kRunMessage) reinterpret_cast<void (*)()>(wParam)();
  return 0;
}

struct Delayed {
  HWND wnd;
  TMessage message;
};

// Runs on the GUI thread when a PostMessageAfter falls due.
void PostDelayed(void* context) {
  auto* d = static_cast<Delayed*>(context);
  PostMessage(d->wnd, d->message.Msg, d->message.WParam, d->message.LParam);
  delete d;
}

bool Headless() {
  return platform::DisplayLost() || !platform::win32::OnGuiThread() ||
         !platform::win32::ThreadShowsWindow();
}

std::mutex caption_lock;
std::string caption = "tessaline";  // caption_lock

}  // namespace

namespace platform::win32 {

void ClaimGuiThread() {
  static std::once_flag once;
  std::call_once(once, [] {
    gui_window = CreateNotifyWindow(GuiWindowProc, nullptr);
    gui_thread = CurrentThreadId();
  });
}

bool HaveGuiThread() {
  return gui_thread != 0;
}

bool OnGuiThread() {
  return gui_thread != 0 && gui_thread == CurrentThreadId();
}

void SetApplicationCaption(const std::string& title) {
  std::lock_guard<std::mutex> lock(caption_lock);
  caption = title;
}

bool PostToGuiThread(void (*proc)()) {
  if (gui_thread == 0) return false;
  return Post(gui_window, kRunMessage, reinterpret_cast<std::uintptr_t>(proc), 0);
}

}  // namespace platform::win32

HWND ProcessWindowOrDesktop() {
  return platform::win32::ProcessWindowOrDesktop();
}

HWND AllocateHWnd(TWndMethod method) {
  platform::win32::ClaimGuiThread();
  auto* w = new NotifyWindow(std::move(method));
  const HWND wnd = platform::win32::CreateNotifyWindow(NotifyWindow::Proc, w);
  if (wnd == 0) {
    delete w;
    return 0;
  }
  std::lock_guard<std::mutex> lock(windows_lock);
  windows[wnd] = w;
  return wnd;
}

void DeallocateHWnd(HWND wnd) {
  NotifyWindow* w;
  {
    std::lock_guard<std::mutex> lock(windows_lock);
    auto it = windows.find(wnd);
    if (it == windows.end()) return;
    w = it->second;
    windows.erase(it);
  }
  if (!platform::win32::OwnedByThisThread(wnd)) {
    // Its own thread destroys it; where that thread is gone, so is the window.
    w->Silence();
    platform::win32::Post(wnd, kDestroyMessage, wnd, 0);
    return;
  }
  platform::win32::DestroyNotifyWindow(wnd);
  w->Close();
}

bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> lock(windows_lock);
    if (!windows.contains(wnd)) return false;
  }
  return platform::win32::Post(wnd, msg, wParam, lParam);
}

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> lock(windows_lock);
    if (!windows.contains(wnd)) return 0;
  }
  return platform::win32::Send(wnd, msg, wParam, lParam);
}

int RemovePendingMessages(HWND wnd, UINT msg) {
  return platform::win32::RemovePosted(wnd, msg);
}

void WaitAndPump(unsigned milliseconds, bool pump) {
  if (milliseconds == 0) return;
  if (!pump || !platform::win32::OnGuiThread()) {
    platform::win32::Sleep(milliseconds);
    return;
  }
  platform::win32::PumpFor(milliseconds);
}

void PumpMessagesUntil(unsigned milliseconds, const std::function<bool()>& done) {
  if (!platform::win32::OnGuiThread()) {
    platform::win32::Sleep(milliseconds);
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!done()) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 ||
        !platform::win32::PumpFor(static_cast<unsigned>(std::min<long long>(left.count(), 10))))
      return;
  }
}

int MessageBox(const std::string& text, const std::string& caption, UINT type) {
  std::optional<platform::OpenMessageBox> open;
  if (platform::win32::OnGuiThread()) open.emplace();
  if (int answer; platform::AnswerByHook(text, caption, type, &answer)) return answer;
  if (Headless()) return platform::AnswerOnStandardError(text, caption, type);
  return platform::win32::ShowMessageBox(text, caption, type);
}

namespace platform {

void CloseOpenDialogs() {
  platform::win32::CloseThreadDialogs();
}

void DeliverPostedMessages() {
  if (win32::OnGuiThread()) win32::PumpPending();
}

void PostMessageAfter(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, unsigned milliseconds) {
  {
    std::lock_guard<std::mutex> lock(windows_lock);
    if (!windows.contains(wnd)) return;
  }
  auto* d = new Delayed{wnd, TMessage{msg, wParam, lParam, 0}};
  if (!win32::CallLater(wnd, milliseconds, PostDelayed, d)) delete d;
}

bool PostMessageDeferred(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  // The system's queue wakes the GUI thread for each message; it is not
  // held for a frame.
  return ::PostMessage(wnd, msg, wParam, lParam);
}

void ShowExceptionBox(const std::exception& e) {
  std::string title;
  {
    std::lock_guard<std::mutex> lock(caption_lock);
    title = caption;
  }
  MessageBox(e.what(), title, MB_OK | MB_ICONERROR);
}

}  // namespace platform
