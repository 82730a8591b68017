#include "platform/shell/win32/native_shell.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>
// The header names the A or W call by this name; ours is the function below.
#undef ShellExecute

namespace platform::win32 {

std::intptr_t ShellExecute(std::uintptr_t owner, const char* operation, const char* file,
                           const char* parameters, const char* directory, int show) {
  return reinterpret_cast<std::intptr_t>(
      ShellExecuteA(reinterpret_cast<HWND>(owner), operation, file, parameters, directory, show));
}

}  // namespace platform::win32
