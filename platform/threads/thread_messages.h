#pragma once

#include <cstdint>

#include "platform/messages/messages.h"
#include "platform/threads/sync_objects.h"

// Per-thread message queues for worker threads. A thread gets its queue the
// first time it looks into it (PeekMessage or MsgWaitForMultipleObjects);
// posting to a thread without a queue fails. The queue goes with its thread.

// A posted thread message; hwnd is 0 for thread messages.
struct MSG {
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  DWORD time = 0;  // milliseconds of the monotonic clock when posted
};
using LPMSG = MSG*;

inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;
// Wake-up masks: posted messages are the only input a worker queue holds.
inline constexpr DWORD QS_POSTMESSAGE = 0x0008;
inline constexpr DWORD QS_ALLINPUT = 0x04FF;

// The calling thread's identifier: non-zero, unique for the life of the process.
DWORD GetCurrentThreadId();

// Appends a message to the queue of the thread; thread-safe, keeps posting
// order. False when the thread has no queue (never looked, or has ended).
bool PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);

// Looks for the oldest message of the calling thread's queue whose number lies
// in filterMin..filterMax (both 0: any) and, for a window other than 0, that
// was posted for that window. Never blocks. With PM_REMOVE the message is
// taken out of the queue. Creates the calling thread's queue.
bool PeekMessage(LPMSG msg, HWND wnd, UINT filterMin, UINT filterMax, UINT removeMsg);

// Waits until one of the events is signalled (WAIT_OBJECT_0 + its index; an
// auto-reset event is reset by it), or, when wakeMask includes posted
// messages, until the calling thread's queue holds a message
// (WAIT_OBJECT_0 + count), or until the time is up (WAIT_TIMEOUT; INFINITE:
// none). Events are looked at before the queue, in index order. Null events
// give WAIT_FAILED. Creates the calling thread's queue.
DWORD MsgWaitForMultipleObjects(DWORD count, TEvent* const* events, DWORD milliseconds,
                                DWORD wakeMask);

// Worker queues hold thread messages only, which belong to no window: there
// is nothing to translate, and dispatching one has no receiver (result 0).
// Window messages are posted to notification windows on the GUI thread.
bool TranslateMessage(const MSG* msg);
LRESULT DispatchMessage(const MSG* msg);

namespace platform {

// A fresh thread identifier, for a thread object that must know the
// identifier of its thread before the thread runs.
DWORD NewThreadId();
// Makes id the calling thread's identifier; called first thing in a new thread.
void AdoptThreadId(DWORD id);
// Removes the calling thread's queue (messages posted later are refused).
void DestroyThreadQueue();

}  // namespace platform
