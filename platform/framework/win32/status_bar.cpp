#include "platform/framework/status_bar.h"

#include <algorithm>

#include "platform/framework/properties.h"
#include "platform/framework/win32/control_surface.h"
#include "platform/framework/win32/native_text.h"

namespace {

// Panel texts keep this margin to the field's edge.
constexpr int kMargin = 2;

void DrawField(HDC dc, const TRect& r, TStatusPanelBevel bevel) {
  using platform::win32::DrawLine;
  if (bevel == pbNone) return;
  const TColor top_left = bevel == pbLowered ? clBtnShadow : clBtnHighlight;
  const TColor bottom_right = bevel == pbLowered ? clBtnHighlight : clBtnShadow;
  const int right = r.Right - 1, bottom = r.Bottom - 1;
  DrawLine(dc, r.Left, r.Top, right, r.Top, top_left);
  DrawLine(dc, r.Left, r.Top, r.Left, bottom, top_left);
  DrawLine(dc, right, r.Top, right, bottom, bottom_right);
  DrawLine(dc, r.Left, bottom, right, bottom, bottom_right);
}

void DrawPanelText(HDC dc, const TFont& font, const TRect& field, const std::string& text,
                   TAlignment alignment) {
  using namespace platform::win32;
  const unsigned flags = kTextMiddle | (alignment == taCenter         ? kTextCenter
                                        : alignment == taRightJustify ? kTextRight
                                                                      : kTextLeft);
  DrawText(dc, font, Rect(field.Left + kMargin, field.Top, field.Right - kMargin, field.Bottom),
           flags, text);
}

}  // namespace

TStatusPanel::TStatusPanel(TStatusBar* bar) : TComponent(nullptr), bar_(bar) {}

TStatusBar::TStatusBar(TComponent* owner) : TControl(owner) {
  auto* w = new platform::win32::ControlSurface();
  w->paint = [this](HDC dc) {
    GdiFillRect(dc, Rect(0, 0, GetWidth(), GetHeight()), GetColor());
    if (simple_panel_) {
      DrawPanelText(dc, Font(), Rect(0, 0, GetWidth(), GetHeight()), simple_text_, taLeftJustify);
      return;
    }
    for (int i = 0; i < PanelCount(); ++i) {
      const TStatusPanel& panel = *Panels(i);
      const TRect field = Rect(PanelLeft(i), 0, PanelRight(i), GetHeight());
      if (field.Width() <= 0) continue;
      DrawField(dc, field, panel.GetBevel());
      DrawPanelText(dc, Font(), field, panel.GetText(), panel.GetAlignment());
    }
  };
  SetWidget(w);
  SetBounds(0, 0, 100, 19);
}

TStatusBar::~TStatusBar() = default;
