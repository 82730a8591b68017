#include "platform/framework/application.h"

#include <string>

#include "platform/framework/win32/native_process.h"
#include "platform/messages/messages.h"
#include "platform/messages/win32/gui_loop.h"
#include "platform/messages/win32/native_windows.h"

// The application on Windows: the GUI thread is the one that starts it; its
// message loop is the system's.

void TApplication::Initialize(int&, char**) {
  platform::win32::ClaimGuiThread();
}

void TApplication::Terminate() {
  terminated_ = true;
  if (platform::win32::OnGuiThread()) platform::win32::Quit();
}

void TApplication::ProcessMessages() {
  if (platform::win32::OnGuiThread()) platform::win32::PumpPending();
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  platform::win32::SetApplicationCaption(title);
}

std::string TApplication::ExeName() const {
  return platform::win32::ModuleFileName();
}

std::string TApplication::ExeDir() const {
  std::string dir = ExeName();
  dir.erase(dir.find_last_of("\\/") + 1);
  return dir;
}

namespace platform {

void EnsureToolkit() {
  win32::ClaimGuiThread();
}

}  // namespace platform
