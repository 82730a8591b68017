#include "platform/framework/status_bar.h"

#include <QPainter>
#include <algorithm>

#include "platform/framework/properties.h"
#include "platform/framework/qt/control_widget.h"

namespace {

// Panels are separated by this gap; their text keeps this margin to the edge.
constexpr int kGap = 2;
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

void TStatusPanel::SetText(const std::string& v) {
  if (v == text_) return;
  text_ = v;
  bar_->Invalidate();
}

void TStatusPanel::SetWidth(int v) {
  v = std::max(v, 0);
  if (v == width_) return;
  width_ = v;
  bar_->Invalidate();
}

void TStatusPanel::SetAlignment(TAlignment v) {
  if (v == alignment_) return;
  alignment_ = v;
  bar_->Invalidate();
}

void TStatusPanel::SetBevel(TStatusPanelBevel v) {
  if (v == bevel_) return;
  bevel_ = v;
  bar_->Invalidate();
}

const TClassInfo& TStatusPanel::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TStatusPanel>("TStatusPanel", &TComponent::StaticClassInfo())
          .Str("Text", &TStatusPanel::GetText, &TStatusPanel::SetText)
          .Int("Width", &TStatusPanel::GetWidth, &TStatusPanel::SetWidth)
          .Enum("Alignment", {"taLeftJustify", "taRightJustify", "taCenter"},
                &TStatusPanel::GetAlignment, &TStatusPanel::SetAlignment)
          .Enum("Bevel", {"pbNone", "pbLowered", "pbRaised"}, &TStatusPanel::GetBevel,
                &TStatusPanel::SetBevel)
          .Build();
  return info;
}

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

TStatusPanel* TStatusBar::AddPanel() {
  panels_.push_back(std::make_unique<TStatusPanel>(this));
  Invalidate();
  return panels_.back().get();
}

void TStatusBar::ClearPanels() {
  panels_.clear();
  Invalidate();
}

int TStatusBar::PanelLeft(int i) const {
  int left = 0;
  for (int k = 0; k < i; ++k) left += Panels(k)->GetWidth() + kGap;
  return std::min(left, GetWidth());
}

int TStatusBar::PanelRight(int i) const {
  if (i == PanelCount() - 1) return GetWidth();
  return std::min(PanelLeft(i) + Panels(i)->GetWidth(), GetWidth());
}

void TStatusBar::SetSimplePanel(bool v) {
  if (v == simple_panel_) return;
  simple_panel_ = v;
  Invalidate();
}

void TStatusBar::SetSimpleText(const std::string& v) {
  if (v == simple_text_) return;
  simple_text_ = v;
  Invalidate();
}

const TClassInfo& TStatusBar::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TStatusBar>("TStatusBar", &TControl::StaticClassInfo())
          .Creatable()
          .Collection("Panels", &TStatusBar::PanelCount, &TStatusBar::ClearPanels,
                      &TStatusBar::AddPanel)
          .Bool("SimplePanel", &TStatusBar::GetSimplePanel, &TStatusBar::SetSimplePanel)
          .Str("SimpleText", &TStatusBar::GetSimpleText, &TStatusBar::SetSimpleText)
          .Build();
  return info;
}
