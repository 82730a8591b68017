#include "platform/threads/win32/native_threads.h"

#include <windows.h>

namespace platform::win32 {
namespace {

struct ExitWork {
  void (*drop)(void*);
  void* value;
};

// Called by the system on the ending thread.
void WINAPI RunExitWork(void* work) {
  if (!work) return;
  auto* w = static_cast<ExitWork*>(work);
  w->drop(w->value);
  delete w;
}

DWORD ExitSlot() {
  static const DWORD slot = FlsAlloc(RunExitWork);
  return slot;
}

}  // namespace

void AtThreadExit(void (*drop)(void* value), void* value) {
  const DWORD slot = ExitSlot();
  if (slot == FLS_OUT_OF_INDEXES) return;
  delete static_cast<ExitWork*>(FlsGetValue(slot));
  FlsSetValue(slot, new ExitWork{drop, value});
}

bool SetThreadPriority(unsigned long thread_id, int priority) {
  HANDLE thread = OpenThread(THREAD_SET_INFORMATION, FALSE, thread_id);
  if (!thread) return false;
  const bool done = ::SetThreadPriority(thread, priority) != FALSE;
  CloseHandle(thread);
  return done;
}

}  // namespace platform::win32
