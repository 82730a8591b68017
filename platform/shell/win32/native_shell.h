#pragma once

// The system's ShellExecuteA with plain types (see messages/win32/native_windows.h).

#include <cstdint>

namespace platform::win32 {

std::intptr_t ShellExecute(std::uintptr_t owner, const char* operation, const char* file,
                           const char* parameters, const char* directory, int show);

}  // namespace platform::win32
