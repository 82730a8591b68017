#include "platform/framework/button.h"

#include "platform/framework/properties.h"
#include "platform/framework/win32/control_surface.h"
#include "platform/framework/win32/native_text.h"

namespace {

// Two-pixel edges: light over dark for a raised face, the reverse when pressed.
void DrawEdges(HDC dc, int w, int h, bool pressed) {
  using platform::win32::DrawLine;
  const auto frame = [dc](int l, int t, int r, int b, TColor top_left, TColor bottom_right) {
    DrawLine(dc, l, t, r - 1, t, top_left);
    DrawLine(dc, l, t, l, b - 1, top_left);
    DrawLine(dc, r, t, r, b, bottom_right);
    DrawLine(dc, l, b, r, b, bottom_right);
  };
  if (pressed) {
    frame(0, 0, w - 1, h - 1, cl3DDkShadow, clBtnHighlight);
    frame(1, 1, w - 2, h - 2, clBtnShadow, cl3DLight);
  } else {
    frame(0, 0, w - 1, h - 1, clBtnHighlight, cl3DDkShadow);
    frame(1, 1, w - 2, h - 2, cl3DLight, clBtnShadow);
  }
}

}  // namespace

TButton::TButton(TComponent* owner) : TControl(owner) {
  auto* w = new platform::win32::ControlSurface();
  w->click = [this] { Click(); };
  w->paint = [this, w](HDC dc) {
    const bool pressed = w->Pressed();
    GdiFillRect(dc, Rect(0, 0, GetWidth(), GetHeight()), clBtnFace);
    DrawEdges(dc, GetWidth(), GetHeight(), pressed);
    // The caption moves a pixel down and right while the button is held.
    const TRect text =
        pressed ? Rect(1, 1, GetWidth() + 1, GetHeight() + 1) : Rect(0, 0, GetWidth(), GetHeight());
    platform::win32::DrawText(
        dc, Font(), text, platform::win32::kTextCenter | platform::win32::kTextMiddle, caption_);
  };
  SetWidget(w);
  SetBounds(0, 0, 75, 25);
}
