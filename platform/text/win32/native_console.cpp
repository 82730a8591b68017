#include <io.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/text/console.h"
#include "platform/text/win32/native_wide_text.h"

namespace platform {
namespace {

// A windowed program started from a console has no standard handles of its
// own: its text goes to the console it was started from, where there is one.
// Null where there is none.
HANDLE ParentConsole() {
  static const HANDLE console = []() -> HANDLE {
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
      return nullptr;
    const HANDLE h = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
  }();
  return console;
}

}  // namespace

// A console is written with the wide-character call: it shows every character
// the console's font has, whatever its code page, and leaves the code page as
// the user set it. Files and pipes get the UTF-8 bytes.
void WriteText(std::FILE* stream, std::string_view text) {
  const int fd = _fileno(stream);
  const intptr_t os_handle = fd >= 0 ? _get_osfhandle(fd) : -1;
  HANDLE handle = reinterpret_cast<HANDLE>(os_handle);
  DWORD mode = 0;
  if (os_handle < 0) {
    // No handle behind the stream (the runtime says -2 for a windowed program).
    handle = ParentConsole();
    if (handle == nullptr) return;
  } else if (!GetConsoleMode(handle, &mode)) {
    std::fwrite(text.data(), 1, text.size(), stream);
    return;
  }
  std::fflush(stream);  // what was written through the stream before comes first
  const std::wstring wide = win32::WideFromUtf8(text);
  const wchar_t* next = wide.data();
  std::size_t left = wide.size();
  while (left > 0) {
    DWORD written = 0;
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(left, 8192));
    if (!WriteConsoleW(handle, next, piece, &written, nullptr) || written == 0) return;
    next += written;
    left -= written;
  }
}

}  // namespace platform
