#include "platform/shell/shell_hook.h"

#include <mutex>
#include <utility>

namespace {

std::mutex hook_lock;
platform::ShellHook shell_hook;

std::string Text(const char* s) {
  return s ? s : "";
}

}  // namespace

namespace platform {

ShellRequest MakeShellRequest(HWND owner, const char* operation, const char* file,
                              const char* parameters, const char* directory, int show) {
  return {owner, Text(operation), Text(file), Text(parameters), Text(directory), show};
}

bool AnswerShellByHook(const ShellRequest& request, HINSTANCE* answer) {
  ShellHook hook;
  {
    std::lock_guard<std::mutex> lock(hook_lock);
    hook = shell_hook;
  }
  if (!hook) return false;
  *answer = hook(request);
  return true;
}

void SetShellHook(ShellHook hook) {
  std::lock_guard<std::mutex> lock(hook_lock);
  shell_hook = std::move(hook);
}

}  // namespace platform
