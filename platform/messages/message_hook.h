#pragma once

// What every binding of the messages shares: the message-box hook and the
// answer of a run that shows no dialog.

#include <string>

#include "platform/messages/messages.h"

namespace platform {

// True, with the hook's answer, while a message-box hook is set.
bool AnswerByHook(const std::string& text, const std::string& caption, UINT type, int* answer);
// Writes "caption: text" to standard error and answers as the default button
// would (IDYES for MB_YESNO, else IDOK).
int AnswerOnStandardError(const std::string& text, const std::string& caption, UINT type);

// Counts one message box as open while it lives (see OpenMessageBoxes); the
// last one to go hands the actions of AfterMessageBoxes to the message loop.
class OpenMessageBox {
 public:
  OpenMessageBox();
  ~OpenMessageBox();
  OpenMessageBox(const OpenMessageBox&) = delete;
  OpenMessageBox& operator=(const OpenMessageBox&) = delete;
};

// The binding's part of CloseMessageBoxes: closes its open dialogs.
void CloseOpenDialogs();
// The binding's part of ShowException: the message box itself.
void ShowExceptionBox(const std::exception& e);

}  // namespace platform
