#include <io.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/text/console.h"
#include "platform/text/win32/native_wide_text.h"

namespace platform {

// A console is written with the wide-character call: it shows every character
// the console's font has, whatever its code page, and leaves the code page as
// the user set it. Files and pipes get the UTF-8 bytes.
void WriteText(std::FILE* stream, std::string_view text) {
  const intptr_t os_handle = _get_osfhandle(_fileno(stream));
  HANDLE handle = reinterpret_cast<HANDLE>(os_handle);
  DWORD mode = 0;
  if (os_handle == -1 || !GetConsoleMode(handle, &mode)) {
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
