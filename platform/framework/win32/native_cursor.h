#pragma once

// The system's cursor calls with plain types (see messages/win32/native_windows.h).

#include <cstdint>

namespace platform::win32 {

// Shows the wait cursor; returns the cursor it replaced.
std::uintptr_t ShowWaitCursor();
void RestoreCursor(std::uintptr_t cursor);

}  // namespace platform::win32
