#include "platform/threads/gui_thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <mutex>

#include "platform/threads/thread.h"

namespace {

std::mutex app_lock;
QCoreApplication* sync_app = nullptr;  // the application the shutdown hook is set for

// Runs as the application goes: nobody will run what is still waiting.
void OnApplicationGone() {
  {
    std::lock_guard<std::mutex> lock(app_lock);
    sync_app = nullptr;
  }
  platform::AbandonPendingSynchronize();
}

}  // namespace

namespace platform {

bool IsGuiThread() {
  auto* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

bool GuiThreadExists() {
  return QCoreApplication::instance() != nullptr;
}

void RequestSynchronize() {
  auto* app = QCoreApplication::instance();
  if (!app) {
    AbandonPendingSynchronize();  // gone meanwhile
    return;
  }
  {
    std::lock_guard<std::mutex> lock(app_lock);
    if (sync_app != app) {
      qAddPostRoutine(OnApplicationGone);
      sync_app = app;
    }
  }
  QMetaObject::invokeMethod(
      app, [] { platform::CheckSynchronize(); }, Qt::QueuedConnection);
}

int CurrentOsThreadId() {
  return static_cast<int>(gettid());
}

void SetOsThreadPriority(int os_thread_id, int priority) {
  // Raising needs privileges the program normally lacks; then the thread
  // keeps its current priority.
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(os_thread_id), NiceForPriority(priority));
}

}  // namespace platform
