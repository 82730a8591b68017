#include "platform/framework/win32/native_cursor.h"

#include <windows.h>

namespace platform::win32 {

std::uintptr_t ShowWaitCursor() {
  return reinterpret_cast<std::uintptr_t>(SetCursor(LoadCursorA(nullptr, IDC_WAIT)));
}

void RestoreCursor(std::uintptr_t cursor) {
  SetCursor(reinterpret_cast<HCURSOR>(cursor));
}

}  // namespace platform::win32
