#include "platform/framework/status_bar.h"

#include <QPainter>
#include <algorithm>

#include "platform/framework/properties.h"
#include "platform/framework/qt/control_widget.h"

namespace {

// Panel texts keep this margin to the field's edge.
constexpr int kMargin = 2;

void DrawField(QPainter& p, const QRect& r, TStatusPanelBevel bevel) {
  if (bevel == pbNone) return;
  const QColor light = ToQColor(clBtnHighlight);
  const QColor shadow = ToQColor(clBtnShadow);
  const QColor top_left = bevel == pbLowered ? shadow : light;
  const QColor bottom_right = bevel == pbLowered ? light : shadow;
  p.setPen(top_left);
  p.drawLine(r.left(), r.top(), r.right(), r.top());
  p.drawLine(r.left(), r.top(), r.left(), r.bottom());
  p.setPen(bottom_right);
  p.drawLine(r.right(), r.top(), r.right(), r.bottom());
  p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
}

void DrawText(QPainter& p, const QRect& field, const std::string& text, TAlignment alignment) {
  int flags = Qt::AlignVCenter | Qt::TextSingleLine;
  flags |= alignment == taCenter         ? Qt::AlignHCenter
           : alignment == taRightJustify ? Qt::AlignRight
                                         : Qt::AlignLeft;
  p.drawText(field.adjusted(kMargin, 0, -kMargin, 0), flags, QString::fromStdString(text));
}

}  // namespace

TStatusPanel::TStatusPanel(TStatusBar* bar) : TComponent(nullptr), bar_(bar) {}

TStatusBar::TStatusBar(TComponent* owner) : TControl(owner) {
  auto* w = new ControlWidget();
  w->paint = [this, w](QPainter& p) {
    p.fillRect(w->rect(), ToQColor(GetColor()));
    p.setFont(ToQFont(Font()));
    p.setPen(ToQColor(Font().Color));
    if (simple_panel_) {
      DrawText(p, w->rect(), simple_text_, taLeftJustify);
      return;
    }
    for (int i = 0; i < PanelCount(); ++i) {
      const TStatusPanel& panel = *Panels(i);
      const QRect field(PanelLeft(i), 0, PanelRight(i) - PanelLeft(i), w->height());
      if (field.width() <= 0) continue;
      DrawField(p, field, panel.GetBevel());
      p.setPen(ToQColor(Font().Color));
      DrawText(p, field, panel.GetText(), panel.GetAlignment());
    }
  };
  SetWidget(w);
  SetBounds(0, 0, 100, 19);
}

TStatusBar::~TStatusBar() = default;
