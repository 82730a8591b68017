#include "platform/framework/graphic_control.h"

#include "platform/framework/form.h"
#include "platform/framework/properties.h"
#include "platform/framework/win32/control_surface.h"
#include "platform/framework/win32/native_form.h"
#include "platform/gdi/win32/native_gdi.h"
#include "platform/messages/messages.h"

TGraphicControl::TGraphicControl(TComponent* owner) : TControl(owner) {
  auto* w = new platform::win32::ControlSurface();
  // The form clips to what has to be painted; the routine learns its bounds
  // through the clip rectangle and may leave the rest undrawn.
  w->paint = [this](HDC dc) { RunPaint(dc, [this] { Paint(); }); };
  SetWidget(w);
}

TGraphicControl::~TGraphicControl() = default;

void TGraphicControl::SetOpaque(bool /*on*/) {
  // The form composes every paint off the screen: nothing shows through anyway.
}

bool TGraphicControl::Showing() const {
  if (!GetVisible() || !GetParent()) return false;
  TCustomForm* form = platform::win32::FormOf(this);
  if (!form || !platform::win32::FormShown(form->Widget()->window)) return false;
  for (const TControl* c = GetParent(); c != form; c = c->GetParent())
    if (!c->GetVisible()) return false;
  return true;
}

bool TGraphicControl::PaintNow(const TRect& area, const std::function<void()>& routine) {
  if (!Showing()) return false;
  const TRect r = IntersectRect(area, TRect{0, 0, GetWidth(), GetHeight()});
  if (r.IsEmpty()) return false;
  const TRect bounds = platform::win32::BoundsInForm(this);
  platform::win32::DrawOnForm(platform::win32::FormOf(this)->Widget()->window,
                              [&](std::uintptr_t system_dc) {
                                TDeviceContext dc(system_dc);
                                dc.origin_x = bounds.Left;
                                dc.origin_y = bounds.Top;
                                GdiSetClip(&dc, r);
                                RunPaint(&dc, routine);
                              });
  return true;
}

void TGraphicControl::PaintSoon(const TRect& area) {
  if (Showing()) platform::win32::InvalidateControl(this, area);
}
