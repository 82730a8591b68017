#include "platform/threads/system_thread.h"

#include <process.h>
#include <windows.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace platform {

// A handle of the system's; a thread that frees itself closes its own.
struct SystemThread::Handle {
  HANDLE thread = nullptr;
  DWORD id = 0;
};

namespace {

// Called on the new thread; the body belongs to it.
unsigned __stdcall RunBody(void* body) {
  std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(body));
  (*owned)();
  return 0;
}

}  // namespace

void SystemThread::Start(std::function<void()> body, const char*) {
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  handle_ = std::make_shared<Handle>();
  unsigned id = 0;
  // Made suspended, so that the handle is stored before the body can run.
  const auto thread = reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, 0, RunBody, owned.get(), CREATE_SUSPENDED, &id));
  if (!thread) throw std::system_error(errno, std::generic_category(), "no thread could be made");
  owned.release();
  handle_->thread = thread;
  handle_->id = id;
  ResumeThread(thread);
}

bool SystemThread::Joinable() const {
  return handle_ && handle_->thread;
}

bool SystemThread::IsCurrent() const {
  return Joinable() && handle_->id == GetCurrentThreadId();
}

void SystemThread::Join() {
  if (!Joinable()) return;
  WaitForSingleObject(handle_->thread, INFINITE);
  Detach();
}

void SystemThread::Detach() {
  if (!Joinable()) return;
  CloseHandle(handle_->thread);
  handle_->thread = nullptr;
  handle_->id = 0;
}

}  // namespace platform
