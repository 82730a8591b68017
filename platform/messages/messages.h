#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

// Window messages and notification windows. A notification window is an
// object on the GUI thread with a window procedure; messages posted to it from
// any thread are delivered on the GUI thread in posting order.

using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HWND = std::uintptr_t;  // 0 is no window

inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

struct TMessage {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

// Window procedure of a notification window; runs on the GUI thread.
using TWndMethod = std::function<void(TMessage&)>;

// Creates a notification window; GUI thread only.
HWND AllocateHWnd(TWndMethod method);
// The first visible, unowned top-level window of this process, in the
// system's order, else the desktop's window; 0 where the system has neither
// (Linux: the stand-in services need no window).
HWND ProcessWindowOrDesktop();
// Destroys it and drops its pending messages; nothing for 0. From another
// thread it returns at once, the GUI thread destroys the window at its next
// turn, and the window's procedure is called no more.
void DeallocateHWnd(HWND wnd);
// Posts a message; thread-safe, keeps posting order. False when the window
// does not exist (any more).
bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Calls the window procedure at once; GUI thread only. 0 when the window does not exist.
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Removes the pending messages of one kind posted to a window; returns how many.
int RemovePendingMessages(HWND wnd, UINT msg);

// Waits the given time. Without pump a plain sleep. With pump, on the GUI
// thread the application goes on processing its messages until the time is up
// or the application is being destroyed; elsewhere a plain sleep.
void WaitAndPump(unsigned milliseconds, bool pump);
// WaitAndPump that ends as soon as done() holds: done() is looked at before
// each millisecond of waiting (after that millisecond's messages, when
// pumping). Returns done() at the end. The wait lasts at most the given time
// and at most that many rounds, so that it ends at once where WaitAndPump
// does not wait (the application being destroyed).
bool WaitAndPumpUntil(unsigned milliseconds, bool pump, const std::function<bool()>& done);

// Message boxes.
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_ICONERROR = 0x10;
inline constexpr UINT MB_ICONWARNING = 0x30;
inline constexpr UINT MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Shows a modal message box on the GUI thread and returns the button chosen.
int MessageBox(const std::string& text, const std::string& caption, UINT type);

namespace platform {

// Tests intercept message boxes: while a hook is set it answers instead of a
// dialog. Without a hook, a headless run (no display) writes the text to
// standard error and answers IDOK, so no dialog ever blocks.
using MessageBoxHook =
    std::function<int(const std::string& text, const std::string& caption, UINT type)>;
void SetMessageBoxHook(MessageBoxHook hook);

// While it lives, it is the message-box hook: every box is answered IDOK and
// the first one's text is kept, for a command-line run that reports a
// failure as its own error. Any thread may show a box.
class FirstMessage {
 public:
  FirstMessage();
  ~FirstMessage();
  FirstMessage(const FirstMessage&) = delete;
  FirstMessage& operator=(const FirstMessage&) = delete;
  // The first box's text; empty while none was shown.
  std::string Text() const;

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// The display went away for good (the toolkit is about to end the process):
// from then on WaitAndPump and DeliverPostedMessages deliver only messages
// posted to notification windows, never the toolkit's own events, and message
// boxes write to standard error.
void SetDisplayLost();
bool DisplayLost();
// Delivers the messages waiting for the notification windows now; GUI thread.
void DeliverPostedMessages();

// Posts a message once about the given time has passed: with the frame tick
// (about 8 ms apart) that comes nearest to it; GUI thread only. Used by loops
// that repeat themselves without keeping the GUI thread busy between rounds.
void PostMessageAfter(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, unsigned milliseconds);

// Posts a message that is delivered with the next frame tick, at most about
// 8 ms later, together with everything else that waits for it: many such
// messages from many threads wake the GUI thread once a frame. While the tick
// is not running the first one starts it and is delivered at once. Order
// with the window's other messages is posting order. Thread-safe; false when
// the window does not exist.
bool PostMessageDeferred(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Message boxes open now on the GUI thread, nested ones each counted (also
// while a hook answers for one).
int OpenMessageBoxes();
// Runs `action` on the GUI thread once no message box is open and the
// handlers that opened them have returned to the message loop (with the next
// message when none is open): work that must not run under such a handler, such as closing
// the window whose components it belongs to. `owner` names the action for
// CancelAfterMessageBoxes.
void AfterMessageBoxes(const void* owner, std::function<void()> action);
// Drops the actions of `owner` that have not run yet.
void CancelAfterMessageBoxes(const void* owner);
// Closes every open message box as its Escape key would.
void CloseMessageBoxes();

// The application's standard error report: a message box with the exception's
// message; the program goes on.
void ShowException(const std::exception& e);
// Lets a window take part in the error report, as one that folds the failures
// of a lost server into one message does: ShowException first offers each
// exception to `report`, on the thread that reports it; true means it was
// dealt with, false shows the usual message box. An empty function ends it.
using ExceptionReport = std::function<bool(const std::exception& e)>;
void SetExceptionReport(ExceptionReport report);
// Runs an event handler and reports any exception that escapes it.
void Guarded(const std::function<void()>& handler);

}  // namespace platform
