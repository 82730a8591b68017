#pragma once

#include <atomic>
#include <exception>
#include <functional>

#include "platform/threads/sync_objects.h"
#include "platform/threads/system_thread.h"

// A parameterless method of an object, run by Synchronize.
using TThreadMethod = std::function<void()>;

// Thread priorities as the components name them.
enum TThreadPriority : std::uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

// Platform thread priorities.
inline constexpr int THREAD_PRIORITY_IDLE = -15;
inline constexpr int THREAD_PRIORITY_LOWEST = -2;
inline constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;
inline constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
inline constexpr int THREAD_PRIORITY_HIGHEST = 2;
inline constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

// A thread object. It is created suspended; Start (or Resume) runs Execute on
// a new thread. Terminate only sets the Terminated flag, which Execute is
// expected to look at. With FreeOnTerminate the object deletes itself when
// Execute has returned; otherwise its owner deletes it, which terminates the
// thread and waits for it. A derived class whose body uses its own members
// must end the thread in its own destructor (EndThread), before those
// members go. An exception escaping Execute ends the thread and is kept in
// FatalException; it never ends the process.
class TThread {
 public:
  TThread();
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Runs the thread; nothing when it was started already.
  void Start();
  void Resume() { Start(); }
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  bool Finished() const;
  bool Started() const { return started_; }
  // Whether the caller runs on this object's thread.
  bool IsCurrentThread() const;

  bool GetFreeOnTerminate() const { return free_on_terminate_.load(); }
  void SetFreeOnTerminate(bool value) { free_on_terminate_.store(value); }
  // Known from construction, before the thread runs.
  DWORD ThreadID() const { return thread_id_; }

  // Waits until Execute has returned and gives ReturnValue. On the GUI
  // thread, methods that threads hand over with Synchronize run meanwhile,
  // so a thread inside Synchronize cannot deadlock the wait. A thread that
  // was never started returns at once; waiting for oneself raises Exception.
  int WaitFor();

  // Runs method on the GUI thread and waits until it has run; directly when
  // called on the GUI thread or when no application runs. An exception of the
  // method is raised again in the calling thread.
  void Synchronize(const TThreadMethod& method);

  // Platform priority (THREAD_PRIORITY_*), applied to the operating system as
  // well as it allows: lowering always works, raising may need privileges and
  // is then silently not done. Before Start the value is applied at start.
  void SetPlatformPriority(int priority);
  int GetPlatformPriority() const { return priority_.load(); }

  // Terminate and WaitFor, unless the thread never ran or this is the thread.
  void EndThread();

  std::exception_ptr FatalException() const { return fatal_; }
  int ReturnValue() const { return return_value_; }

 protected:
  // The thread's body.
  virtual void Execute() = 0;
  void SetReturnValue(int value) { return_value_ = value; }

 private:
  static void Run(TThread* self);
  void ApplyPriority();

  platform::SystemThread thread_;
  bool started_ = false;
  bool finished_ = false;  // guarded by the process-wide synchronisation lock
  std::atomic<bool> terminated_{false};
  std::atomic<bool> free_on_terminate_{false};
  std::atomic<int> priority_{THREAD_PRIORITY_NORMAL};
  std::atomic<int> os_tid_{0};
  const DWORD thread_id_;
  std::exception_ptr fatal_;
  int return_value_ = 0;
};

namespace platform {

// True on the GUI thread: the thread of the running application.
bool IsGuiThread();
// Runs, on the GUI thread, the methods that other threads are waiting in
// Synchronize for. The application calls it when it gets to them; waits on
// the GUI thread may call it too.
void CheckSynchronize();
// The operating system's nice value for a platform priority.
int NiceForPriority(int priority);

}  // namespace platform
