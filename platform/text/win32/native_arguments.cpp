#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/text/win32/native_wide_text.h"

namespace platform {

std::vector<std::string> SystemArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  // Should the system's line not split, the runtime's arguments are the best there is.
  if (wide == nullptr || count != argc) {
    if (wide != nullptr) LocalFree(wide);
    return std::vector<std::string>(argv, argv + argc);
  }
  std::vector<std::string> values;
  for (int i = 0; i < count; ++i) values.push_back(win32::Utf8FromWide(wide[i]));
  LocalFree(wide);
  return values;
}

}  // namespace platform
