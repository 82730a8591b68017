#include "platform/threads/gui_thread.h"

#include "platform/messages/win32/gui_loop.h"
#include "platform/messages/win32/native_windows.h"
#include "platform/threads/thread.h"
#include "platform/threads/win32/native_threads.h"

namespace platform {

bool IsGuiThread() {
  return win32::OnGuiThread();
}

bool GuiThreadExists() {
  return win32::HaveGuiThread();
}

void RequestSynchronize() {
  if (!win32::PostToGuiThread(CheckSynchronize)) AbandonPendingSynchronize();
}

int CurrentOsThreadId() {
  return static_cast<int>(win32::CurrentThreadId());
}

void SetOsThreadPriority(int os_thread_id, int priority) {
  // The platform's priorities are the system's own values.
  win32::SetThreadPriority(static_cast<unsigned long>(os_thread_id), priority);
}

}  // namespace platform
