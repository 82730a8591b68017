#include "platform/threads/thread_messages.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/threads/thread_exit.h"

namespace {

using Clock = std::chrono::steady_clock;

// A thread's queue; its event is signalled while it holds messages, so that a
// wait for events can wait for messages too.
class ThreadQueue {
 public:
  void Push(const MSG& msg) {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(msg);
    not_empty_.SetEvent();
  }

  bool Peek(MSG* out, HWND wnd, UINT filterMin, UINT filterMax, bool remove) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = messages_.begin(); it != messages_.end(); ++it) {
      if (wnd != 0 && it->hwnd != wnd) continue;
      if ((filterMin != 0 || filterMax != 0) &&
          (it->message < filterMin || it->message > filterMax))
        continue;
      if (out) *out = *it;
      if (remove) {
        messages_.erase(it);
        if (messages_.empty()) not_empty_.ResetEvent();
      }
      return true;
    }
    return false;
  }

  TEvent* NotEmpty() { return &not_empty_; }

 private:
  std::mutex mutex_;
  std::deque<MSG> messages_;
  TEvent not_empty_{true, false};
};

std::atomic<DWORD> next_thread_id{1};
thread_local DWORD current_thread_id = 0;

std::mutex queues_lock;
std::unordered_map<DWORD, std::shared_ptr<ThreadQueue>>& Queues() {
  static auto* queues = new std::unordered_map<DWORD, std::shared_ptr<ThreadQueue>>();
  return *queues;
}

// The calling thread's own queue (the table holds it); removed from the table
// when the thread ends.
thread_local ThreadQueue* own_queue = nullptr;

void DropQueue(void* id) {
  std::shared_ptr<ThreadQueue> queue;  // goes outside the lock
  std::lock_guard<std::mutex> lock(queues_lock);
  auto it = Queues().find(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(id)));
  if (it == Queues().end()) return;
  queue = std::move(it->second);
  Queues().erase(it);
}

ThreadQueue& OwnQueue() {
  if (!own_queue) {
    auto q = std::make_shared<ThreadQueue>();
    DWORD id = GetCurrentThreadId();
    {
      std::lock_guard<std::mutex> lock(queues_lock);
      Queues()[id] = q;
    }
    own_queue = q.get();
    platform::AtThreadExit(DropQueue, reinterpret_cast<void*>(std::uintptr_t{id}));
  }
  return *own_queue;
}

DWORD NowMs() {
  return static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
          .count());
}

}  // namespace

DWORD GetCurrentThreadId() {
  if (current_thread_id == 0) current_thread_id = next_thread_id.fetch_add(1);
  return current_thread_id;
}

bool PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<ThreadQueue> q;
  {
    std::lock_guard<std::mutex> lock(queues_lock);
    auto it = Queues().find(threadId);
    if (it == Queues().end()) return false;
    q = it->second;
  }
  q->Push(MSG{0, msg, wParam, lParam, NowMs()});
  return true;
}

bool PeekMessage(LPMSG msg, HWND wnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
  return OwnQueue().Peek(msg, wnd, filterMin, filterMax, (removeMsg & PM_REMOVE) != 0);
}

DWORD MsgWaitForMultipleObjects(DWORD count, TEvent* const* events, DWORD milliseconds,
                                DWORD wakeMask) {
  for (DWORD i = 0; i < count; ++i)
    if (!events[i]) return WAIT_FAILED;
  ThreadQueue& queue = OwnQueue();
  std::vector<TEvent*> all(events, events + count);
  if ((wakeMask & QS_POSTMESSAGE) != 0) all.push_back(queue.NotEmpty());
  return platform::WaitForEvents(static_cast<DWORD>(all.size()), all.data(), milliseconds);
}

bool TranslateMessage(const MSG*) {
  return false;
}

LRESULT DispatchMessage(const MSG*) {
  return 0;
}

namespace platform {

DWORD NewThreadId() {
  return next_thread_id.fetch_add(1);
}

void AdoptThreadId(DWORD id) {
  current_thread_id = id;
}

void DestroyThreadQueue() {
  if (!own_queue) return;
  own_queue = nullptr;
  DropQueue(reinterpret_cast<void*>(std::uintptr_t{GetCurrentThreadId()}));
}

}  // namespace platform
