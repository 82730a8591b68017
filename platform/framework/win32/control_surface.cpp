#include "platform/framework/win32/control_surface.h"

#include <algorithm>

#include "platform/framework/form.h"
#include "platform/framework/win32/native_form.h"
#include "platform/framework/win32/native_text.h"
#include "platform/gdi/win32/native_gdi.h"

namespace platform::win32 {
namespace {

ControlSurface* pressed_surface = nullptr;  // GUI thread only

FontSpec SpecOf(const TFont& font) {
  FontSpec chosen;
  // The layouts' bitmap dialog font comes in a few sizes only; Arial, which
  // stands in for it on the other platform too, comes closest in size.
  chosen.name = font.Name == "MS Sans Serif" ? "Arial" : font.Name;
  chosen.height = font.Height;
  chosen.bold = (font.Style & fsBold) != 0;
  chosen.italic = (font.Style & fsItalic) != 0;
  chosen.underline = (font.Style & fsUnderline) != 0;
  chosen.strike_out = (font.Style & fsStrikeOut) != 0;
  return chosen;
}

}  // namespace

ControlSurface::~ControlSurface() {
  if (pressed_surface == this) pressed_surface = nullptr;
}

bool ControlSurface::Pressed() const {
  return pressed_surface == this;
}

ControlSurface* ControlSurface::PressedSurface() {
  return pressed_surface;
}

void ControlSurface::SetPressed(bool pressed) {
  if (pressed)
    pressed_surface = this;
  else if (pressed_surface == this)
    pressed_surface = nullptr;
}

TCustomForm* FormOf(const TControl* control) {
  for (const TControl* c = control; c; c = c->GetParent())
    if (auto* form = dynamic_cast<const TCustomForm*>(c)) return const_cast<TCustomForm*>(form);
  return nullptr;
}

TRect BoundsInForm(const TControl* control) {
  int x = 0, y = 0;
  for (const TControl* c = control; c && !dynamic_cast<const TCustomForm*>(c); c = c->GetParent()) {
    x += c->GetLeft();
    y += c->GetTop();
  }
  return TRect{x, y, x + control->GetWidth(), y + control->GetHeight()};
}

void InvalidateInForm(const TControl* control, const TRect& area) {
  TCustomForm* form = FormOf(control);
  if (form && form->Widget() && form->Widget()->window && !area.IsEmpty())
    InvalidateFormArea(form->Widget()->window, area.Left, area.Top, area.Right, area.Bottom);
}

void InvalidateControl(const TControl* control, const TRect& area) {
  TCustomForm* form = FormOf(control);
  if (!form || !form->Widget() || !form->Widget()->window) return;
  if (form != control) {
    // Only what the control shows of itself: it may lie on a hidden parent.
    for (const TControl* c = control; c != form; c = c->GetParent())
      if (!c->GetVisible()) return;
  }
  const TRect bounds = BoundsInForm(control);
  const TRect r =
      form == control ? area : IntersectRect(OffsetRect(area, bounds.Left, bounds.Top), bounds);
  InvalidateInForm(control, r);
}

void DrawLine(HDC dc, int x1, int y1, int x2, int y2, TColor color) {
  GdiFillRect(dc,
              Rect(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2) + 1, std::max(y1, y2) + 1),
              color);
}

void DrawFrame(HDC dc, int x, int y, int w, int h, TColor color) {
  DrawLine(dc, x, y, x + w, y, color);
  DrawLine(dc, x, y + h, x + w, y + h, color);
  DrawLine(dc, x, y, x, y + h, color);
  DrawLine(dc, x + w, y, x + w, y + h, color);
}

void DrawText(HDC dc, const TFont& font, const TRect& rect, unsigned flags,
              const std::string& text) {
  if (!dc || text.empty()) return;
  SaveState(dc->dc);
  if (dc->clipped) {
    const TRect c = dc->clip;
    ClipTo(dc->dc, c.Left + dc->origin_x, c.Top + dc->origin_y, c.Right + dc->origin_x,
           c.Bottom + dc->origin_y);
  }
  DrawTextLine(dc->dc, SpecOf(font), static_cast<std::uint32_t>(ColorToRGB(font.Color)),
               rect.Left + dc->origin_x, rect.Top + dc->origin_y, rect.Right + dc->origin_x,
               rect.Bottom + dc->origin_y, flags, text);
  RestoreState(dc->dc);
}

void TextSize(const TFont& font, const std::string& text, int* width, int* height) {
  MeasureText(SpecOf(font), text, width, height);
}

}  // namespace platform::win32
