#include "platform/shell/shell.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <mutex>

namespace {

std::mutex hook_lock;
platform::ShellHook shell_hook;

// Any value above 32 reports success.
constexpr HINSTANCE kHandedOver = 42;

std::string Text(const char* s) {
  return s ? s : "";
}

}  // namespace

HINSTANCE ShellExecuteA(HWND owner, const char* operation, const char* file, const char* parameters,
                        const char* directory, int show) {
  const platform::ShellRequest request{
      owner, Text(operation), Text(file), Text(parameters), Text(directory), show};
  platform::ShellHook hook;
  {
    std::lock_guard<std::mutex> lock(hook_lock);
    hook = shell_hook;
  }
  if (hook) return hook(request);

  if (!request.Operation.empty() && request.Operation != "open") return SE_ERR_NOASSOC;
  if (!request.Parameters.empty()) return SE_ERR_NOASSOC;
  if (request.File.empty()) return ERROR_FILE_NOT_FOUND;
  // A name that begins with '-' would read as one of the opener's options.
  std::string target = request.File;
  if (target[0] == '-') target = "./" + target;
  const bool started = QProcess::startDetached(QStringLiteral("xdg-open"),
                                               QStringList{QString::fromStdString(target)},
                                               QString::fromStdString(request.Directory));
  return started ? kHandedOver : ERROR_FILE_NOT_FOUND;
}

namespace platform {

void SetShellHook(ShellHook hook) {
  std::lock_guard<std::mutex> lock(hook_lock);
  shell_hook = std::move(hook);
}

}  // namespace platform
