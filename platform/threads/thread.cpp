#include "platform/threads/thread.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/framework/exception.h"
#include "platform/threads/gui_thread.h"
#include "platform/threads/thread_messages.h"

namespace {

// A method handed to the GUI thread by Synchronize.
struct SyncCall {
  TThreadMethod method;
  bool done = false;
  bool abandoned = false;
  std::exception_ptr error;
};

// One lock and condition for every thread's end and every hand-over to the
// GUI thread, so that a wait on the GUI thread can watch both at once.
std::mutex sync_lock;
std::condition_variable sync_changed;
std::deque<std::shared_ptr<SyncCall>> sync_queue;

}  // namespace

namespace platform {

void AbandonPendingSynchronize() {
  std::lock_guard<std::mutex> lock(sync_lock);
  for (auto& call : sync_queue) {
    call->abandoned = true;
    call->done = true;
  }
  sync_queue.clear();
  sync_changed.notify_all();
}

void CheckSynchronize() {
  for (;;) {
    std::shared_ptr<SyncCall> call;
    {
      std::lock_guard<std::mutex> lock(sync_lock);
      if (sync_queue.empty()) return;
      call = sync_queue.front();
      sync_queue.pop_front();
    }
    try {
      call->method();
    } catch (...) {
      call->error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(sync_lock);
    call->done = true;
    sync_changed.notify_all();
  }
}

int NiceForPriority(int priority) {
  // Rows of the platform's priority scale and the nice value given to each;
  // values between rows take the nearer row below.
  static constexpr struct {
    int priority;
    int nice;
  } kRows[] = {{THREAD_PRIORITY_IDLE, 19},          {THREAD_PRIORITY_LOWEST, 10},
               {THREAD_PRIORITY_BELOW_NORMAL, 5},   {THREAD_PRIORITY_NORMAL, 0},
               {THREAD_PRIORITY_ABOVE_NORMAL, -5},  {THREAD_PRIORITY_HIGHEST, -10},
               {THREAD_PRIORITY_TIME_CRITICAL, -20}};
  int nice = kRows[0].nice;
  for (const auto& row : kRows)
    if (priority >= row.priority) nice = row.nice;
  return nice;
}

}  // namespace platform

TThread::TThread() : thread_id_(platform::NewThreadId()) {}

TThread::~TThread() {
  if (thread_.Joinable()) {
    if (thread_.IsCurrent()) {
      // Deleted from its own body (FreeOnTerminate): nobody to join it.
      thread_.Detach();
    } else {
      Terminate();
      WaitFor();
      thread_.Join();
    }
  }
}

void TThread::EndThread() {
  if (!started_ || IsCurrentThread()) return;
  Terminate();
  WaitFor();
}

void TThread::Start() {
  if (started_) return;
  started_ = true;
  // The new thread waits for this lock before it runs, so that a thread that
  // frees itself cannot be gone before its handle is stored.
  std::lock_guard<std::mutex> lock(sync_lock);
  thread_.Start([this] { Run(this); });
}

bool TThread::IsCurrentThread() const {
  return GetCurrentThreadId() == thread_id_;
}

bool TThread::Finished() const {
  std::lock_guard<std::mutex> lock(sync_lock);
  return finished_;
}

void TThread::Run(TThread* self) {
  { std::lock_guard<std::mutex> lock(sync_lock); }
  platform::AdoptThreadId(self->thread_id_);
  self->os_tid_.store(platform::CurrentOsThreadId());
  self->ApplyPriority();
  try {
    self->Execute();
  } catch (...) {
    self->fatal_ = std::current_exception();
  }
  self->os_tid_.store(0);
  platform::DestroyThreadQueue();
  if (self->free_on_terminate_.load()) {
    delete self;
    return;
  }
  std::lock_guard<std::mutex> lock(sync_lock);
  self->finished_ = true;
  sync_changed.notify_all();
}

int TThread::WaitFor() {
  if (!started_) return return_value_;
  if (IsCurrentThread()) throw Exception("A thread cannot wait for itself");
  const bool gui = platform::IsGuiThread();
  std::unique_lock<std::mutex> lock(sync_lock);
  for (;;) {
    if (finished_) break;
    if (gui && !sync_queue.empty()) {
      lock.unlock();
      platform::CheckSynchronize();
      lock.lock();
      continue;
    }
    sync_changed.wait(lock);
  }
  return return_value_;
}

void TThread::Synchronize(const TThreadMethod& method) {
  if (!platform::GuiThreadExists() || platform::IsGuiThread()) {
    method();
    return;
  }
  auto call = std::make_shared<SyncCall>();
  call->method = method;
  {
    std::lock_guard<std::mutex> lock(sync_lock);
    sync_queue.push_back(call);
    sync_changed.notify_all();
  }
  // The request carries no data: the GUI thread takes the work from the
  // queue above, under its lock.
  platform::RequestSynchronize();
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(sync_lock);
    sync_changed.wait(lock, [&] { return call->done; });
    if (call->abandoned) throw Exception("The application ended before a synchronised call ran");
    // Taken out of the shared record: the exception then belongs to this
    // thread alone, whichever thread drops the record last.
    error = std::move(call->error);
  }
  if (error) std::rethrow_exception(error);
}

void TThread::SetPlatformPriority(int priority) {
  priority_.store(priority);
  ApplyPriority();
}

void TThread::ApplyPriority() {
  const int tid = os_tid_.load();
  if (tid == 0) return;  // not running yet: applied at start
  platform::SetOsThreadPriority(tid, priority_);
}
