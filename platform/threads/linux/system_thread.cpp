#include "platform/threads/system_thread.h"

#include <pthread.h>

#include <thread>
#include <utility>

namespace platform {

struct SystemThread::Handle {
  std::thread thread;
};

void SystemThread::Start(std::function<void()> body, const char* name) {
  handle_ = std::make_shared<Handle>();
  handle_->thread = std::thread(std::move(body));
  if (name) pthread_setname_np(handle_->thread.native_handle(), name);
}

bool SystemThread::Joinable() const {
  return handle_ && handle_->thread.joinable();
}

bool SystemThread::IsCurrent() const {
  return Joinable() && handle_->thread.get_id() == std::this_thread::get_id();
}

void SystemThread::Join() {
  if (Joinable()) handle_->thread.join();
}

void SystemThread::Detach() {
  if (Joinable()) handle_->thread.detach();
}

}  // namespace platform
