#include "platform/framework/win32/native_process.h"

#include <windows.h>

#include "platform/text/win32/native_wide_text.h"

namespace platform::win32 {

std::string ModuleFileName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return Utf8FromWide(path);
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace platform::win32
