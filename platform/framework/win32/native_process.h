#pragma once

// The system's process calls with plain types (see messages/win32/native_windows.h).

#include <string>

namespace platform::win32 {

// Full path of the running program.
std::string ModuleFileName();

}  // namespace platform::win32
