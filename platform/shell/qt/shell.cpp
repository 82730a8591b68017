#include "platform/shell/shell.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include "platform/shell/shell_hook.h"

namespace {

// Any value above 32 reports success.
constexpr HINSTANCE kHandedOver = 42;

}  // namespace

HINSTANCE ShellExecuteA(HWND owner, const char* operation, const char* file, const char* parameters,
                        const char* directory, int show) {
  const platform::ShellRequest request =
      platform::MakeShellRequest(owner, operation, file, parameters, directory, show);
  if (HINSTANCE answer; platform::AnswerShellByHook(request, &answer)) return answer;

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
