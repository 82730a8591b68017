#pragma once

#include <memory>

#include "platform/wave/wave_hdr.h"

namespace platform {

// Delivers the notifications of one open wave device in the order they were
// posted: to the driver callback (CALLBACK_FUNCTION: a WAVECALLBACK with the
// device handle, the message, the instance value and the header, called from
// a thread of the notifier's own), to a notification window (CALLBACK_WINDOW:
// PostMessage with wParam = the device handle, lParam = the header) or to a
// thread's queue (CALLBACK_THREAD: PostThreadMessage, the same parameters);
// CALLBACK_NULL delivers nothing. Posting to a window or a thread never
// blocks, so those are posted at once by the thread that posts the
// notification, without a thread in between. Nothing it delivers to waits on
// the GUI thread.
class WaveNotifier {
 public:
  // kind is the CALLBACK_* value; target the function, window or thread id.
  WaveNotifier(DWORD kind, DWORD_PTR target, DWORD_PTR instance);
  // Ends the thread if Finish was not called (delivering what is posted).
  ~WaveNotifier();
  WaveNotifier(const WaveNotifier&) = delete;
  WaveNotifier& operator=(const WaveNotifier&) = delete;

  // Starts the thread; notifications carry this handle.
  void Start(void* handle);
  // Thread-safe. Posting order is delivery order.
  void Post(UINT msg, WAVEHDR* header);
  // The same for recorded or played data: a window gets it with its next
  // frame tick (PostMessageDeferred), so that the data of many devices wakes
  // the GUI thread once a display frame.
  void PostData(UINT msg, WAVEHDR* header);
  // Posts the last notification and returns once every notification is
  // delivered. Called from inside a notification (on the notifier's own
  // thread), it delivers the rest there; the thread ends when the
  // notification in progress returns.
  void Finish(UINT msg);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace platform
