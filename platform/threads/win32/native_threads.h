#pragma once

// The system's thread calls with plain types (see messages/win32/native_windows.h).

namespace platform::win32 {

// Gives the thread with that identifier the priority (THREAD_PRIORITY_*);
// false when the system refuses.
bool SetThreadPriority(unsigned long thread_id, int priority);

}  // namespace platform::win32
