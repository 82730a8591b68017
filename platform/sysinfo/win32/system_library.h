#pragma once

// Loading the system's libraries at run time, with plain types (see
// messages/win32/native_windows.h).

namespace platform::win32 {

// The library (a handle, nullptr when it cannot be loaded); loaded from the
// system folder only.
void* LoadSystemLibrary(const char* name);
// One of its functions, nullptr when it has none of that name.
void* LibraryFunction(void* library, const char* name);

}  // namespace platform::win32
