#include "platform/framework/wait_cursor.h"

#include "platform/framework/win32/native_cursor.h"
#include "platform/threads/thread.h"

namespace {

int shown = 0;          // GUI thread only
std::uintptr_t before;  // GUI thread only: the cursor the first one replaced

}  // namespace

TWaitCursor::TWaitCursor() {
  if (!platform::IsGuiThread()) return;
  const std::uintptr_t previous = platform::win32::ShowWaitCursor();
  if (shown++ == 0) before = previous;
  shown_ = true;
}

TWaitCursor::~TWaitCursor() {
  if (!shown_) return;
  if (--shown == 0) platform::win32::RestoreCursor(before);
}

int TWaitCursor::Count() {
  return shown;
}
