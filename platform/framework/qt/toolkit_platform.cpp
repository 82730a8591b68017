#include "platform/framework/toolkit_platform.h"

#include <QGuiApplication>

namespace platform {

namespace {

bool Named(const char* value) {
  return value != nullptr && value[0] != '\0';
}

}  // namespace

std::string ToolkitPlatformFor(const char* display, const char* wayland_display,
                               const char* chosen) {
  if (Named(chosen)) return "";
  if (Named(display)) return Named(wayland_display) ? "xcb;wayland" : "xcb";
  if (Named(wayland_display)) return "wayland";
  return "offscreen";
}

bool WindowPositionsKnown() {
  return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

}  // namespace platform
