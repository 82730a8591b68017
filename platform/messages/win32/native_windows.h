#pragma once

// The Windows calls the notification windows are made of, with plain types, so
// that the binding can use them without the system's headers (whose names
// clash with the platform layer's own).

#include <cstdint>
#include <string>

namespace platform::win32 {

// A window procedure: runs on the thread that created the window.
using NativeProc = std::intptr_t (*)(void* context, unsigned msg, std::uintptr_t wParam,
                                     std::intptr_t lParam);

// A hidden message-only window whose messages from the WM_USER range on, and the
// multimedia ones (MM_*, below WM_USER), go to proc with context; 0 on failure.
std::uintptr_t CreateNotifyWindow(NativeProc proc, void* context);
// The first visible, unowned top-level window of this process in the system's order,
// else the desktop's.
std::uintptr_t ProcessWindowOrDesktop();
// Destroys it; its posted messages go with it. The creating thread only.
void DestroyNotifyWindow(std::uintptr_t wnd);
bool IsNotifyWindow(std::uintptr_t wnd);
// Whether the calling thread made the window (and alone may destroy it).
bool OwnedByThisThread(std::uintptr_t wnd);
bool Post(std::uintptr_t wnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
std::intptr_t Send(std::uintptr_t wnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
// Removes the calling thread's posted messages of one kind for one window.
int RemovePosted(std::uintptr_t wnd, unsigned msg);
// Dispatches the calling thread's messages until the time is up; false when
// the thread's loop was asked to quit (the quit request stays posted).
bool PumpFor(unsigned milliseconds);
// Dispatches what waits now; false when the loop was asked to quit.
bool PumpPending();
// Dispatches until the loop is asked to quit.
void PumpUntilQuit();
// Asks the calling thread's loop to quit.
void Quit();
// Calls proc(context) once on the window's thread after about the given time.
bool CallLater(std::uintptr_t wnd, unsigned milliseconds, void (*proc)(void*), void* context);
// Whether the calling thread shows a window (a visible top-level one).
bool ThreadShowsWindow();
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type);
// Closes the dialog boxes of the calling thread (its message boxes), as Escape would.
void CloseThreadDialogs();
// The operating system's identifier of the calling thread.
unsigned long CurrentThreadId();
void Sleep(unsigned milliseconds);

}  // namespace platform::win32
