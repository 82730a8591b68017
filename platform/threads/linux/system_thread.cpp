#include "platform/threads/system_thread.h"

#include <pthread.h>

#include <thread>
#include <utility>

namespace platform {

struct SystemThread::Handle {
  std::thread thread;
};

SystemThread::SystemThread() : handle_(std::make_unique<Handle>()) {}
SystemThread::~SystemThread() = default;
SystemThread::SystemThread(SystemThread&& other) noexcept
    : handle_(std::exchange(other.handle_, std::make_unique<Handle>())) {}
SystemThread& SystemThread::operator=(SystemThread&& other) noexcept {
  std::swap(handle_, other.handle_);
  return *this;
}

void SystemThread::Start(std::function<void()> body, const char* name) {
  handle_->thread = std::thread(std::move(body));
  if (name) pthread_setname_np(handle_->thread.native_handle(), name);
}

bool SystemThread::Joinable() const {
  return handle_->thread.joinable();
}

bool SystemThread::IsCurrent() const {
  return handle_->thread.joinable() && handle_->thread.get_id() == std::this_thread::get_id();
}

void SystemThread::Join() {
  if (handle_->thread.joinable()) handle_->thread.join();
}

void SystemThread::Detach() {
  if (handle_->thread.joinable()) handle_->thread.detach();
}

}  // namespace platform
