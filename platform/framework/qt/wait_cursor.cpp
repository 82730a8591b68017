#include "platform/framework/wait_cursor.h"

#include <QCursor>
#include <QGuiApplication>

#include "platform/threads/thread.h"

namespace {

int shown = 0;  // GUI thread only

}  // namespace

TWaitCursor::TWaitCursor() {
  if (!QGuiApplication::instance() || !platform::IsGuiThread()) return;
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  shown_ = true;
  ++shown;
}

TWaitCursor::~TWaitCursor() {
  if (!shown_) return;
  QGuiApplication::restoreOverrideCursor();
  --shown;
}

int TWaitCursor::Count() {
  return shown;
}
