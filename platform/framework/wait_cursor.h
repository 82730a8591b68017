#pragma once

// Shows the wait cursor over the whole application while it lives; the cursor
// that was shown before comes back when it goes, also when an exception
// leaves the scope. Nothing happens off the GUI thread or without a toolkit.
class TWaitCursor {
 public:
  TWaitCursor();
  ~TWaitCursor();
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;

  // How many wait cursors are shown at this moment (for tests).
  static int Count();

 private:
  bool shown_ = false;
};
