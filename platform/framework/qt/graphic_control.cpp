#include "platform/framework/graphic_control.h"

#include <QPainter>

#include "platform/framework/properties.h"
#include "platform/framework/qt/control_widget.h"
#include "platform/gdi/qt/gdi_painter.h"
#include "platform/messages/messages.h"

TGraphicControl::TGraphicControl(TComponent* owner) : TControl(owner) {
  auto* w = new ControlWidget();
  w->paint = [this, w](QPainter& p) {
    TDeviceContext dc(&p);
    // The toolkit clips to what has to be painted; the routine learns its
    // bounds through the clip rectangle and may leave the rest undrawn.
    const QRect& a = w->paintArea();
    GdiSetClip(&dc, TRect{a.left(), a.top(), a.left() + a.width(), a.top() + a.height()});
    if (now_routine_)
      RunPaint(&dc, *now_routine_);
    else
      RunPaint(&dc, [this] { Paint(); });
  };
  SetWidget(w);
}

TGraphicControl::~TGraphicControl() = default;

void TGraphicControl::SetOpaque(bool on) {
  Widget()->setAttribute(Qt::WA_OpaquePaintEvent, on);
}

bool TGraphicControl::Showing() const {
  return GetVisible() && GetParent() && Widget() && Widget()->isVisible();
}

bool TGraphicControl::PaintNow(const TRect& area, const std::function<void()>& routine) {
  if (!Showing()) return false;
  TRect r = IntersectRect(area, TRect{0, 0, GetWidth(), GetHeight()});
  if (r.IsEmpty()) return false;
  const std::function<void()>* previous = now_routine_;
  now_routine_ = &routine;
  Widget()->repaint(r.Left, r.Top, r.Width(), r.Height());
  now_routine_ = previous;
  return true;
}

void TGraphicControl::PaintSoon(const TRect& area) {
  if (!Showing()) return;
  TRect r = IntersectRect(area, TRect{0, 0, GetWidth(), GetHeight()});
  if (!r.IsEmpty()) Widget()->update(r.Left, r.Top, r.Width(), r.Height());
}
