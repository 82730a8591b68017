#pragma once

#include <functional>
#include <memory>

namespace platform {

// A thread of the operating system's own kind, as the other threads of a
// process there are: on Linux a standard thread, on Windows one started with
// the system's own thread calls (linux/, win32/). Like a standard thread it
// must be joined or detached before it goes.
class SystemThread {
 public:
  SystemThread() = default;
  SystemThread(const SystemThread&) = delete;
  SystemThread& operator=(const SystemThread&) = delete;
  SystemThread(SystemThread&&) noexcept = default;
  SystemThread& operator=(SystemThread&&) noexcept = default;

  // Runs body on a new thread; name (at most 15 characters) tells it apart
  // in measurements where the system keeps names. Throws std::system_error,
  // as a standard thread does, when no thread can be made.
  void Start(std::function<void()> body, const char* name = nullptr);
  // Started and neither joined nor detached.
  bool Joinable() const;
  // Whether the caller runs on this thread.
  bool IsCurrent() const;
  // Waits until the thread has ended.
  void Join();
  // Lets the thread end on its own; a thread that frees itself calls it from
  // its own body.
  void Detach();

 private:
  // The binding's; none before Start.
  struct Handle;
  std::shared_ptr<Handle> handle_;
};

}  // namespace platform
