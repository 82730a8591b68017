#include "platform/messages/messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace {

// One wake-up event is posted per message; the messages themselves wait in
// the window's own queue, so that messages of one kind can be removed exactly.
constexpr QEvent::Type kWakeType = static_cast<QEvent::Type>(QEvent::User + 1);

class NotifyWindow : public QObject {
 public:
  explicit NotifyWindow(TWndMethod method) : method_(std::move(method)) {}

  void Dispatch(TMessage& m) {
    ++depth_;
    if (method_) platform::Guarded([&] { method_(m); });
    --depth_;
  }
  // A window destroyed from its own procedure goes once the procedure returned.
  bool Dispatching() const { return depth_ > 0; }
  // Called with windows_lock held.
  void Enqueue(const TMessage& m) {
    queue_.push_back(m);
    QCoreApplication::postEvent(this, new QEvent(kWakeType));
  }
  // Called with windows_lock held.
  int Remove(UINT msg) {
    auto old = queue_.size();
    std::erase_if(queue_, [msg](const TMessage& m) { return m.Msg == msg; });
    return static_cast<int>(old - queue_.size());
  }

 protected:
  bool event(QEvent* e) override;

 private:
  TWndMethod method_;
  std::deque<TMessage> queue_;
  int depth_ = 0;
};

std::mutex windows_lock;
std::map<HWND, NotifyWindow*> windows;
HWND next_handle = 1;

bool NotifyWindow::event(QEvent* e) {
  if (e->type() != kWakeType) return QObject::event(e);
  TMessage m;
  {
    std::lock_guard<std::mutex> lock(windows_lock);
    if (queue_.empty()) return true;  // its message was removed
    m = queue_.front();
    queue_.pop_front();
  }
  Dispatch(m);
  return true;
}

std::mutex hook_lock;
platform::MessageBoxHook box_hook;
std::atomic<bool> display_lost{false};

NotifyWindow* Find(HWND wnd) {
  auto it = windows.find(wnd);
  return it == windows.end() ? nullptr : it->second;
}

bool OnGuiThread() {
  auto* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

bool Headless() {
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  return !app || display_lost || QGuiApplication::platformName() == "offscreen" ||
         QGuiApplication::platformName() == "minimal";
}

}  // namespace

HWND AllocateHWnd(TWndMethod method) {
  auto* w = new NotifyWindow(std::move(method));
  if (auto* app = QCoreApplication::instance()) w->moveToThread(app->thread());
  std::lock_guard<std::mutex> lock(windows_lock);
  HWND h = next_handle++;
  windows[h] = w;
  return h;
}

void DeallocateHWnd(HWND wnd) {
  NotifyWindow* w;
  {
    std::lock_guard<std::mutex> lock(windows_lock);
    w = Find(wnd);
    if (!w) return;
    windows.erase(wnd);
  }
  // No post can reach it any more; drop what is still queued.
  QCoreApplication::removePostedEvents(w);
  if (w->Dispatching())
    w->deleteLater();
  else
    delete w;
}

bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> lock(windows_lock);
  NotifyWindow* w = Find(wnd);
  if (!w) return false;
  w->Enqueue(TMessage{msg, wParam, lParam, 0});
  return true;
}

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  NotifyWindow* w;
  {
    std::lock_guard<std::mutex> lock(windows_lock);
    w = Find(wnd);
  }
  if (!w) return 0;
  TMessage m{msg, wParam, lParam, 0};
  w->Dispatch(m);
  return m.Result;
}

int RemovePendingMessages(HWND wnd, UINT msg) {
  std::lock_guard<std::mutex> lock(windows_lock);
  NotifyWindow* w = Find(wnd);
  return w ? w->Remove(msg) : 0;
}

void WaitAndPump(unsigned milliseconds, bool pump) {
  if (milliseconds == 0) return;
  if (!pump || !OnGuiThread()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return;
  }
  auto* app = QCoreApplication::instance();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  if (display_lost) {
    // The toolkit's event loop would end the process at once.
    while (std::chrono::steady_clock::now() < deadline) {
      platform::DeliverPostedMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return;
  }
  bool quitting = false;
  while (!quitting && !QCoreApplication::closingDown()) {
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(app, &QCoreApplication::aboutToQuit, &loop, [&] {
      quitting = true;
      loop.quit();
    });
    timer.start(static_cast<int>(left.count()));
    loop.exec();
  }
}

int MessageBox(const std::string& text, const std::string& caption, UINT type) {
  {
    std::lock_guard<std::mutex> lock(hook_lock);
    if (box_hook) return box_hook(text, caption, type);
  }
  if (Headless() || !OnGuiThread()) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return (type & 0xF) == MB_YESNO ? IDYES : IDOK;
  }
  QMessageBox box;
  box.setWindowTitle(QString::fromStdString(caption));
  box.setText(QString::fromStdString(text));
  if ((type & 0xF0) == MB_ICONERROR)
    box.setIcon(QMessageBox::Critical);
  else if ((type & 0xF0) == MB_ICONWARNING)
    box.setIcon(QMessageBox::Warning);
  else if ((type & 0xF0) == MB_ICONINFORMATION)
    box.setIcon(QMessageBox::Information);
  switch (type & 0xF) {
    case MB_OKCANCEL:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
    case MB_YESNO:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    default:
      box.setStandardButtons(QMessageBox::Ok);
      box.exec();
      return IDOK;
  }
}

namespace platform {

void SetMessageBoxHook(MessageBoxHook hook) {
  std::lock_guard<std::mutex> lock(hook_lock);
  box_hook = std::move(hook);
}

void SetDisplayLost() {
  display_lost = true;
}

bool DisplayLost() {
  return display_lost;
}

void DeliverPostedMessages() {
  if (QCoreApplication::instance()) QCoreApplication::sendPostedEvents(nullptr, kWakeType);
}

void PostMessageAfter(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, unsigned milliseconds) {
  auto* app = QCoreApplication::instance();
  if (!app) return;
  QTimer::singleShot(std::chrono::milliseconds(milliseconds), Qt::PreciseTimer, app,
                     [=] { ::PostMessage(wnd, msg, wParam, lParam); });
}

void ShowException(const std::exception& e) {
  std::string caption = QCoreApplication::instance()
                            ? QCoreApplication::applicationName().toStdString()
                            : std::string();
  MessageBox(e.what(), caption, MB_OK | MB_ICONERROR);
}

void Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowException(e);
  }
}

}  // namespace platform
