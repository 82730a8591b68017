#include "platform/shell/win32/native_shell.h"

#include <windows.h>
// After windows.h, whose types they use.
#include <objbase.h>
#include <shellapi.h>
// The header names the A or W call by this name; ours is the function below.
#undef ShellExecute

#include <string>

#include "platform/text/win32/native_wide_text.h"

namespace platform::win32 {

std::intptr_t ShellExecute(std::uintptr_t owner, const char* operation, const char* file,
                           const char* parameters, const char* directory, int show) {
  // Texts are UTF-8; the wide call takes any name. A missing text stays missing.
  const auto wide = [](const char* text) { return text ? WideFromUtf8(text) : std::wstring(); };
  const auto pass = [](const char* text, const std::wstring& w) {
    return text ? w.c_str() : nullptr;
  };
  const std::wstring o = wide(operation), f = wide(file), p = wide(parameters), d = wide(directory);
  // The system's shell runs its handlers as COM objects: COM is made ready on
  // this thread for the call (a thread that has it already keeps its own).
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const auto result = reinterpret_cast<std::intptr_t>(
      ShellExecuteW(reinterpret_cast<HWND>(owner), pass(operation, o), pass(file, f),
                    pass(parameters, p), pass(directory, d), show));
  if (SUCCEEDED(com)) CoUninitialize();
  return result;
}

}  // namespace platform::win32
