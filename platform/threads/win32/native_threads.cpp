#include "platform/threads/win32/native_threads.h"

#include <windows.h>

namespace platform::win32 {

bool SetThreadPriority(unsigned long thread_id, int priority) {
  HANDLE thread = OpenThread(THREAD_SET_INFORMATION, FALSE, thread_id);
  if (!thread) return false;
  const bool done = ::SetThreadPriority(thread, priority) != FALSE;
  CloseHandle(thread);
  return done;
}

}  // namespace platform::win32
