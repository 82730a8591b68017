#pragma once

// What every binding of the shell shares: the request record and the hook.

#include "platform/shell/shell.h"

namespace platform {

// The request as ShellExecuteA received it (absent texts are empty).
ShellRequest MakeShellRequest(HWND owner, const char* operation, const char* file,
                              const char* parameters, const char* directory, int show);
// True, with the hook's answer, while a shell hook is set.
bool AnswerShellByHook(const ShellRequest& request, HINSTANCE* answer);

}  // namespace platform
