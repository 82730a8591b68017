#include "platform/framework/application.h"
#include "platform/framework/form.h"
#include "platform/messages/win32/native_windows.h"

// Kept apart from the rest of the application: only a program with windows
// runs the loop, and only it needs the forms.

void TApplication::Run() {
  platform::EnsureToolkit();
  if (!main_form_) return;
  main_form_->Show();
  if (terminated_) return;
  platform::win32::PumpUntilQuit();
}
