#include "platform/framework/status_bar.h"

#include <algorithm>

#include "platform/framework/properties.h"

// The parts of the status bar every toolkit shares; its drawing is in the
// toolkit's binding (qt/, win32/).

namespace {

// Panels are separated by this gap.
constexpr int kGap = 2;

}  // namespace

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

std::string TStatusBar::DefaultAccessibleName() const {
  if (simple_panel_) return simple_text_;
  std::string name;
  for (const auto& panel : panels_) {
    if (panel->GetText().empty()) continue;
    if (!name.empty()) name += ' ';
    name += panel->GetText();
  }
  return name;
}
