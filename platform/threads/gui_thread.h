#pragma once

// What the thread objects need of the toolkit and of the operating system's
// threads; each platform binds it (qt/, win32/).

namespace platform {

// Whether an application runs, that is, whether there is a GUI thread.
bool GuiThreadExists();
// Asks the GUI thread to run CheckSynchronize soon; any thread.
void RequestSynchronize();
// Called by the binding when the application goes away: every Synchronize
// still waiting returns with an error.
void AbandonPendingSynchronize();

// The calling thread's identifier as the operating system knows it (not 0).
int CurrentOsThreadId();
// Gives the thread with that identifier the platform priority
// (THREAD_PRIORITY_*) as well as the operating system allows: raising may
// need privileges and is then silently not done.
void SetOsThreadPriority(int os_thread_id, int priority);

}  // namespace platform
