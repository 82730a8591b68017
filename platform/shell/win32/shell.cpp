#include "platform/shell/shell.h"

#include "platform/shell/shell_hook.h"
#include "platform/shell/win32/native_shell.h"

HINSTANCE ShellExecuteA(HWND owner, const char* operation, const char* file, const char* parameters,
                        const char* directory, int show) {
  const platform::ShellRequest request =
      platform::MakeShellRequest(owner, operation, file, parameters, directory, show);
  if (HINSTANCE answer; platform::AnswerShellByHook(request, &answer)) return answer;
  return platform::win32::ShellExecute(owner, operation, file, parameters, directory, show);
}
