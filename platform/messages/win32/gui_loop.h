#pragma once

// The GUI thread of a Windows process: the thread that starts the application
// (or makes the first notification window) runs the message loop every
// notification window is served by.

#include <string>

namespace platform::win32 {

// Makes the calling thread the GUI thread, unless there is one already.
void ClaimGuiThread();
bool HaveGuiThread();
bool OnGuiThread();
// Runs proc on the GUI thread when its loop gets to it; any thread. False
// when there is no GUI thread.
bool PostToGuiThread(void (*proc)());
// The caption of the application's error reports.
void SetApplicationCaption(const std::string& title);

}  // namespace platform::win32
