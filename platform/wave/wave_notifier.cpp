#include "platform/wave/wave_notifier.h"

#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/messages/messages.h"
#include "platform/threads/system_thread.h"
#include "platform/threads/thread_messages.h"

namespace platform {

struct WaveNotifier::State {
  struct Notice {
    UINT msg;
    WAVEHDR* header;
  };

  DWORD kind;
  DWORD_PTR target;
  DWORD_PTR instance;
  void* handle = nullptr;

  std::mutex mutex;  // everything below
  std::condition_variable ready;
  std::deque<Notice> notices;
  bool finished = false;  // the thread may end once the notices are out
  SystemThread thread;

  // Only function callbacks are called from the notifier's own thread.
  bool Threaded() const { return kind == CALLBACK_FUNCTION; }

  void Deliver(const Notice& notice, bool deferred = false) {
    const auto wparam = reinterpret_cast<WPARAM>(handle);
    const auto lparam = reinterpret_cast<LPARAM>(notice.header);
    switch (kind) {
      case CALLBACK_FUNCTION:
        reinterpret_cast<WAVECALLBACK>(target)(handle, notice.msg, instance,
                                               reinterpret_cast<DWORD_PTR>(notice.header), 0);
        break;
      case CALLBACK_WINDOW:
        if (deferred)
          PostMessageDeferred(static_cast<HWND>(target), notice.msg, wparam, lparam);
        else
          PostMessage(static_cast<HWND>(target), notice.msg, wparam, lparam);
        break;
      case CALLBACK_THREAD:
        PostThreadMessage(static_cast<DWORD>(target), notice.msg, wparam, lparam);
        break;
      default:
        break;
    }
  }

  // With `mutex` held: delivers what is waiting, unlocking around each call.
  void DeliverWaiting(std::unique_lock<std::mutex>& lock) {
    while (!notices.empty()) {
      Notice notice = notices.front();
      notices.pop_front();
      lock.unlock();
      Deliver(notice);
      lock.lock();
    }
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
      ready.wait(lock, [this] { return !notices.empty() || finished; });
      if (notices.empty()) return;
      DeliverWaiting(lock);
    }
  }

  // Ends the thread after everything posted is delivered.
  void End() {
    SystemThread ending;
    {
      std::unique_lock<std::mutex> lock(mutex);
      if (!thread.Joinable()) {
        finished = true;
        return;
      }
      if (thread.IsCurrent()) {
        DeliverWaiting(lock);
        finished = true;
        thread.Detach();
        return;
      }
      finished = true;
      ready.notify_one();
      ending = std::move(thread);
    }
    ending.Join();
  }
};

WaveNotifier::WaveNotifier(DWORD kind, DWORD_PTR target, DWORD_PTR instance)
    : state_(std::make_shared<State>()) {
  state_->kind = kind;
  state_->target = target;
  state_->instance = instance;
}

WaveNotifier::~WaveNotifier() {
  state_->End();
}

void WaveNotifier::Start(void* handle) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->handle = handle;
  if (!state_->Threaded()) return;
  // The thread keeps the state alive until it ends.
  std::shared_ptr<State> state = state_;
  // Named so that it is told apart in measurements.
  state_->thread.Start([state] { state->Run(); }, "wave-notify");
}

void WaveNotifier::Post(UINT msg, WAVEHDR* header) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->Threaded()) {
    // Posted under the lock, so that posts from several threads keep their order.
    state_->Deliver({msg, header});
    return;
  }
  state_->notices.push_back({msg, header});
  state_->ready.notify_one();
}

void WaveNotifier::PostData(UINT msg, WAVEHDR* header) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->Threaded()) {
    state_->Deliver({msg, header}, true);
    return;
  }
  state_->notices.push_back({msg, header});
  state_->ready.notify_one();
}

void WaveNotifier::Finish(UINT msg) {
  Post(msg, nullptr);
  state_->End();
}

}  // namespace platform
