#include "stream/dsp_thread.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/threads/thread_messages.h"

namespace {

// Worker threads are created on the GUI thread but end, and look themselves
// up, on their own threads: the list has a lock.
std::mutex registry_lock;
std::vector<TMMDSPThread*>* registry = nullptr;

constexpr int kPriorities[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                               THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                               THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                               THREAD_PRIORITY_TIME_CRITICAL};

}  // namespace

int ThreadPriorityValue(TThreadPriority priority) {
  const auto i = static_cast<std::size_t>(priority);
  return i < std::size(kPriorities) ? kPriorities[i] : THREAD_PRIORITY_NORMAL;
}

void TMMThreadEx::SetPriority(TThreadPriority priority) {
  SetPlatformPriority(ThreadPriorityValue(priority));
}

TThreadPriority TMMThreadEx::GetPriority() const {
  const int value = GetPlatformPriority();
  for (std::size_t i = 0; i < std::size(kPriorities); ++i)
    if (kPriorities[i] == value) return static_cast<TThreadPriority>(i);
  return tpNormal;
}

TMMDSPThread::TMMDSPThread(TMMCustomSoundComponent* component) : component_(component) {
  std::lock_guard<std::mutex> lock(registry_lock);
  if (!registry) registry = new std::vector<TMMDSPThread*>();
  registry->push_back(this);
}

TMMDSPThread::~TMMDSPThread() {
  // A thread deleted by another one is ended first, while it is still
  // registered: its body may be inside CallSynchronized.
  EndThread();
  std::lock_guard<std::mutex> lock(registry_lock);
  if (registry) {
    std::erase(*registry, this);
    if (registry->empty()) {
      delete registry;
      registry = nullptr;
    }
  }
}

void CallSynchronized(const TThreadMethod& method) {
  TMMDSPThread* thread = nullptr;
  if (!platform::IsGuiThread()) {
    const DWORD id = GetCurrentThreadId();
    std::lock_guard<std::mutex> lock(registry_lock);
    if (registry) {
      for (TMMDSPThread* t : *registry) {
        if (t->ThreadID() == id) {
          thread = t;
          break;
        }
      }
    }
  }
  if (thread)
    thread->Synchronize(method);
  else
    method();
}

int DSPThreadCount() {
  std::lock_guard<std::mutex> lock(registry_lock);
  return registry ? static_cast<int>(registry->size()) : 0;
}
