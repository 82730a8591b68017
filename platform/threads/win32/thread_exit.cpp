#include "platform/threads/thread_exit.h"

#include "platform/threads/win32/native_threads.h"

namespace platform {

void AtThreadExit(void (*drop)(void* value), void* value) {
  win32::AtThreadExit(drop, value);
}

}  // namespace platform
