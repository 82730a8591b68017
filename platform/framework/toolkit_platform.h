#pragma once

#include <string>

namespace platform {

// Linux: the toolkit platform to start on, from the environment's DISPLAY,
// WAYLAND_DISPLAY and QT_QPA_PLATFORM (null or empty when unset). Empty keeps
// the platform the user chose. Wherever an X display is named it is used,
// also in a Wayland session: only there can the program place its windows and
// learn where they are; Wayland is the fallback should that X display not
// open. Wayland where it alone is named; off-screen without any display.
std::string ToolkitPlatformFor(const char* display, const char* wayland_display,
                               const char* chosen);

// Whether the running toolkit platform lets the program place its windows and
// report where they are. Not on Wayland, where the compositor alone decides.
bool WindowPositionsKnown();

}  // namespace platform
