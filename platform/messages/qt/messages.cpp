#include "platform/messages/messages.h"

#include <QBasicTimer>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/messages/message_hook.h"
#include "platform/messages/pump_until.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// The toolkit hands a posted event to the GUI thread under a lock of its own
// that ThreadSanitizer does not see; the hand-over of this file's events is
// told to it, so that the receiver's first look at the event is not taken for
// a race (and no report has to be looked up and silenced while sound plays).
void Post(QObject* receiver, QEvent::Type type) {
  auto* e = new QEvent(type);
#if defined(__SANITIZE_THREAD__)
  __tsan_release(e);
#endif
  QCoreApplication::postEvent(receiver, e);
}
// GUI thread: the receiving end of Post, before the event is looked at.
void Received([[maybe_unused]] QEvent* e) {
#if defined(__SANITIZE_THREAD__)
  __tsan_acquire(e);
#endif
}

// One wake-up event is posted per message; the messages themselves wait in
// the window's own queue, so that messages of one kind can be removed exactly.
// A deferred message waits in the queue without a wake-up event until the
// next frame tick hands it to its window.
constexpr QEvent::Type kWakeType = static_cast<QEvent::Type>(QEvent::User + 1);
// Starts the frame tick at once (posted from any thread).
constexpr QEvent::Type kTickStartType = static_cast<QEvent::Type>(QEvent::User + 2);
// The frame tick's period: about one display frame.
constexpr int kFrameTickMs = 8;

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
  // Called with windows_lock held. The deferred messages ahead of it get a
  // wake-up event too: a procedure the frame tick runs may wait, pumping, for
  // this one (a device's close notice behind its data), and the tick does not
  // run again while its own delivery waits.
  void Enqueue(const TMessage& m) {
    queue_.push_back(m);
    for (int i = 0; i <= unwoken_; ++i) Post(this, kWakeType);
    unwoken_ = 0;
  }
  // Called with windows_lock held: the message waits for the frame tick.
  // Whether the window still has to be put on the tick's list.
  bool EnqueueDeferred(const TMessage& m) {
    queue_.push_back(m);
    ++unwoken_;
    return !std::exchange(listed_, true);
  }
  // Called with windows_lock held: the window is off the tick's list; how
  // many messages wait now (the tick hands them out).
  std::size_t Unlist() {
    listed_ = false;
    unwoken_ = 0;
    return queue_.size();
  }
  // Called with windows_lock held: takes the oldest message; false when
  // none waits. A wake-up event that comes later for a message taken this
  // way finds the next one, or none.
  bool Take(TMessage* m) {
    if (queue_.empty()) return false;
    *m = queue_.front();
    queue_.pop_front();
    return true;
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
  bool listed_ = false;  // on the frame tick's list
  int unwoken_ = 0;      // deferred messages waiting without a wake-up event
  int depth_ = 0;
};

std::mutex windows_lock;
std::map<HWND, NotifyWindow*> windows;
HWND next_handle = 1;

NotifyWindow* Find(HWND wnd) {
  auto it = windows.find(wnd);
  return it == windows.end() ? nullptr : it->second;
}

bool NotifyWindow::event(QEvent* e) {
  Received(e);
  if (e->type() != kWakeType) return QObject::event(e);
  TMessage m;
  {
    std::lock_guard<std::mutex> lock(windows_lock);
    if (!Take(&m)) return true;  // its message was removed or handed out already
  }
  Dispatch(m);
  return true;
}

// Hands a window the messages that wait in its queue now, oldest first, on
// the GUI thread; messages posted meanwhile wait for their own turn. The
// window may go while one of its messages is handled.
void DeliverQueued(HWND wnd) {
  std::size_t n;
  {
    std::lock_guard<std::mutex> lock(windows_lock);
    NotifyWindow* w = Find(wnd);
    if (!w) return;
    n = w->Unlist();
  }
  for (; n > 0; --n) {
    TMessage m;
    NotifyWindow* w;
    {
      std::lock_guard<std::mutex> lock(windows_lock);
      w = Find(wnd);
      if (!w || !w->Take(&m)) return;
    }
    w->Dispatch(m);
  }
}

// The frame tick: one periodic timer on the GUI thread that hands the
// deferred messages, and the delayed ones that have fallen due, straight to
// their windows, so that work which only has to be done once a display frame
// wakes the GUI thread once a frame however many messages it brings, and no
// message needs an event of its own. It runs while messages wait for it and
// stops after a tick that found none.
class FrameTick : public QObject {
 public:
  struct Delayed {
    std::chrono::steady_clock::time_point due;
    HWND wnd;
    TMessage message;
  };

  // Called with windows_lock held; from any thread.
  void Defer(HWND wnd) {
    deferred_.push_back(wnd);
    if (running_) return;
    running_ = true;
    Post(this, kTickStartType);
  }
  // GUI thread.
  void Delay(const Delayed& d) {
    std::lock_guard<std::mutex> lock(windows_lock);
    delayed_.push_back(d);
    if (running_) return;
    running_ = true;
    timer_.start(kFrameTickMs, Qt::PreciseTimer, this);
  }
  // GUI thread: delivers what waits now; whether anything did or still does.
  bool Flush() {
    std::vector<HWND> ready;
    bool busy;
    {
      std::lock_guard<std::mutex> lock(windows_lock);
      ready.swap(deferred_);
      // Within half a period of its time a delayed message goes with this
      // tick rather than the next; it joins its window's queue as if posted
      // now, behind the deferred data of the same tick.
      const auto limit =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(kFrameTickMs / 2);
      std::erase_if(delayed_, [&](const Delayed& d) {
        if (d.due > limit) return false;
        if (NotifyWindow* w = Find(d.wnd); w && w->EnqueueDeferred(d.message))
          ready.push_back(d.wnd);
        return true;
      });
      busy = !ready.empty() || !delayed_.empty();
      if (!busy) {
        running_ = false;
        timer_.stop();
      }
    }
    for (HWND wnd : ready) DeliverQueued(wnd);
    return busy;
  }

 protected:
  bool event(QEvent* e) override {
    Received(e);
    if (e->type() == kTickStartType) {
      if (Flush() && !timer_.isActive()) timer_.start(kFrameTickMs, Qt::PreciseTimer, this);
      return true;
    }
    return QObject::event(e);
  }
  void timerEvent(QTimerEvent*) override { Flush(); }

 private:
  std::vector<HWND> deferred_;    // windows_lock; windows with deferred messages
  std::vector<Delayed> delayed_;  // windows_lock
  bool running_ = false;          // windows_lock; the timer runs or is about to start
  QBasicTimer timer_;             // GUI thread
};

// Created with the application, on the GUI thread; nullptr before.
FrameTick* TheFrameTick() {
  static FrameTick* tick = [] {
    auto* t = new FrameTick;
    if (auto* app = QCoreApplication::instance()) t->moveToThread(app->thread());
    return t;
  }();
  return tick;
}

bool OnGuiThread() {
  auto* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

bool Headless() {
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  return !app || platform::DisplayLost() || QGuiApplication::platformName() == "offscreen" ||
         QGuiApplication::platformName() == "minimal";
}

}  // namespace

HWND ProcessWindowOrDesktop() {
  return 0;
}

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
  // Off the GUI thread, the GUI thread deletes it at its next turn.
  if (!OnGuiThread() || w->Dispatching())
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
  if (platform::DisplayLost()) {
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

void PumpMessagesUntil(unsigned milliseconds, const std::function<bool()>& done) {
  if (!OnGuiThread() || platform::DisplayLost()) {
    WaitAndPump(milliseconds, true);
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  // Its expiry is the batch that ends the wait at the deadline.
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  timer.setSingleShot(true);
  timer.start(static_cast<int>(milliseconds));
  while (!done() && !QCoreApplication::closingDown() &&
         std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
}

// The message boxes open now, innermost last; GUI thread.
std::vector<QMessageBox*> open_dialogs;

int MessageBox(const std::string& text, const std::string& caption, UINT type) {
  std::optional<platform::OpenMessageBox> open;
  if (OnGuiThread()) open.emplace();
  if (int answer; platform::AnswerByHook(text, caption, type, &answer)) return answer;
  if (Headless() || !OnGuiThread()) return platform::AnswerOnStandardError(text, caption, type);
  QMessageBox box;
  open_dialogs.push_back(&box);
  struct Listed {
    ~Listed() { std::erase(open_dialogs, box); }
    QMessageBox* box;
  } listed{&box};
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

void CloseOpenDialogs() {
  // Innermost first: each one's loop returns before the one around it.
  for (auto it = open_dialogs.rbegin(); it != open_dialogs.rend(); ++it) (*it)->reject();
}

void DeliverPostedMessages() {
  if (!QCoreApplication::instance()) return;
  TheFrameTick()->Flush();
  QCoreApplication::sendPostedEvents(nullptr, kWakeType);
}

void PostMessageAfter(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, unsigned milliseconds) {
  if (!QCoreApplication::instance()) return;
  TheFrameTick()->Delay({std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds),
                         wnd, TMessage{msg, wParam, lParam, 0}});
}

bool PostMessageDeferred(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!QCoreApplication::instance()) return ::PostMessage(wnd, msg, wParam, lParam);
  FrameTick* tick = TheFrameTick();
  std::lock_guard<std::mutex> lock(windows_lock);
  NotifyWindow* w = Find(wnd);
  if (!w) return false;
  if (w->EnqueueDeferred(TMessage{msg, wParam, lParam, 0})) tick->Defer(wnd);
  return true;
}

void ShowExceptionBox(const std::exception& e) {
  std::string caption = QCoreApplication::instance()
                            ? QCoreApplication::applicationName().toStdString()
                            : std::string();
  MessageBox(e.what(), caption, MB_OK | MB_ICONERROR);
}

}  // namespace platform
