#include "platform/threads/thread_exit.h"

namespace platform {
namespace {

struct ExitWork {
  void (*drop)(void*) = nullptr;
  void* value = nullptr;
  ~ExitWork() {
    if (drop) drop(value);
  }
};
thread_local ExitWork exit_work;

}  // namespace

void AtThreadExit(void (*drop)(void* value), void* value) {
  exit_work.drop = drop;
  exit_work.value = value;
}

}  // namespace platform
