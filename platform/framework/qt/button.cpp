#include "platform/framework/button.h"

#include <QPainter>

#include "platform/framework/properties.h"
#include "platform/framework/qt/control_widget.h"

namespace {

// Two-pixel edges: light over dark for a raised face, the reverse when pressed.
void DrawEdges(QPainter& p, const QRect& r, bool pressed) {
  const auto frame = [&p](const QRect& box, TColor top_left, TColor bottom_right) {
    p.setPen(ToQColor(top_left));
    p.drawLine(box.left(), box.top(), box.right() - 1, box.top());
    p.drawLine(box.left(), box.top(), box.left(), box.bottom() - 1);
    p.setPen(ToQColor(bottom_right));
    p.drawLine(box.right(), box.top(), box.right(), box.bottom());
    p.drawLine(box.left(), box.bottom(), box.right(), box.bottom());
  };
  if (pressed) {
    frame(r, cl3DDkShadow, clBtnHighlight);
    frame(r.adjusted(1, 1, -1, -1), clBtnShadow, cl3DLight);
  } else {
    frame(r, clBtnHighlight, cl3DDkShadow);
    frame(r.adjusted(1, 1, -1, -1), cl3DLight, clBtnShadow);
  }
}

}  // namespace

TButton::TButton(TComponent* owner) : TControl(owner) {
  auto* w = new ControlWidget();
  w->click = [this] { Click(); };
  w->paint = [this, w](QPainter& p) {
    const bool pressed = w->pressed();
    p.fillRect(w->rect(), ToQColor(clBtnFace));
    DrawEdges(p, w->rect(), pressed);
    p.setFont(ToQFont(Font()));
    p.setPen(ToQColor(Font().Color));
    // The caption moves a pixel down and right while the button is held.
    const QRect text = pressed ? w->rect().translated(1, 1) : w->rect();
    p.drawText(text, Qt::AlignCenter | Qt::TextSingleLine, QString::fromStdString(caption_));
  };
  SetWidget(w);
  SetBounds(0, 0, 75, 25);
}
