#pragma once

// What stands for a visual control on Windows: controls are drawn into their
// form's window (one system window per form), so that a transparent label
// shows what lies beneath it, as on the other platform. The form paints its
// controls bottom to top and routes the mouse to the topmost one under it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/framework/graphics.h"
#include "platform/framework/win32/native_form.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/win32/gdi_context.h"

class TControl;
class TCustomForm;

namespace platform::win32 {

class ControlSurface {
 public:
  ControlSurface() = default;
  ~ControlSurface();
  ControlSurface(const ControlSurface&) = delete;
  ControlSurface& operator=(const ControlSurface&) = delete;

  // Paints the control: dc's origin is the control's top-left corner and its
  // clip rectangle the part to paint (control coordinates). GUI thread.
  std::function<void(HDC dc)> paint;
  // A press and a release over the control; GUI thread.
  std::function<void()> click;
  // The control it stands for, and where it was last placed in its form.
  TControl* control = nullptr;
  TRect placed;
  // Mouse events go to what lies beneath it.
  bool mouse_transparent = false;
  // The form's system window and what it reports (forms only).
  std::uintptr_t window = 0;
  std::unique_ptr<FormEvents> events;
  // A picture's top-down 32-bit pixels, and the same darkened as a held
  // picture button shows them (image controls only).
  int picture_width = 0, picture_height = 0;
  std::vector<std::uint32_t> picture, picture_pressed;

  // Held down by the mouse now.
  bool Pressed() const;
  void SetPressed(bool pressed);
  // The surface held down by the mouse, or null.
  static ControlSurface* PressedSurface();
};

// The form a control is drawn in (itself for a form), or null.
TCustomForm* FormOf(const TControl* control);
// The control's bounds in its form's client area.
TRect BoundsInForm(const TControl* control);
// Asks for the area (its form's client coordinates) of the control's form to
// be painted soon.
void InvalidateInForm(const TControl* control, const TRect& area);
// Asks for the part (control coordinates) of the control to be painted soon.
void InvalidateControl(const TControl* control, const TRect& area);

// Drawing for the controls' paint routines: coordinates are the device
// context's (its origin applied); lines are one pixel wide and horizontal or
// vertical, both ends included.
void DrawLine(HDC dc, int x1, int y1, int x2, int y2, TColor color);
// The frame of the rectangle (x, y) … (x + w, y + h), both edges included.
void DrawFrame(HDC dc, int x, int y, int w, int h, TColor color);
// One line of text in the rectangle (flags: platform::win32::TextFlags).
void DrawText(HDC dc, const TFont& font, const TRect& rect, unsigned flags,
              const std::string& text);
// Width and line height of the text in the font.
void TextSize(const TFont& font, const std::string& text, int* width, int* height);

}  // namespace platform::win32
