#pragma once

// The system's top-level windows with plain types (see
// messages/win32/native_windows.h). Coordinates inside a window are client
// coordinates; positions of windows are the outer frame's on the desktop.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform::win32 {

// The keys a window acts on; others are the system's.
enum FormKey { kKeyOther, kKeyTab, kKeySpace, kKeyReturn, kKeyEscape };

// What a window reports; every call runs on the window's (the GUI) thread.
class FormEvents {
 public:
  virtual ~FormEvents() = default;
  // Paint the area (left, top, right, bottom) into dc.
  virtual void Paint(std::uintptr_t dc, int left, int top, int right, int bottom) = 0;
  virtual void MouseDown(int x, int y) = 0;
  virtual void MouseUp(int x, int y) = 0;
  // Whether the pointing hand is the cursor at (x, y).
  virtual bool HandAt(int x, int y) = 0;
  // The user or the system asks to close the window.
  virtual void CloseRequested() = 0;
  // A key went down (repeated: held down); true when the window acted on it.
  virtual bool KeyDown(FormKey key, bool shift, bool repeated) = 0;
  // The window gained the keyboard.
  virtual void Activated() = 0;
  // An accessibility client asks for an object (WM_GETOBJECT's parameters);
  // the message's result, 0 for the system's default.
  virtual std::intptr_t ObjectAsked(std::uintptr_t flags, std::intptr_t object_id) = 0;
};

enum FormFrame { kFrameNone, kFrameFixed, kFrameSizeable, kFrameDialog, kFrameTool };

struct FormStyle {
  FormFrame frame = kFrameSizeable;
  bool system_menu = true, minimize = true, maximize = true;
  bool stay_on_top = false;
};

// A hidden top-level window whose events go to events; 0 on failure.
std::uintptr_t CreateForm(FormEvents* events, const FormStyle& style);
void DestroyForm(std::uintptr_t wnd);
void SetFormStyle(std::uintptr_t wnd, const FormStyle& style);
void SetFormCaption(std::uintptr_t wnd, const std::string& caption);
// Puts the window's outer frame at (left, top) with a client area of width × height.
void PlaceForm(std::uintptr_t wnd, int left, int top, int width, int height);
void ShowForm(std::uintptr_t wnd, bool show);
// Brings the window to the front with the keyboard.
void ActivateForm(std::uintptr_t wnd);
bool FormShown(std::uintptr_t wnd);
// Where the window's outer frame is now.
bool FormPosition(std::uintptr_t wnd, int* left, int* top);
// Asks for the client area to be painted soon.
void InvalidateFormArea(std::uintptr_t wnd, int left, int top, int right, int bottom);
// Runs draw with a device context on the window's client area now.
void DrawOnForm(std::uintptr_t wnd, const std::function<void(std::uintptr_t dc)>& draw);
// The colours (0x00BBGGRR) of the client area's pixels in the area, row by row.
std::vector<std::uint32_t> ReadFormPixels(std::uintptr_t wnd, int left, int top, int width,
                                          int height);

struct ScreenArea {
  int left, top, width, height;
};
std::vector<ScreenArea> Screens();
ScreenArea PrimaryScreen();

}  // namespace platform::win32
