#pragma once

// The system's thread calls with plain types (see messages/win32/native_windows.h).

namespace platform::win32 {

// Gives the thread with that identifier the priority (THREAD_PRIORITY_*);
// false when the system refuses.
bool SetThreadPriority(unsigned long thread_id, int priority);
// Runs drop(value) when the calling thread ends, through the system's fiber
// storage callback, which runs before the thread's own storage goes (the C
// library's thread-local destructors may run after it).
void AtThreadExit(void (*drop)(void* value), void* value);

}  // namespace platform::win32
